// The texts whose rendered rasters are kept in text_rasters.txt: every size
// factor, every text colour, tabs, ampersands, the empty text, Chinese and
// long texts, and the texts the other tests stamp.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <cstdint>

#include "pictures/raster/bitmap.h"

namespace sigillon::testing {

struct TextRasterCase {
    const char* name;  // the key in text_rasters.txt
    const char* text;  // UTF-8
    int colour;        // index into kTextColours
    int sizeFactor;
};

inline constexpr TextRasterCase kTextRasterCases[] = {
    {"size1", "\xC2\xA9 Sigillon 2026", 0, 1},
    {"size2", "\xC2\xA9 Sigillon 2026", 0, 2},
    {"size3", "\xC2\xA9 Sigillon 2026", 0, 3},
    {"size4", "\xC2\xA9 Sigillon 2026", 0, 4},
    {"size5", "\xC2\xA9 Sigillon 2026", 0, 5},
    {"size6", "\xC2\xA9 Sigillon 2026", 0, 6},
    {"size7", "\xC2\xA9 Sigillon 2026", 0, 7},
    {"size8", "\xC2\xA9 Sigillon 2026", 0, 8},
    {"size9", "\xC2\xA9 Sigillon 2026", 0, 9},
    {"black", "Abc \xC2\xA9", 0, 3},
    {"grey", "Abc \xC2\xA9", 1, 3},
    {"blue", "Abc \xC2\xA9", 2, 3},
    {"red", "Abc \xC2\xA9", 3, 3},
    {"yellow", "Abc \xC2\xA9", 4, 3},
    {"green", "Abc \xC2\xA9", 5, 3},
    {"purple", "Abc \xC2\xA9", 6, 3},
    {"tab", "a\tb", 0, 3},
    {"tab-leading", "\tlead", 2, 2},
    {"tabs-two", "x\t\ty", 3, 1},
    {"tab-size9", "\xC2\xA9\t2026", 6, 9},
    {"amp-inside", "A&B", 0, 3},
    {"amp-leading", "&a", 3, 5},
    {"amp-trailing", "a&", 0, 3},
    {"amp-doubled", "&&", 0, 3},
    {"amp-doubled-inside", "a&&b", 0, 3},
    {"amp-one", "a&b", 0, 3},
    {"amp-four", "&&&&", 1, 3},
    {"amp-three", "&&&x", 0, 4},
    {"amp-many", "a&b&c", 5, 2},
    {"empty", "", 0, 3},
    {"empty-size9", "", 0, 9},
    {"space", " ", 0, 3},
    {"cjk", "\xE4\xB8\xAD\xE6\x96\x87\xE6\xB0\xB4\xE5\x8D\xB0", 0, 3},
    {"cjk-mixed", "\xE7\x89\x88\xE6\x9D\x83\xE6\x89\x80\xE6\x9C\x89 \xC2\xA9 2026", 3, 4},
    {"cjk-size1", "\xE9\x82\xAE\xE7\xA5\xA8 Sigillon", 2, 1},
    {"cjk-size9", "\xE5\xA4\xA7\xE5\xB0\x8F", 6, 9},
    {"long-size9",
     "\xC2\xA9 Sigillon  WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", 0, 9},
    {"long-size1",
     "\xC2\xA9 Sigillon  WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW", 4, 1},
    {"long-mixed", "The quick brown fox jumps over the lazy dog 0123456789 &&!?()[]{}", 1, 5},
    {"default-text", "\xC2\xA9 sigillon.example.org", 0, 3},
    {"batch-text", "\xC2\xA9 S&igillon", 3, 2},
    {"batch-text-purple", "\xC2\xA9 S&igillon", 6, 1},
    {"too-long", "far too long for forty pixels", 0, 3},
    {"program", "\xC2\xA9 Sigillon", 1, 4},
    {"hg", "Hg", 0, 7},
};

// SHA-256 of the raster's colours, top row first, blue, green and red of
// each pixel with no row padding: what the compositing reads once the
// raster is converted to 24 bits, whatever its unused fourth byte holds.
inline QByteArray ColourHash(const TBitmap& raster) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    int bytesPerPixel = raster.GetDepth() == Depth24 ? 3 : 4;
    QByteArray row(3 * raster.Width(), '\0');
    for (int y = 0; y < raster.Height(); ++y) {
        const std::uint8_t* from = raster.RowAddress(y);
        for (int x = 0; x < raster.Width(); ++x)
            for (int c = 0; c < 3; ++c) row[3 * x + c] = char(from[bytesPerPixel * x + c]);
        hash.addData(row);
    }
    return hash.result().toHex();
}

}  // namespace sigillon::testing
