// The public BMP suite (tests/pictures/bmp/bmpsuite, see its README): good files
// load with the right pixels, questionable and bad ones each have the
// outcome recorded here, and none of them crashes the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "pictures/bmp/bmp.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

using testing::Bytes;
using testing::Get16;
using testing::Get32;

const std::string kSuite = SIGILLON_BMPSUITE_DIR;

Bytes SuiteFile(const std::string& folder, const std::string& name) {
    Bytes bytes = testing::ReadAll(kSuite + "/" + folder + "/" + name);
    if (bytes.empty()) ADD_FAILURE() << "missing " << folder << "/" << name;
    return bytes;
}

std::unique_ptr<TBitmap> Load(const std::string& folder, const std::string& name) {
    Bytes bytes = SuiteFile(folder, name);
    auto picture = std::make_unique<TBitmap>();
    ReadBmpData(*picture, bytes.data(), bytes.size());
    return picture;
}

// What an uncompressed file with a 40-byte or longer header says about one
// pixel, read straight from its bytes: the check on the reader for the
// files that are not the same image as another.
TColor ColourInFile(const Bytes& f, int x, int y) {
    const std::uint32_t offset = Get32(f, 10);
    const std::uint32_t header = Get32(f, 14);
    const std::int32_t width = std::int32_t(Get32(f, 18));
    const std::int32_t height = std::int32_t(Get32(f, 22));
    const int bits = int(Get16(f, 28));
    const std::uint32_t used = Get32(f, 46) ? Get32(f, 46) : 1u << bits;
    const std::size_t stride = std::size_t(StrideFor(width, bits));
    const std::size_t row = std::size_t(height < 0 ? y : height - 1 - y);
    const std::uint8_t* p = f.data() + offset + row * stride;
    if (bits == 24) return RGBColor(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
    const int bit = x * bits;
    const unsigned index = (p[bit / 8] >> (8 - bits - bit % 8)) & ((1u << bits) - 1);
    if (index >= used) return clBlack;
    const std::uint8_t* entry = f.data() + 14 + header + 4 * index;
    return RGBColor(entry[2], entry[1], entry[0]);
}

int LargestChannelDifference(TColor a, TColor b) {
    int largest = 0;
    for (int shift : {0, 8, 16})
        largest = std::max(largest, std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)));
    return largest;
}

void ExpectSamePixels(const TBitmap& picture, const TBitmap& reference, int tolerance) {
    ASSERT_EQ(picture.Width(), reference.Width());
    ASSERT_EQ(picture.Height(), reference.Height());
    int worst = 0;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            worst = std::max(
                worst, LargestChannelDifference(picture.PixelAt(x, y), reference.PixelAt(x, y)));
    EXPECT_LE(worst, tolerance);
}

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kSuite + "/" + folder))
        names.insert(entry.path().filename().string());
    return names;
}

template <typename Table>
void ExpectTableCoversFolder(const Table& table, const std::string& folder) {
    std::set<std::string> listed;
    for (const auto& row : table) listed.insert(row.file);
    EXPECT_EQ(listed, FilesIn(folder)) << "every file of " << folder << "/ has one row";
}

// ---- g/: every file loads with the right pixels ----

struct Good {
    const char* file;
    PixelDepth depth;
    const char* sameAs;  // a file of the same image, or nullptr: checked against its own bytes
    int tolerance;       // for references of finer colour steps
};

const Good kGood[] = {
    {"pal1.bmp", Depth1, nullptr, 0},
    {"pal1bg.bmp", Depth1, nullptr, 0},
    {"pal1wb.bmp", Depth1, nullptr, 0},
    {"pal4.bmp", Depth4, nullptr, 0},
    {"pal4gs.bmp", Depth4, nullptr, 0},
    {"pal4rle.bmp", DepthDevice, "pal4.bmp", 0},
    {"pal8-0.bmp", Depth8, "pal8.bmp", 0},
    {"pal8.bmp", Depth8, nullptr, 0},
    {"pal8gs.bmp", Depth8, nullptr, 0},
    {"pal8nonsquare.bmp", Depth8, nullptr, 0},
    {"pal8os2.bmp", Depth8, "pal8.bmp", 0},
    {"pal8rle.bmp", DepthDevice, "pal8.bmp", 0},
    {"pal8topdown.bmp", Depth8, "pal8.bmp", 0},
    {"pal8v4.bmp", Depth8, "pal8.bmp", 0},
    {"pal8v5.bmp", Depth8, "pal8.bmp", 0},
    {"pal8w124.bmp", Depth8, nullptr, 0},
    {"pal8w125.bmp", Depth8, nullptr, 0},
    {"pal8w126.bmp", Depth8, nullptr, 0},
    // 5- and 6-bit channels: within one step of the 8-bit picture.
    {"rgb16-565.bmp", Depth16, "rgb24.bmp", 8},
    {"rgb16-565pal.bmp", Depth16, "rgb16-565.bmp", 0},
    {"rgb16.bmp", Depth15, "rgb24.bmp", 8},
    {"rgb16bfdef.bmp", DepthCustom, "rgb16.bmp", 0},
    {"rgb24.bmp", Depth24, nullptr, 0},
    {"rgb24pal.bmp", Depth24, "rgb24.bmp", 0},
    {"rgb32.bmp", Depth32, "rgb24.bmp", 0},
    {"rgb32bf.bmp", DepthCustom, "rgb24.bmp", 0},
    {"rgb32bfdef.bmp", DepthCustom, "rgb24.bmp", 0},
};

