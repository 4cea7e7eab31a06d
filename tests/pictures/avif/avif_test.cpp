// AVIF files written through libavif: avifdec decodes them, close to the
// picture and with its alpha exact; a quality makes what avifenc makes at
// the quantizer it maps to; exiftool reads back the EXIF, XMP and profile.
#include "pictures/avif/avif_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pictures/heif/heif_file.h"
#include "pictures/png/png_file.h"
#include "tests/support/files_test_support.h"
#include "tests/support/metadata_test_support.h"
#include "tests/support/process.h"

namespace sigillon {
namespace {

using testing::Bytes;

bool RunTool(const std::vector<std::string>& argv) {
    const testing::ProcessRun run = testing::RunProcess(argv);
    EXPECT_EQ(run.status, 0) << argv[0] << ": " << run.err;
    return run.status == 0;
}

// The largest difference of any channel between two pictures of one size.
int LargestDifference(const TBitmap& a, const TBitmap& b) {
    int largest = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < a.Width() * 3; ++i)
            largest = std::max(largest, std::abs(a.RowAddress(y)[i] - b.RowAddress(y)[i]));
    return largest;
}

TEST(AvifWriting, AvifdecDecodesWhatIsWrittenWithItsAlphaAndMetadata) {
    testing::TempFolder folder;
    // Smooth, as 4:2:0 sampling leaves it nearly as it was.
    auto picture = testing::MakeTrueColourPicture(200, 120, [](int x, int y, std::uint8_t* p) {
        p[0] = std::uint8_t(x);
        p[1] = std::uint8_t(2 * y);
        p[2] = std::uint8_t(255 - x);
    });
    std::vector<std::uint8_t> alpha(200 * 120);
    for (std::size_t i = 0; i < alpha.size(); ++i) alpha[i] = std::uint8_t(i % 200 < 50 ? 0 : i % 256);
    // EXIF and XMP blocks as exiftool writes them.
    const std::string jpeg = folder / "exif.jpg";
    testing::WriteAll(jpeg, testing::Encoded(*picture));
    testing::Exiftool(folder, {"-q", "-overwrite_original", "-Artist=Ann", "-Orientation=1", "-n",
                               "-XMP-dc:Rights=Studio", jpeg});
    PictureMetadata metadata;
    metadata.icc = testing::IccProfile("RGB ", 560, 3);
    const std::string exif = testing::Exiftool(folder, {"-b", "-EXIF", jpeg});
    metadata.exif.assign(exif.begin(), exif.end());
    metadata.xmp = testing::Exiftool(folder, {"-b", "-XMP", jpeg});

    const std::string path = folder / "a.avif";
    WriteAvifFile(path, *picture, alpha, metadata, 90);
    ASSERT_TRUE(RunTool({"avifdec", "--ignore-icc", path, folder / "decoded.png"}));
    const PngPicture back = ReadPngFile(folder / "decoded.png");
    ASSERT_EQ(back.pixels->Width(), 200);
    EXPECT_EQ(back.alpha, alpha);
    // 4:2:0 at quality 90 on a smooth picture: a few levels at most.
    EXPECT_LE(LargestDifference(*back.pixels, *picture), 10);
    EXPECT_EQ(testing::Exiftool(folder, {"-b", "-ICC_Profile", path}),
              std::string(metadata.icc.begin(), metadata.icc.end()));
    EXPECT_EQ(testing::ExiftoolTags(folder, path, {"Artist", "Orientation", "XMP-dc:Rights"}),
              (std::vector<std::string>{"Ann", "1", "Studio"}));
    // And the HEIF reader takes the blocks back whole.
    EXPECT_EQ(ReadHeifFile(path, {.withMetadata = true}).metadata, metadata);
}

// The quality maps to a quantizer as libavif 1.0 maps its quality, and at
// it the file decodes as avifenc's does at the same speed, so that the two
// are compared fairly.
TEST(AvifWriting, AQualityEncodesAsAvifencAtItsQuantizer) {
    testing::TempFolder folder;
    auto picture = testing::Gradient(96, 80);
    const ByteBlock png = EncodePng(*picture, {}, {});
    testing::WriteAll(folder / "in.png", Bytes(png.data(), png.data() + png.size()));
    const std::pair<int, int> qualityAndQuantizer[] = {{100, 0}, {70, 19}, {50, 32}, {1, 62}};
    for (const auto& [quality, quantizer] : qualityAndQuantizer) {
        SCOPED_TRACE(quality);
        EXPECT_EQ(AvifQuantizerFor(quality), quantizer);
        WriteAvifFile(folder / "ours.avif", *picture, {}, {}, quality);
        const std::string q = std::to_string(quantizer);
        ASSERT_TRUE(RunTool({"avifenc", "-s", std::to_string(kAvifSpeed), "-y", "420", "--min", q,
                             "--max", q, folder / "in.png", folder / "theirs.avif"}));
        ASSERT_TRUE(RunTool({"avifdec", folder / "ours.avif", folder / "ours.png"}));
        ASSERT_TRUE(RunTool({"avifdec", folder / "theirs.avif", folder / "theirs.png"}));
        EXPECT_EQ(LargestDifference(*ReadPngFile(folder / "ours.png").pixels,
                                    *ReadPngFile(folder / "theirs.png").pixels),
                  0);
    }
}

TEST(AvifWriting, AFailedWriteLeavesTheOldFile) {
    testing::TempFolder folder;
    const std::string path = folder / "a.avif";
    testing::WriteAll(path, Bytes{'o', 'l', 'd'});
    auto picture = testing::Gradient(40, 30);
    const std::vector<std::uint8_t> shortAlpha(10);
    EXPECT_THROW(WriteAvifFile(path, *picture, shortAlpha, {}, 70), BitmapError);
    EXPECT_EQ(testing::ReadAll(path), (Bytes{'o', 'l', 'd'}));
    EXPECT_THROW(WriteAvifFile(folder / "no/such/folder.avif", *picture, {}, {}, 70), BitmapError);
}

}  // namespace
}  // namespace sigillon
