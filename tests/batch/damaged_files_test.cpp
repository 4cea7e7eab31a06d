// sigillon-batch on JPEG files whose picture data ends early or is damaged:
// refused with the row where the data fails, and nothing written, unless
// --accept-damaged stamps what they hold and says so; harmless faults are
// only warnings. djpeg, libjpeg's own program, confirms what each file is.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/support/bare_libjpeg.h"
#include "tests/support/metadata_test_support.h"
#include "tests/support/process.h"

#ifndef SIGILLON_BATCH_TOOL
#error "SIGILLON_BATCH_TOOL must name the built sigillon-batch"
#endif

namespace fs = std::filesystem;

namespace sigillon {
namespace {

using testing::Bytes;
using testing::TempFolder;

const fs::path kPhotos = SIGILLON_PHOTOS_DIR;

Bytes Cut(const Bytes& file, int percent) {
    return Bytes(file.begin(), file.begin() + std::ptrdiff_t(file.size() * std::size_t(percent) / 100));
}

// What libjpeg's own program says of the file.
std::string DjpegSays(const std::string& path, std::vector<std::string> options = {}) {
    options.insert(options.begin(), SIGILLON_DJPEG);
    options.insert(options.end(), {"-outfile", "/dev/null", path});
    return testing::RunProcess(options).err;
}

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

// Where a marker first comes in the file.
std::size_t Find(const Bytes& file, std::uint8_t marker) {
    const std::uint8_t bytes[] = {0xFF, marker};
    return std::size_t(std::search(file.begin(), file.end(), std::begin(bytes), std::end(bytes)) -
                       file.begin());
}

TEST(DamagedJpegInputs, AreRefusedUnlessAcceptedAndTheDamageIsReported) {
    TempFolder folder;
    const Bytes photo = testing::Encoded(*testing::Gradient(320, 240));
    testing::WriteAll(folder / "cut.jpg", Cut(photo, 60));
    // Turned by its EXIF, so held whole.
    testing::WriteAll(folder / "turned.jpg", photo);
    testing::Exiftool(folder, {"-q", "-overwrite_original", "-Orientation#=6", folder / "turned.jpg"});
    testing::WriteAll(folder / "turned-cut.jpg", Cut(testing::ReadAll(folder / "turned.jpg"), 60));
    Bytes junk = photo;
    junk.insert(junk.begin() + std::ptrdiff_t(Find(junk, 0xDB)), {0x12, 0x34, 0x56});
    testing::WriteAll(folder / "junk.jpg", junk);

    struct Input {
        std::string name;
        const char* djpeg;  // libjpeg's own words for it
        bool refused;       // without --accept-damaged
        const char* told;   // how the refusal or the warning begins
    };
    std::vector<Input> inputs = {
        {"cut.jpg", "Premature end of JPEG file", true, "JPEG: the data ends at row "},
        {"turned-cut.jpg", "Premature end of JPEG file", true, "JPEG: the data ends at row "},
        {"junk.jpg", "3 extraneous bytes before marker 0xdb", false,
         "JPEG: skipped 3 stray bytes before marker 0xdb"},
    };
    // A camera's photo, turned by its EXIF as well.
    if (fs::exists(kPhotos / "canon-hdr.jpg")) {
        testing::WriteAll(folder / "canon-cut.jpg", Cut(testing::ReadAll(kPhotos / "canon-hdr.jpg"), 60));
        inputs.push_back({"canon-cut.jpg", "Premature end of JPEG file", true, "JPEG: the data ends at row "});
    } else {
        std::printf("%s is absent: the camera's photo is left out\n", (kPhotos / "canon-hdr.jpg").c_str());
    }

    for (const bool accept : {false, true}) {
        SCOPED_TRACE(accept ? "--accept-damaged" : "refusing");
        fs::remove_all(folder / "out");
        fs::create_directory(folder / "out");
        std::vector<std::string> argv = {SIGILLON_BATCH_TOOL, "--out", folder / "out", "--report",
                                         folder / "report.jsonl"};
        if (accept) argv.push_back("--accept-damaged");
        for (const Input& input : inputs) argv.push_back(folder / input.name);
        const testing::ProcessRun run = testing::RunProcess(argv);

        std::vector<nlohmann::json> report;
        for (const std::string& line : testing::ProcessRun::Lines(testing::ReadWholeFile(folder / "report.jsonl")))
            report.push_back(nlohmann::json::parse(line));
        ASSERT_EQ(report.size(), inputs.size()) << run.err;
        int failed = 0;
        for (const Input& input : inputs) {
            SCOPED_TRACE(input.name);
            const std::string path = folder / input.name;
            EXPECT_NE(DjpegSays(path).find(input.djpeg), std::string::npos) << DjpegSays(path);
            const auto entry = std::find_if(report.begin(), report.end(), [&](const nlohmann::json& e) {
                return e["input"] == path;
            });
            ASSERT_NE(entry, report.end());
            const bool refused = input.refused && !accept;
            failed += refused;
            EXPECT_EQ((*entry)["status"], refused ? "failed" : "saved");
            EXPECT_EQ(fs::exists(folder / ("out/" + input.name)), !refused);
            const std::vector<std::string> warnings = (*entry)["warnings"];
            std::vector<std::string> said;  // the lines on standard error
            for (const std::string& line : run.ErrLines())
                if (StartsWith(line, path + ": ")) said.push_back(line);
            if (refused) {
                const std::string reason = (*entry)["reason"];
                EXPECT_EQ(reason.find(input.told), (path + " - Error: wrong format (").size()) << reason;
                EXPECT_TRUE(warnings.empty());
                EXPECT_EQ(said, std::vector<std::string>{path + ": " + reason});
            } else {
                // The damage or stray bytes once; a JPEG kept in its encoding
                // also says why its blocks were encoded again.
                std::vector<std::string> lines;
                int told = 0;
                for (const std::string& warning : warnings) {
                    told += StartsWith(warning, input.told);
                    EXPECT_TRUE(StartsWith(warning, input.told) ||
                                StartsWith(warning, "re-encoded with the input's tables: "))
                        << warning;
                    lines.push_back(path + ": warning: " + warning);
                }
                EXPECT_EQ(told, 1);
                EXPECT_EQ(said, lines);
            }
        }
        EXPECT_EQ(run.status, failed ? 1 : 0) << run.err;
    }
}

// A few hundred bytes whose header claims 65,000 x 65,000 pixels are refused
// at the first row, whatever the output type and the thread that writes,
// and leave nothing in the output folder.
TEST(DamagedJpegInputs, AHugeHeaderOverAFewBytesIsRefusedAtItsFirstRow) {
    TempFolder folder;
    const Bytes gray(16 * 16, 128);
    bare::EncodeRequest request{gray.data(), 16, 16, 1, JCS_GRAYSCALE};
    Bytes file;
    ASSERT_TRUE(bare::Encode(request, file));
    const std::size_t sof = Find(file, 0xC0);
    for (std::size_t at : {sof + 5, sof + 7}) file[at] = 65000 >> 8, file[at + 1] = 65000 & 0xFF;
    const std::string input = folder / "huge.jpg";
    testing::WriteAll(input, file);
    // Only its top left corner, which is quicker to decode.
    EXPECT_NE(DjpegSays(input, {"-crop", "16x16+0+0"}).find("premature end of data segment"), std::string::npos);

    const struct {
        const char* to;
        const char* thread;
    } cases[] = {{".jpg", "on"}, {".jpg", "off"}, {".bmp", "on"}, {".png", "off"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.to) + ", writing thread " + c.thread);
        fs::remove_all(folder / "out");
        fs::create_directory(folder / "out");
        const auto start = std::chrono::steady_clock::now();
        const testing::ProcessRun run = testing::RunProcess(
            {SIGILLON_BATCH_TOOL, "--to", c.to, "--encoder-thread", c.thread, "--out", folder / "out", input});
        std::printf("%zu bytes claiming 65000 x 65000 to %s refused in %.0f ms\n", file.size(), c.to,
                    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, input + ": " + input + " - Error: wrong format (JPEG: the data ends at row 1 of 65000)\n");
        EXPECT_TRUE(fs::is_empty(folder / "out"));
    }
}

}  // namespace
}  // namespace sigillon