TEST(BmpSuite, TableCoversEveryFile) { ExpectTableCoversFolder(kGood, "g"); }

TEST(BmpSuite, EveryGoodFileLoadsWithTheRightPixels) {
    for (const Good& g : kGood) {
        SCOPED_TRACE(g.file);
        auto picture = Load("g", g.file);
        EXPECT_EQ(picture->GetDepth(), g.depth);
        if (g.sameAs) {
            ExpectSamePixels(*picture, *Load("g", g.sameAs), g.tolerance);
            continue;
        }
        const Bytes file = SuiteFile("g", g.file);
        ASSERT_EQ(picture->Width(), std::int32_t(Get32(file, 18)));
        ASSERT_EQ(picture->Height(), std::abs(std::int32_t(Get32(file, 22))));
        int wrong = 0;
        for (int y = 0; y < picture->Height(); ++y)
            for (int x = 0; x < picture->Width(); ++x)
                wrong += picture->PixelAt(x, y) != ColourInFile(file, x, y);
        EXPECT_EQ(wrong, 0);
    }
}

TEST(BmpSuite, GoodFilesWriteAndReadBackUnchanged) {
    for (const Good& g : kGood) {
        SCOPED_TRACE(g.file);
        auto picture = Load("g", g.file);
        const Bytes written = EncodeBmp(*picture);
        TBitmap back;
        ReadBmpData(back, written.data(), written.size());
        ExpectSamePixels(back, *picture, 0);
        EXPECT_EQ(EncodeBmp(back), written);
    }
}

// ---- q/ and b/: the outcome chosen for each file ----

enum class Outcome { Loads, Refused };

struct Recorded {
    const char* file;
    Outcome outcome;
    const char* sameAs;  // a g/ file the loaded picture equals, where there is one
    int tolerance;
};

const Recorded kQuestionable[] = {
    {"pal1huffmsb.bmp", Outcome::Refused, nullptr, 0},  // Huffman-coded, 1 bit
    {"pal1p1.bmp", Outcome::Loads, nullptr, 0},         // one palette entry; index 1 is black
    {"pal2.bmp", Outcome::Refused, nullptr, 0},         // 2 bits per pixel
    {"pal2color.bmp", Outcome::Refused, nullptr, 0},
    {"pal4rlecut.bmp", Outcome::Loads, nullptr, 0},   // stops early: the rest is black
    {"pal4rletrns.bmp", Outcome::Loads, nullptr, 0},  // skipped pixels are black
    {"pal8offs.bmp", Outcome::Loads, "pal8.bmp", 0},  // pixels at the data offset
    {"pal8os2-hs.bmp", Outcome::Loads, "pal8.bmp", 0},
    {"pal8os2-sz.bmp", Outcome::Loads, "pal8.bmp", 0},
    // A 12-byte header always has a full table, so pixels are read after
    // 256 entries although the data offset says 252: the rows come out
    // shifted by 12 bytes.
    {"pal8os2sp.bmp", Outcome::Loads, nullptr, 0},
    {"pal8os2v2-16.bmp", Outcome::Refused, nullptr, 0},  // 16-byte info header
    {"pal8os2v2-40sz.bmp", Outcome::Loads, "pal8.bmp", 0},
    {"pal8os2v2-sz.bmp", Outcome::Loads, "pal8.bmp", 0},
    {"pal8os2v2.bmp", Outcome::Loads, "pal8.bmp", 0},       // 64-byte header read as a long one
    {"pal8oversizepal.bmp", Outcome::Refused, nullptr, 0},  // 300 table entries
    {"pal8rlecut.bmp", Outcome::Loads, nullptr, 0},
    {"pal8rletrns.bmp", Outcome::Loads, nullptr, 0},
    {"rgb16-231.bmp", Outcome::Loads, nullptr, 0},
    {"rgb16-3103.bmp", Outcome::Loads, nullptr, 0},
    {"rgb16faketrns.bmp", Outcome::Loads, "rgb16.bmp", 0},
    {"rgb24jpeg.bmp", Outcome::Refused, nullptr, 0},
    {"rgb24largepal.bmp", Outcome::Refused, nullptr, 0},  // 300 table entries
    {"rgb24png.bmp", Outcome::Refused, nullptr, 0},
    {"rgb24rle24.bmp", Outcome::Refused, nullptr, 0},
    {"rgb32-111110.bmp", Outcome::Loads, "rgb24.bmp", 1},
    {"rgb32-7187.bmp", Outcome::Loads, "rgb24.bmp", 1},
    {"rgb32-xbgr.bmp", Outcome::Loads, "rgb24.bmp", 0},
    {"rgb32fakealpha.bmp", Outcome::Loads, "rgb24.bmp", 0},
    {"rgb32h52.bmp", Outcome::Loads, "rgb24.bmp", 0},  // masks in a 52-byte header
    // Alpha channels are not shown: these load with their colour channels.
    {"rgba16-1924.bmp", Outcome::Loads, nullptr, 0},
    {"rgba16-4444.bmp", Outcome::Loads, nullptr, 0},
    {"rgba16-5551.bmp", Outcome::Loads, "rgb24.bmp", 8},
    {"rgba32-1.bmp", Outcome::Loads, nullptr, 0},
    {"rgba32-1010102.bmp", Outcome::Loads, nullptr, 0},
    {"rgba32-2.bmp", Outcome::Loads, nullptr, 0},
    {"rgba32-61754.bmp", Outcome::Loads, nullptr, 0},
    {"rgba32-81284.bmp", Outcome::Loads, nullptr, 0},
    {"rgba32abf.bmp", Outcome::Refused, nullptr, 0},  // compression 6
    {"rgba32h56.bmp", Outcome::Loads, nullptr, 0},
    {"rgba64.bmp", Outcome::Refused, nullptr, 0},
};

