// Shared by the metadata tests: our encoder's files, test ICC profiles, the
// marker segments of a file, and exiftool as the independent reader and
// writer of tags.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "pictures/jpeg/jpeg_image.h"
#include "pictures/metadata/metadata.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"

namespace sigillon {

// How a failing expectation shows metadata: the size of each block.
inline void PrintTo(const PictureMetadata& m, std::ostream* out) {
    *out << "{exif " << m.exif.size() << ", xmp " << m.xmp.size() << ", icc " << m.icc.size()
         << ", extended xmp";
    for (const auto& part : m.extendedXmp) *out << " " << part.size();
    *out << ", photoshop";
    for (const auto& part : m.photoshop) *out << " " << part.size();
    *out << "}";
}

}  // namespace sigillon

namespace sigillon::testing {

inline std::unique_ptr<TBitmap> Gradient(int width, int height) {
    return MakeTrueColourPicture(width, height, [=](int x, int y, std::uint8_t* p) {
        p[0] = std::uint8_t(255 * x / width);
        p[1] = std::uint8_t(255 * y / height);
        p[2] = std::uint8_t((x * y) % 256);
    });
}

inline Bytes Encoded(const TBitmap& picture, const PictureMetadata* metadata = nullptr,
                     bool grayscale = false) {
    TJPEGImage jpeg;
    jpeg.Assign(picture);
    jpeg.SetGrayscaleOutput(grayscale);
    if (metadata) jpeg.SetOutputMetadata(*metadata);
    jpeg.Compress();
    return Bytes(jpeg.Data().begin(), jpeg.Data().end());
}

// A profile whose header says what it is (size, colour space, the "acsp"
// signature) and one tag of random data: carried byte for byte, never
// interpreted.
inline Bytes IccProfile(const char* space, std::size_t size, unsigned seed) {
    Bytes icc = RandomBytes(size, seed);
    std::fill(icc.begin(), icc.begin() + 144, 0);
    auto put32 = [&](std::size_t at, std::size_t v) {
        for (int i = 0; i < 4; ++i) icc[at + std::size_t(i)] = std::uint8_t(v >> (24 - 8 * i));
    };
    put32(0, size);
    // One private tag holding everything after the tag table.
    put32(128, 1);
    std::copy_n("zzzz", 4, icc.begin() + 132);
    put32(136, 144);
    put32(140, size - 144);
    std::copy_n("\x02\x10\0\0mntr", 8, icc.begin() + 8);
    std::copy_n(space, 4, icc.begin() + 16);
    std::copy_n("XYZ ", 4, icc.begin() + 20);
    std::copy_n("acsp", 4, icc.begin() + 36);
    return icc;
}

// The marker segments of a file up to its first scan: marker, payload.
using Segments = std::vector<std::pair<int, Bytes>>;
inline Segments SegmentsOf(const Bytes& f) {
    Segments segments;
    std::size_t at = 2;
    while (at + 4 <= f.size() && f[at] == 0xFF && f[at + 1] != 0xDA) {
        const std::size_t length = std::size_t(f[at + 2] << 8 | f[at + 3]);
        segments.push_back({f[at + 1], Bytes(f.begin() + std::ptrdiff_t(at + 4),
                                             f.begin() + std::ptrdiff_t(at + 2 + length))});
        at += 2 + length;
    }
    return segments;
}

// The file with a segment put in right after its start-of-image marker.
inline Bytes WithSegment(const Bytes& file, int marker, const std::string& signature,
                         const Bytes& payload) {
    const std::size_t length = 2 + signature.size() + payload.size();
    Bytes out(file.begin(), file.begin() + 2);
    out.insert(out.end(),
               {0xFF, std::uint8_t(marker), std::uint8_t(length >> 8), std::uint8_t(length)});
    out.insert(out.end(), signature.begin(), signature.end());
    out.insert(out.end(), payload.begin(), payload.end());
    out.insert(out.end(), file.begin() + 2, file.end());
    return out;
}

// TIFF structures built field by field: IFDs laid out one after another,
// each IFD's values longer than four bytes right after its table. Offsets
// are positions in `bytes` less the base given.
struct TiffEntry {
    std::uint16_t tag, type;
    std::uint32_t count;
    Bytes value;                           // in the builder's byte order
    std::optional<std::uint32_t> at = {};  // instead: the offset of bytes laid out already
};

class TiffBuilder {
public:
    // Starts with a TIFF header (its IFD0 offset set by SetIfd0), or with
    // `head` instead.
    explicit TiffBuilder(bool big, std::optional<Bytes> head = std::nullopt) : big_(big) {
        const std::uint8_t order(big ? 'M' : 'I');
        bytes = head ? *head : Bytes{order, order, 0, 0, 0, 0, 0, 0};
        if (!head) std::copy_n(U16(42).begin(), 2, bytes.begin() + 2);
    }
    Bytes U16(std::uint32_t v) const { return Number(v, 2); }
    Bytes U32(std::uint32_t v) const { return Number(v, 4); }
    static Bytes Text(const std::string& text) {
        return Bytes(text.c_str(), text.c_str() + text.size() + 1);
    }
    // Where the next thing added will start: IFDs and values start on a word.
    std::size_t Next() const { return bytes.size() + (bytes.size() & 1); }
    std::size_t Add(const Bytes& b) {
        bytes.resize(Next());
        bytes.insert(bytes.end(), b.begin(), b.end());
        return bytes.size() - b.size();
    }
    static std::size_t IfdSize(const std::vector<TiffEntry>& entries) {
        std::size_t size = 2 + 12 * entries.size() + 4;
        for (const TiffEntry& e : entries)
            if (!e.at && e.value.size() > 4) size += e.value.size() + (e.value.size() & 1);
        return size;
    }
    // base: where in `bytes` the offsets count from; negative for a maker
    // note whose offsets count from the start of the block it goes into.
    std::size_t AddIfd(const std::vector<TiffEntry>& entries, std::uint32_t next = 0,
                       std::ptrdiff_t base = 0) {
        const std::size_t at = Next();
        Bytes table = U16(std::uint32_t(entries.size())), values;
        for (const TiffEntry& e : entries) {
            for (const Bytes& field : {U16(e.tag), U16(e.type), U32(e.count)})
                table.insert(table.end(), field.begin(), field.end());
            Bytes value = e.value;
            if (e.at || e.value.size() > 4) {
                const std::ptrdiff_t offset =
                    std::ptrdiff_t(at + 6 + 12 * entries.size() + values.size()) - base;
                value = U32(e.at ? *e.at : std::uint32_t(offset));
                if (!e.at) values.insert(values.end(), e.value.begin(), e.value.end());
                values.resize(values.size() + (values.size() & 1));
            }
            value.resize(4);
            table.insert(table.end(), value.begin(), value.end());
        }
        const Bytes link = U32(next);
        table.insert(table.end(), link.begin(), link.end());
        Add(table);
        bytes.insert(bytes.end(), values.begin(), values.end());
        return at;
    }
    void SetIfd0(std::size_t at) {
        const Bytes offset = U32(std::uint32_t(at));
        std::copy(offset.begin(), offset.end(), bytes.begin() + 4);
    }

