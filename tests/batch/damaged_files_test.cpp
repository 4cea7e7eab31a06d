// sigillon-batch on JPEG files whose picture data ends early: refused with
// nothing written, unless --accept-damaged stamps what they hold and says so
// once; stray bytes are only a warning. Which fault gives which words at
// which row, confirmed by djpeg, is the JPEG reader's tests' to check.
#include <gtest/gtest.h>

#include <algorithm>
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

Bytes Cut(const Bytes& file) { return Bytes(file.begin(), file.begin() + std::ptrdiff_t(file.size() * 3 / 5)); }

std::size_t Find(const Bytes& file, std::uint8_t marker) {
    const std::uint8_t bytes[] = {0xFF, marker};
    return std::size_t(std::search(file.begin(), file.end(), bytes, bytes + 2) - file.begin());
}

bool StartsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

TEST(DamagedJpegInputs, AreRefusedUnlessAcceptedAndTheDamageIsReported) {
    testing::TempFolder folder;
    const Bytes photo = testing::Encoded(*testing::Gradient(320, 240));
    testing::WriteAll(folder / "cut.jpg", Cut(photo));
    // Turned by its EXIF, so held whole.
    testing::WriteAll(folder / "turned.jpg", photo);
    testing::Exiftool(folder, {"-q", "-overwrite_original", "-Orientation#=6", folder / "turned.jpg"});
    testing::WriteAll(folder / "turned-cut.jpg", Cut(testing::ReadAll(folder / "turned.jpg")));
    Bytes junk = photo;
    junk.insert(junk.begin() + std::ptrdiff_t(Find(junk, 0xDB)), {0x12, 0x34, 0x56});
    testing::WriteAll(folder / "junk.jpg", junk);
    struct Input {
        std::string name;
        bool refused;      // without --accept-damaged
        const char* told;  // how the refusal or the warning begins
    };
    const char* const ends = "JPEG: the data ends at row ";
    std::vector<Input> inputs = {{"cut.jpg", true, ends},
                                 {"turned-cut.jpg", true, ends},
                                 {"junk.jpg", false, "JPEG: skipped 3 stray bytes before marker 0xdb"}};
    // A camera's photo, turned by its EXIF as well.
    if (const fs::path canon = fs::path(SIGILLON_PHOTOS_DIR) / "canon-hdr.jpg"; fs::exists(canon)) {
        testing::WriteAll(folder / "canon-cut.jpg", Cut(testing::ReadAll(canon)));
        inputs.push_back({"canon-cut.jpg", true, ends});
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
            const auto entry = std::find_if(report.begin(), report.end(), [&](auto& e) { return e["input"] == path; });
            ASSERT_NE(entry, report.end());
            const bool refused = input.refused && !accept;
            failed += refused;
            EXPECT_EQ((*entry)["status"], refused ? "failed" : "saved");
            EXPECT_EQ(fs::exists(folder / ("out/" + input.name)), !refused);
            const std::vector<std::string> warnings = (*entry)["warnings"];
            std::vector<std::string> said, lines;  // on standard error; the report's warnings there
            for (const std::string& line : run.ErrLines())
                if (StartsWith(line, path + ": ")) said.push_back(line);
            if (refused) {
                const std::string reason = (*entry)["reason"];
                EXPECT_TRUE(StartsWith(reason, path + " - Error: wrong format (" + input.told)) << reason;
                EXPECT_TRUE(warnings.empty());
                EXPECT_EQ(said, std::vector<std::string>{path + ": " + reason});
                continue;
            }
            // The damage or stray bytes once; a JPEG kept in its encoding
            // also says why its blocks were encoded again.
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
        EXPECT_EQ(run.status, failed ? 1 : 0) << run.err;
    }
}

// A few hundred bytes whose header claims 65,000 x 65,000 pixels are refused
// at the first row, whatever the output type and the thread that writes,
// and leave nothing in the output folder.
TEST(DamagedJpegInputs, AHugeHeaderOverAFewBytesIsRefusedAtItsFirstRow) {
    testing::TempFolder folder;
    const Bytes gray(16 * 16, 128);
    bare::EncodeRequest request{gray.data(), 16, 16, 1, JCS_GRAYSCALE};
    Bytes file;
    ASSERT_TRUE(bare::Encode(request, file));
    const std::size_t sof = Find(file, 0xC0);
    for (std::size_t at : {sof + 5, sof + 7}) file[at] = 65000 >> 8, file[at + 1] = 65000 & 0xFF;
    const std::string input = folder / "huge.jpg";
    testing::WriteAll(input, file);
    // Only its top left corner, which is quicker to decode.
    const testing::ProcessRun djpeg =
        testing::RunProcess({SIGILLON_DJPEG, "-crop", "16x16+0+0", "-outfile", "/dev/null", input});
    EXPECT_NE(djpeg.err.find("premature end of data segment"), std::string::npos) << djpeg.err;

    const std::pair<const char*, const char*> cases[] = {
        {".jpg", "on"}, {".jpg", "off"}, {".bmp", "on"}, {".png", "off"}};
    for (const auto& [to, thread] : cases) {
        SCOPED_TRACE(std::string(to) + ", writing thread " + thread);
        fs::remove_all(folder / "out");
        fs::create_directory(folder / "out");
        const testing::ProcessRun run = testing::RunProcess(
            {SIGILLON_BATCH_TOOL, "--to", to, "--encoder-thread", thread, "--out", folder / "out", input});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, input + ": " + input + " - Error: wrong format (JPEG: the data ends at row 1 of 65000)\n");
        EXPECT_TRUE(fs::is_empty(folder / "out"));
    }
}

}  // namespace
}  // namespace sigillon
