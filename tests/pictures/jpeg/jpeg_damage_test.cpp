// Damaged JPEG files: which of libjpeg's warnings refuse a picture and
// which only go into the reader's warnings, and where the refusal comes.
// djpeg, libjpeg's own program, confirms that each file made here has the
// fault it is meant to have.
#include <gtest/gtest.h>

#include <functional>
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
using testing::TempFolder;

constexpr int kWidth = 203, kHeight = 151;

// A smooth photograph-like picture, encoded by libjpeg as another program
// would: baseline 4:2:0 with JFIF header, or progressive, or with restart
// markers after every row of blocks.
Bytes Photo(bool progressive = false, int restartRows = 0) {
    Bytes rgb;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            rgb.insert(rgb.end(), {std::uint8_t(x), std::uint8_t(y * 255 / kHeight),
                                   std::uint8_t((x * y) / 64)});
    bare::EncodeRequest request{rgb.data(), kWidth, kHeight};
    request.quality = 90;
    request.progressive = progressive;
    request.restartRows = restartRows;
    Bytes file;
    EXPECT_TRUE(bare::Encode(request, file));
    return file;
}

std::size_t Find(const Bytes& file, std::initializer_list<std::uint8_t> bytes, std::size_t from = 0) {
    auto at = std::search(file.begin() + std::ptrdiff_t(from), file.end(), bytes.begin(), bytes.end());
    EXPECT_NE(at, file.end());
    return std::size_t(at - file.begin());
}

// Where the first scan's coded data begins, after its header.
std::size_t ScanData(const Bytes& file) {
    const std::size_t sos = Find(file, {0xFF, 0xDA});
    return sos + 2 + std::size_t(file[sos + 2] << 8 | file[sos + 3]);
}

// What libjpeg's own program says of the file.
std::string DjpegSays(const TempFolder& folder, const Bytes& file) {
    testing::WriteAll(folder / "djpeg.jpg", file);
    return testing::RunProcess({SIGILLON_DJPEG, "-outfile", "/dev/null", folder / "djpeg.jpg"}).err;
}

// The rows a reader gave one at a time until it finished or refused.
struct Reading {
    std::optional<std::string> refusal;
    std::int32_t height = 0;
    std::vector<Bytes> rows;
    std::vector<std::string> warnings;
};

