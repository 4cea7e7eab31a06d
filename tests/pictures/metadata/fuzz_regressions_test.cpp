// What the metadata fuzz target found, and its seeds, replayed through the
// same path.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "fuzz/metadata_path.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(MetadataFuzzFindings, EveryFindingAndSeedKeepsThePromises) {
    std::size_t findings = 0;
    for (const auto& folder : {SIGILLON_METADATA_REGRESSIONS, SIGILLON_FUZZ_DIR "/corpus/metadata"})
        for (const auto& file : FilesIn(folder)) {
            const testing::Bytes bytes = testing::ReadAll(file);
            EXPECT_TRUE(fuzzing::MetadataPathHolds(bytes.data(), bytes.size())) << file;
            ++findings;
        }
    EXPECT_GE(findings, 8u);
}

// The seeds stand for what their names say: a photograph's blocks that
// Exiv2 reads, turned by a quarter; editing them drops nothing (it may
// remove their thumbnails).
TEST(MetadataFuzzFindings, SeedsHoldReadableBlocks) {
    for (const auto& file : FilesIn(SIGILLON_FUZZ_DIR "/corpus/metadata")) {
        const testing::Bytes bytes = testing::ReadAll(file);
        const std::string name = file.filename();
        PictureMetadata m;
        if (name.starts_with("jpeg"))
            m = ReadJpegMetadata(bytes.data() + 1, bytes.size() - 1);
        else if (name.starts_with("exif"))
            m.exif.assign(bytes.begin() + 1, bytes.end());
        else
            m.xmp.assign(bytes.begin() + 1, bytes.end());
        EXPECT_EQ(ExifOrientation(m), name == "jpeg-plain" || name.starts_with("xmp") ? 1 : 6)
            << name;
        for (const std::string& warning : EditMetadata(m, {}))
            EXPECT_EQ(warning.rfind("removed the ", 0), 0u) << name << ": " << warning;
        EXPECT_EQ(m.Empty(), name == "jpeg-plain") << name;
    }
}

}  // namespace
}  // namespace sigillon
