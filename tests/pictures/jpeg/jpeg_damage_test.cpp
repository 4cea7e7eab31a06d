// Damaged JPEG files: which of libjpeg's warnings refuse a picture, and at
// which row, and which are only told. djpeg, libjpeg's own program,
// confirms that each file made here has the fault it is meant to have.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "pictures/jpeg/jpeg_image.h"
#include "pictures/jpeg/jpeg_rows.h"
#include "pictures/picture_files.h"
#include "tests/support/bare_libjpeg.h"
#include "tests/support/files_test_support.h"
#include "tests/support/process.h"

namespace sigillon {
namespace {

using testing::Bytes;

constexpr int kWidth = 203, kHeight = 151;

// A smooth photograph-like picture, encoded by libjpeg as another program
// would: baseline 4:2:0 with JFIF header, or progressive, or with restart
// markers after every that many rows of blocks.
Bytes Photo(bool progressive = false, int restartRows = 0) {
    Bytes rgb;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            rgb.insert(rgb.end(), {std::uint8_t(x), std::uint8_t(y * 255 / kHeight), std::uint8_t((x * y) / 64)});
    bare::EncodeRequest request{rgb.data(), kWidth, kHeight};
    request.quality = 90, request.progressive = progressive, request.restartRows = restartRows;
    Bytes file;
    EXPECT_TRUE(bare::Encode(request, file));
    return file;
}

std::size_t Find(const Bytes& file, std::initializer_list<std::uint8_t> bytes, std::size_t from = 0) {
    const auto at = std::search(file.begin() + std::ptrdiff_t(from), file.end(), bytes.begin(), bytes.end());
    EXPECT_NE(at, file.end());
    return std::size_t(at - file.begin());
}

Bytes Head(const Bytes& file, std::size_t size) { return Bytes(file.begin(), file.begin() + std::ptrdiff_t(size)); }

// The rows a reader gave one at a time until it finished or refused.
struct Reading {
    std::optional<std::string> refusal;
    std::vector<Bytes> rows;
    std::vector<std::string> warnings;
};

Reading ReadRows(const std::string& path, JpegDamage damage) {
    Reading reading;
    try {
        RowReaderOpening opening = OpenJpegRowReader(path, {}, kJpegRowLimits, false, damage);
        EXPECT_TRUE(opening.reader) << opening.whyNot;
        PictureRowReader& reader = *opening.reader;
        Bytes row(std::size_t(reader.Stride()));
        while (reader.NextRow() < reader.Height()) {
            reader.Read(row.data(), 1);
            reading.rows.push_back(row);
        }
        reader.Finish();
        reading.warnings = reader.Warnings();
    } catch (const BitmapError& error) {
        reading.refusal = error.what();
    }
    return reading;
}

// The desktop program's picture, row by row from the top.
Reading Loaded(const std::string& path) {
    Reading reading;
    TBitmap picture;
    if (FileResult loaded = LoadPictureFileQuiet(picture, path); loaded != FileOutcome::Done)
        reading.refusal = loaded.reason;
    for (std::int32_t y = 0; !reading.refusal && y < picture.Height(); ++y)
        reading.rows.emplace_back(picture.RowAddress(y), picture.RowAddress(y) + picture.Stride());
    return reading;
}

TEST(JpegDamage, DamageRefusesAtItsRowAndHarmlessWarningsAreOnlyTold) {
    testing::TempFolder folder;
    const std::string path = folder / "in.jpg";
    const Bytes photo = Photo(), progressive = Photo(true);
    testing::WriteAll(path, photo);
    const Reading intact = Loaded(path);
    ASSERT_EQ(intact.rows.size(), std::size_t(kHeight));
    const std::size_t sos = Find(photo, {0xFF, 0xDA}), data = sos + 2 + std::size_t(photo[sos + 2] << 8 | photo[sos + 3]);
    std::size_t fourthScan = 0;
    for (int scan = 0; scan < 4; ++scan) fourthScan = Find(progressive, {0xFF, 0xDA}, fourthScan + 1);
    Bytes badCodes = photo, restarts = Photo(false, 1), asSequential = progressive, zeroes = photo, junk = photo;
    for (std::size_t i = 0, at = (data + photo.size()) / 2; i < 8; ++i)  // all ones: a code no table has
        badCodes[at + 2 * i] = 0xFF, badCodes[at + 2 * i + 1] = 0;
    restarts[Find(restarts, {0xFF, 0xD1}) + 1] = 0xD5;
    asSequential[Find(asSequential, {0xFF, 0xC2}) + 1] = 0xC0;
    zeroes[sos + 11] = zeroes[sos + 12] = zeroes[sos + 13] = 0;  // Ss, Se, Ah and Al, which libjpeg then ignores
    junk.insert(junk.begin() + std::ptrdiff_t(Find(junk, {0xFF, 0xDB})), {0x12, 0x34, 0x56});
    Bytes jfif2 = photo;
    jfif2[11] = 2;  // the JFIF header's major version
    // The JFIF header, which would decide the colours, replaced by an
    // Adobe one with a transform code of no meaning.
    Bytes adobe = {0xFF, 0xD8, 0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 5};
    adobe.insert(adobe.end(), photo.begin() + 20, photo.end());

    const char* const eof = "Premature end of JPEG file";
    const char* const ends = "JPEG: the data ends at row ";
    const char* const damaged = "JPEG: the data is damaged at row ";
    const struct {
        const char* name;
        Bytes file;
        const char* djpeg;  // what libjpeg's program says of it
        bool refused;
        std::string told;   // how the refusal begins ("": in libjpeg's words), or the one warning
    } cases[] = {
        {"cut in the header", Head(photo, 100), eof, true, ""},
        {"cut in the scan", Head(photo, data + (photo.size() - data) * 3 / 5), eof, true, ends},
        {"bad Huffman codes", badCodes, "Corrupt JPEG data: bad Huffman code", true, damaged},
        {"a restart marker out of order", restarts, "found marker 0xd5 instead of RST1", true, damaged},
        {"a progressive file cut in its fourth scan", Head(progressive, fourthScan + 100), eof, true,
         "JPEG: the data ends at row 1"},
        {"progressive scans in a sequential file", asSequential, "Invalid SOS parameters for sequential JPEG", true, ends},
        {"zeroes for a sequential scan's parameters", zeroes, "Invalid SOS parameters for sequential JPEG", false,
         "JPEG: invalid SOS parameters for sequential JPEG"},
        {"junk between segments", junk, "3 extraneous bytes before marker 0xdb", false,
         "JPEG: skipped 3 stray bytes before marker 0xdb"},
        {"a newer JFIF version", jfif2, "unknown JFIF revision number 2.01", false,
         "JPEG: unknown JFIF revision number 2.01"},
        {"an unknown Adobe transform", adobe, "Unknown Adobe color transform code 5", false,
         "JPEG: unknown Adobe color transform code 5"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testing::WriteAll(path, c.file);
        const std::string djpeg = testing::RunProcess({SIGILLON_DJPEG, "-outfile", "/dev/null", path}).err;
        EXPECT_NE(djpeg.find(c.djpeg), std::string::npos) << djpeg;
        const Reading loaded = Loaded(path), refused = ReadRows(path, JpegDamage::Refuse),
                      filled = ReadRows(path, JpegDamage::Fill);
        // Filled in, the rows are the desktop program's, whatever the damage.
        EXPECT_EQ(filled.refusal, loaded.refusal);
        EXPECT_TRUE(loaded.refusal || filled.rows == loaded.rows);
        if (!c.refused) {
            // Every pixel as the file meant it, and the warning told.
            ASSERT_FALSE(refused.refusal) << *refused.refusal;
            EXPECT_TRUE(refused.rows == intact.rows);
            EXPECT_EQ(refused.warnings, std::vector<std::string>{c.told});
            EXPECT_EQ(filled.warnings, std::vector<std::string>{c.told});
            continue;
        }
        ASSERT_TRUE(refused.refusal);
        const std::string& reason = *refused.refusal;
        EXPECT_EQ(reason.rfind(c.told, 0), 0u) << reason;
        if (loaded.refusal) {
            // A fault libjpeg cannot decode past either: refused both ways,
            // in libjpeg's words unless the damage came first.
            if (c.told.empty()) {
                EXPECT_EQ(reason, *loaded.refusal);
            }
            continue;
        }
        // Row N: the N - 1 rows handed out are the intact file's, and the
        // refusal came before more were.
        const std::string at = "row " + std::to_string(refused.rows.size() + 1) + " of " + std::to_string(kHeight);
        EXPECT_NE(reason.find(at), std::string::npos) << reason << ", expected " << at;
        ASSERT_LT(refused.rows.size(), std::size_t(kHeight));
        EXPECT_TRUE(std::equal(refused.rows.begin(), refused.rows.end(), intact.rows.begin()));
        // Accepted, the damage is told in the same words.
        ASSERT_FALSE(filled.warnings.empty());
        EXPECT_EQ(filled.warnings.front(), reason);
    }
}

}  // namespace
}  // namespace sigillon
