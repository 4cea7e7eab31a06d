// The fuzz targets' seeds are valid files of the forms they stand for.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "pictures/bmp/bmp.h"
#include "pictures/heif/heif_file.h"
#include "pictures/jpeg/jpeg_image.h"
#include "pictures/png/png_file.h"
#include "pictures/tiff/tiff_file.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

const std::filesystem::path kFuzz = SIGILLON_FUZZ_DIR;

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    if (std::filesystem::is_directory(folder))
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// True when the reader gave a picture, false when it refused the bytes;
// any other way out fails the test.
bool LoadsBmp(const testing::Bytes& bytes) {
    TBitmap picture;
    try {
        ReadBmpData(picture, bytes.data(), bytes.size());
    } catch (const BitmapError&) {
        return false;
    }
    std::vector<std::uint8_t> written = EncodeBmp(picture);
    TBitmap back;
    ReadBmpData(back, written.data(), written.size());
    EXPECT_EQ(back.Width(), picture.Width());
    return !picture.IsEmpty();
}

bool LoadsJpeg(const testing::Bytes& bytes) {
    for (JpegPixelFormat format : {JpegPixelFormat::Bits24, JpegPixelFormat::Bits8}) {
        TJPEGImage jpeg;
        jpeg.SetPixelFormat(format);
        try {
            jpeg.LoadFromBytes(bytes.data(), bytes.size());
            if (jpeg.Bitmap().IsEmpty()) return false;
        } catch (const BitmapError&) {
            return false;
        }
    }
    return true;
}

bool LoadsPng(const testing::Bytes& bytes) {
    try {
        return !ReadPngData(bytes.data(), bytes.size()).pixels->IsEmpty();
    } catch (const BitmapError&) {
        return false;
    }
}

bool LoadsTiff(const std::filesystem::path& file) {
    try {
        return !ReadTiffFile(file, {}).pixels->IsEmpty();
    } catch (const BitmapError&) {
        return false;
    }
}

TEST(FuzzCorpus, EverySeedIsAValidFile) {
    std::size_t seeds = 0;
    for (const auto& file : FilesIn(kFuzz / "corpus/bmp")) {
        EXPECT_TRUE(LoadsBmp(testing::ReadAll(file))) << file;
        ++seeds;
    }
    for (const auto& file : FilesIn(kFuzz / "corpus/jpeg")) {
        EXPECT_TRUE(LoadsJpeg(testing::ReadAll(file))) << file;
        ++seeds;
    }
    for (const auto& file : FilesIn(kFuzz / "corpus/png")) {
        EXPECT_TRUE(LoadsPng(testing::ReadAll(file))) << file;
        ++seeds;
    }
    for (const auto& file : FilesIn(kFuzz / "corpus/heif")) {
        const testing::Bytes bytes = testing::ReadAll(file);
        EXPECT_NO_THROW(ReadHeifData({bytes.data(), bytes.size()}, {})) << file;
    }
    for (const auto& file : FilesIn(kFuzz / "corpus/tiff")) {
        EXPECT_TRUE(LoadsTiff(file)) << file;
        ++seeds;
    }
    EXPECT_GE(seeds, 50u);
}

}  // namespace
}  // namespace sigillon
