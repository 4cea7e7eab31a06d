// The metadata of real cameras' files (../shared/photos, kept outside the
// repository): every EXIF block is edited in place, checked tag by tag,
// and left with no picture of the photo.
#include <gtest/gtest.h>

#include <filesystem>

#include "pictures/jpeg/jpeg_metadata.h"
#include "pictures/metadata/exif_pictures.h"
#include "pictures/metadata/metadata_edit.h"
#include "tests/support/metadata_test_support.h"

namespace sigillon {
namespace {

std::vector<std::filesystem::path> CameraFiles() {
    std::vector<std::filesystem::path> files;
    if (!std::filesystem::is_directory(SIGILLON_PHOTOS_DIR)) return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(SIGILLON_PHOTOS_DIR))
        if (entry.path().extension() == ".jpg") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(CameraFiles, EveryExifBlockIsEditedInPlaceAndReadsBackTagByTag) {
    const std::vector<std::filesystem::path> files = CameraFiles();
    if (files.empty()) GTEST_SKIP() << "no camera files at " << SIGILLON_PHOTOS_DIR;
    std::size_t withExif = 0;
    for (const auto& file : files) {
        SCOPED_TRACE(file.filename().string());
        const testing::Bytes bytes = testing::ReadAll(file);
        PictureMetadata m = ReadJpegMetadata(bytes.data(), bytes.size());
        const bool hadExif = !m.exif.empty();
        MetadataChanges changes;
        changes.copyright = "\xC2\xA9 2026 Sigillon Tests";
        changes.resetOrientation = ExifOrientation(m) != 1;
        MetadataReport report;
        for (const std::string& warning : EditMetadata(m, changes, &report))
            EXPECT_EQ(warning.rfind("removed the maker note's preview picture (", 0), 0u)
                << warning;
        EXPECT_EQ(report.exif,
                  hadExif ? MetadataReport::Exif::InPlace : MetadataReport::Exif::Made);
        if (!hadExif) continue;
        ++withExif;
        EXPECT_GT(report.exifTagsCompared, 0u);
        ::testing::Test::RecordProperty(file.filename().string() + " EXIF tags compared",
                                        std::to_string(report.exifTagsCompared));
        const std::optional<ExifLayout> layout = ReadExifLayout(m.exif);
        ASSERT_TRUE(layout);
        EXPECT_TRUE(layout->pictures.empty()) << layout->pictures.front().what;
        EXPECT_EQ(ExifOrientation(m), 1);
    }
    EXPECT_GE(withExif, 30u);
}

}  // namespace
}  // namespace sigillon
