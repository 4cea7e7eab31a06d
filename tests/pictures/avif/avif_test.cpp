// AVIF files written through libavif: avifdec decodes them, close to the
// picture and with its alpha exact; a quality makes what avifenc makes at
// the quantizer it maps to, however the rows come; exiftool reads back the
// EXIF, XMP and profile.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pictures/avif/avif_file.h"
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

// Writes the picture's rows in runs of 1, 3, 2, 7, 1, 3, ... rows, so that
// bands start at odd rows and run past the writer's own.
void WriteAvif(const std::string& path, const TBitmap& picture, std::span<const std::uint8_t> alpha,
               const PictureMetadata& metadata, int quality) {
    const auto writer = CreateAvifRowWriter(path, picture.Image(), alpha, metadata, quality);
    const std::size_t stride = std::size_t(picture.Image().stride);
    const std::int32_t runs[] = {1, 3, 2, 7};
    std::vector<std::uint8_t> rows;
    for (std::int32_t y = 0, k = 0; y < picture.Height(); ++k) {
        const std::int32_t count = std::min(runs[k % 4], picture.Height() - y);
        rows.resize(std::size_t(count) * stride);
        for (std::int32_t i = 0; i < count; ++i)
            std::memcpy(&rows[std::size_t(i) * stride], picture.RowAddress(y + i), stride);
        writer->Write(rows.data(), count);
        y += count;
    }
    writer->Finish();
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
    for (std::size_t i = 0; i < alpha.size(); ++i)
        alpha[i] = std::uint8_t(i % 200 < 50 ? 0 : i % 256);
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
    WriteAvif(path, *picture, alpha, metadata, 90);
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
// are compared fairly. So wide a picture takes ten rows a band: rows go
// through the band and past it, and an odd height leaves a last row alone
// in it; a palette picture goes through its 24-bit rows.
TEST(AvifWriting, AQualityEncodesAsAvifencAtItsQuantizer) {
    testing::TempFolder folder;
    auto picture = testing::Gradient(8001, 41);
    TBitmap palette;
    palette.ShareImage(*picture);
    palette.SetDepth(Depth8);
    struct Case {
        const TBitmap* picture;
        int quality, quantizer;
    };
    const Case cases[] = {
        {picture.get(), 100, 0}, {picture.get(), 70, 19}, {picture.get(), 50, 32},
        {picture.get(), 1, 62},  {&palette, 70, 19},
    };
    for (const auto& [source, quality, quantizer] : cases) {
        SCOPED_TRACE(::testing::Message() << quality << (source == &palette ? " palette" : ""));
        const ByteBlock png = EncodePng(*source, {}, {});
        testing::WriteAll(folder / "in.png", Bytes(png.data(), png.data() + png.size()));
        EXPECT_EQ(AvifQuantizerFor(quality), quantizer);
        WriteAvif(folder / "ours.avif", *source, {}, {}, quality);
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
    EXPECT_THROW(WriteAvif(path, *picture, shortAlpha, {}, 70), BitmapError);
    {
        const auto writer = CreateAvifRowWriter(path, picture->Image(), {}, {}, 70);
        writer->Write(picture->RowAddress(0), 1);
        EXPECT_THROW(writer->Finish(), BitmapError);  // 29 rows never came
    }
    EXPECT_EQ(testing::ReadAll(path), (Bytes{'o', 'l', 'd'}));
    EXPECT_THROW(WriteAvif(folder / "no/such/folder.avif", *picture, {}, {}, 70), BitmapError);
}

}  // namespace
}  // namespace sigillon