    Bytes bytes;

private:
    Bytes Number(std::uint32_t v, int size) const {
        Bytes b;
        for (int i = 0; i < size; ++i)
            b.push_back(std::uint8_t(v >> (8 * (big_ ? size - 1 - i : i))));
        return b;
    }
    bool big_;
};

// Runs exiftool with these arguments (passed through an argument file, so
// nothing is quoted) and gives what it printed.
inline std::string Exiftool(const TempFolder& folder, const std::vector<std::string>& args) {
    const std::string argFile = folder / "exiftool-args";
    std::string lines;
    for (const std::string& a : args) lines += a + "\n";
    WriteAll(argFile, Bytes(lines.begin(), lines.end()));
    FILE* pipe = ::popen((std::string(SIGILLON_EXIFTOOL) + " -@ " + argFile).c_str(), "r");
    std::string out;
    if (!pipe) {
        ADD_FAILURE() << "exiftool cannot be run (scripts/test installs it)";
        return out;
    }
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    EXPECT_EQ(::pclose(pipe), 0) << "exiftool " << lines;
    return out;
}

// Tag values as exiftool prints them with -T, one tab-separated line; "-"
// for a tag that is absent.
inline std::vector<std::string> ExiftoolTags(const TempFolder& folder, const std::string& file,
                                             const std::vector<std::string>& tags) {
    std::vector<std::string> args = {"-T", "-n"};
    for (const std::string& t : tags) args.push_back("-" + t);
    args.push_back(file);
    std::string line = Exiftool(folder, args);
    if (!line.empty() && line.back() == '\n') line.pop_back();
    std::vector<std::string> values;
    for (std::size_t start = 0;;) {
        const std::size_t tab = line.find('\t', start);
        values.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return values;
}

}  // namespace sigillon::testing