const Recorded kBad[] = {
    {"badbitcount.bmp", Outcome::Refused, nullptr, 0},
    {"badbitssize.bmp", Outcome::Loads, nullptr, 0},  // image size field far too large
    {"baddens1.bmp", Outcome::Loads, nullptr, 0},
    {"baddens2.bmp", Outcome::Loads, nullptr, 0},
    {"badfilesize.bmp", Outcome::Loads, nullptr, 0},    // the file size field is not read
    {"badheadersize.bmp", Outcome::Loads, nullptr, 0},  // 66-byte header read as a long one
    {"badpalettesize.bmp", Outcome::Refused, nullptr, 0},
    {"badplanes.bmp", Outcome::Refused, nullptr, 0},
    {"badrle.bmp", Outcome::Loads, nullptr, 0},  // runs clipped to the picture
    {"badrle4.bmp", Outcome::Loads, nullptr, 0},
    {"badrle4bis.bmp", Outcome::Loads, nullptr, 0},
    {"badrle4ter.bmp", Outcome::Loads, nullptr, 0},
    {"badrlebis.bmp", Outcome::Loads, nullptr, 0},
    {"badrleter.bmp", Outcome::Loads, nullptr, 0},
    {"badwidth.bmp", Outcome::Refused, nullptr, 0},
    {"pal8badindex.bmp", Outcome::Loads, nullptr, 0},  // indices past the table are black
    {"reallybig.bmp", Outcome::Refused, nullptr, 0},
    {"rgb16-880.bmp", Outcome::Loads, nullptr, 0},  // no blue mask: blue is 0
    {"rletopdown.bmp", Outcome::Refused, nullptr, 0},
    {"shortfile.bmp", Outcome::Loads, nullptr, 0},  // missing rows take colour 0
};

void CheckRecorded(const std::string& folder, const Recorded& r) {
    SCOPED_TRACE(folder + "/" + r.file);
    const Bytes file = SuiteFile(folder, r.file);
    auto before = testing::RandomPicture(Depth24, 2, 2, 70);
    TBitmap picture;
    picture.ShareImage(*before);
    bool loaded = true;
    try {
        ReadBmpData(picture, file.data(), file.size());
    } catch (const BitmapError&) {
        loaded = false;
    }
    if (r.outcome == Outcome::Refused) {
        EXPECT_FALSE(loaded);
        EXPECT_TRUE(picture.SharesImageWith(*before)) << "a refused file leaves the picture";
        return;
    }
    ASSERT_TRUE(loaded);
    EXPECT_FALSE(picture.IsEmpty());
    if (r.sameAs) ExpectSamePixels(picture, *Load("g", r.sameAs), r.tolerance);
    // Whatever loaded can be written and read again.
    const Bytes written = EncodeBmp(picture);
    TBitmap back;
    ReadBmpData(back, written.data(), written.size());
    ExpectSamePixels(back, picture, 0);
}

TEST(BmpSuite, QuestionableFilesHaveTheirRecordedOutcome) {
    ExpectTableCoversFolder(kQuestionable, "q");
    for (const Recorded& r : kQuestionable) CheckRecorded("q", r);
}

TEST(BmpSuite, BadFilesAreRefusedOrGiveAPartialPicture) {
    ExpectTableCoversFolder(kBad, "b");
    for (const Recorded& r : kBad) CheckRecorded("b", r);
}

TEST(BmpSuite, ShortFileKeepsTheRowsItHas) {
    auto whole = Load("g", "pal1.bmp");
    auto cut = Load("b", "shortfile.bmp");
    // 273 bytes: the 62 of the headers and 211 of 16-byte rows, bottom up.
    const int rows = (273 - 62) / 16;
    for (int y = 63; y > 63 - rows; --y)
        for (int x = 0; x < 127; ++x)
            ASSERT_EQ(cut->PixelAt(x, y), whole->PixelAt(x, y)) << x << "," << y;
    for (int x = 0; x < 127; ++x) EXPECT_EQ(cut->PixelAt(x, 0), cut->Palette()[0]);
}

}  // namespace
}  // namespace sigillon