Reading ReadRows(const std::string& path, JpegDamage damage) {
    Reading reading;
    try {
        RowReaderOpening opening = OpenJpegRowReader(path, {}, kJpegRowLimits, false, damage);
        EXPECT_TRUE(opening.reader) << opening.whyNot;
        PictureRowReader& reader = *opening.reader;
        reading.height = reader.Height();
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
    if (FileResult loaded = LoadPictureFileQuiet(picture, path); loaded != FileOutcome::Done) {
        reading.refusal = loaded.reason;
        return reading;
    }
    reading.height = picture.Height();
    for (std::int32_t y = 0; y < picture.Height(); ++y)
        reading.rows.emplace_back(picture.RowAddress(y), picture.RowAddress(y) + picture.Stride());
    return reading;
}

TEST(JpegDamage, DamageRefusesAtItsRowAndHarmlessWarningsAreOnlyTold) {
    TempFolder folder;
    const Bytes photo = Photo();
    const std::string intactPath = folder / "intact.jpg";
    testing::WriteAll(intactPath, photo);
    const Reading intact = Loaded(intactPath);
    ASSERT_EQ(intact.rows.size(), std::size_t(kHeight));
    const std::string ofHeight = " of " + std::to_string(kHeight);

    Bytes badCodes = photo;  // all ones: a code no Huffman table has
    for (std::size_t i = 0, at = (ScanData(photo) + photo.size()) / 2; i < 8; ++i)
        badCodes[at + 2 * i] = 0xFF, badCodes[at + 2 * i + 1] = 0x00;
    Bytes restarts = Photo(false, 1);
    restarts[Find(restarts, {0xFF, 0xD1}, ScanData(restarts)) + 1] = 0xD5;
    Bytes zeroedScanBytes = photo;  // Ss, Se, Ah and Al, which libjpeg then ignores
    const std::size_t sos = Find(photo, {0xFF, 0xDA});
    zeroedScanBytes[sos + 11] = zeroedScanBytes[sos + 12] = zeroedScanBytes[sos + 13] = 0;
    Bytes progressiveAsSequential = Photo(true);
    progressiveAsSequential[Find(progressiveAsSequential, {0xFF, 0xC2}) + 1] = 0xC0;
    Bytes junk = photo;
    const std::size_t dqt = Find(junk, {0xFF, 0xDB});
    junk.insert(junk.begin() + std::ptrdiff_t(dqt), {0x12, 0x34, 0x56});
    Bytes jfif2 = photo;
    jfif2[11] = 2;  // the JFIF header's major version
    // The JFIF header, which would decide the colours, replaced by an
    // Adobe one with a transform code of no meaning.
    Bytes adobe = {0xFF, 0xD8, 0xFF, 0xEE, 0, 14, 'A', 'd', 'o', 'b', 'e', 0, 100, 0, 0, 0, 0, 5};
    adobe.insert(adobe.end(), photo.begin() + 20, photo.end());
    const Bytes progressive = Photo(true);
    std::size_t fourthScan = 0;
    for (int scan = 0; scan < 4; ++scan) fourthScan = Find(progressive, {0xFF, 0xDA}, fourthScan + 1);

    struct Case {
        const char* name;
        Bytes file;
        const char* djpeg;    // what libjpeg's program says of it
        const char* refusal;  // how the refusal begins, when the file is refused
        const char* warning;  // its warning when it is not
    } cases[] = {
        {"cut in the header", Bytes(photo.begin(), photo.begin() + 100),
         "Premature end of JPEG file", "", nullptr},
        {"cut in the scan",
         Bytes(photo.begin(), photo.begin() + std::ptrdiff_t(ScanData(photo) +
                                                             (photo.size() - ScanData(photo)) * 3 / 5)),
         "Premature end of JPEG file", "JPEG: the data ends at row ", nullptr},
        {"bad Huffman codes", badCodes, "Corrupt JPEG data: bad Huffman code",
         "JPEG: the data is damaged at row ", nullptr},
        {"a restart marker out of order", restarts, "found marker 0xd5 instead of RST1",
         "JPEG: the data is damaged at row ", nullptr},
        {"a progressive file cut in its fourth scan",
         Bytes(progressive.begin(), progressive.begin() + std::ptrdiff_t(fourthScan + 100)),
         "Premature end of JPEG file", "JPEG: the data ends at row 1", nullptr},
        {"progressive scans in a sequential file", progressiveAsSequential,
         "Invalid SOS parameters for sequential JPEG", "JPEG: the data ends at row ", nullptr},
        {"zeroes for a sequential scan's parameters", zeroedScanBytes,
         "Invalid SOS parameters for sequential JPEG", nullptr,
         "JPEG: invalid SOS parameters for sequential JPEG"},
        {"junk between segments", junk, "3 extraneous bytes before marker 0xdb", nullptr,
         "JPEG: skipped 3 stray bytes before marker 0xdb"},
        {"a newer JFIF version", jfif2, "unknown JFIF revision number 2.01", nullptr,
         "JPEG: unknown JFIF revision number 2.01"},
        {"an unknown Adobe transform", adobe, "Unknown Adobe color transform code 5", nullptr,
         "JPEG: unknown Adobe color transform code 5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string djpeg = DjpegSays(folder, c.file);
        EXPECT_NE(djpeg.find(c.djpeg), std::string::npos) << djpeg;
        const std::string path = folder / "damaged.jpg";
        testing::WriteAll(path, c.file);
        const Reading loaded = Loaded(path);
        const Reading refused = ReadRows(path, JpegDamage::Refuse);
        const Reading filled = ReadRows(path, JpegDamage::Fill);
        // Filled in, the rows are the desktop program's, whatever the damage.
        EXPECT_EQ(filled.refusal, loaded.refusal);
        if (!loaded.refusal) {
            EXPECT_TRUE(filled.rows == loaded.rows);
        }

        if (!c.refusal) {
            // Every pixel as the file meant it, and the warning told.
            ASSERT_FALSE(refused.refusal) << *refused.refusal;
            EXPECT_TRUE(refused.rows == intact.rows);
            EXPECT_EQ(refused.warnings, std::vector<std::string>{c.warning});
            EXPECT_EQ(filled.warnings, std::vector<std::string>{c.warning});
            continue;
        }
        ASSERT_TRUE(refused.refusal);
        const std::string& reason = *refused.refusal;
        EXPECT_EQ(reason.rfind(c.refusal, 0), 0u) << reason;
        if (loaded.refusal) {
            // A fault libjpeg cannot decode past either: refused both ways,
            // in libjpeg's words unless the damage came first.
            if (!*c.refusal) {
                EXPECT_EQ(reason, *loaded.refusal);
            }
        } else {
            // Row N: the N - 1 rows handed out are the intact file's, and
            // the refusal came before more were.
            const std::string at = "row " + std::to_string(refused.rows.size() + 1) + ofHeight;
            EXPECT_NE(reason.find(at), std::string::npos) << reason << ", expected " << at;
            ASSERT_LT(refused.rows.size(), std::size_t(kHeight));
            for (std::size_t y = 0; y < refused.rows.size(); ++y)
                EXPECT_TRUE(refused.rows[y] == intact.rows[y]) << "row " << y;
            // Accepted, the damage is told in the same words.
            ASSERT_FALSE(filled.warnings.empty());
            EXPECT_EQ(filled.warnings.front(), reason);
        }
    }
}

}  // namespace
}  // namespace sigillon
