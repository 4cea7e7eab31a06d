// sigillon-batch on many pictures and many machines: lists of inputs,
// shards, skipping what a run already saved, and the report; in process
// where a piece is a plain function, else the built tool in a child.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/batch/job.h"
#include "app/batch/options.h"
#include "app/batch/plan.h"
#include "app/batch/run.h"
#include "app/batch/input_list.h"
#include "app/batch/report.h"
#include "app/batch/run.h"
#include "pictures/picture_files.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"
#include "tests/support/process.h"

#ifndef SIGILLON_BATCH_TOOL
#error "SIGILLON_BATCH_TOOL must name the built sigillon-batch"
#endif

namespace fs = std::filesystem;
using namespace sigillon;
using sigillon::testing::ProcessRun;
using sigillon::testing::ReadWholeFile;
using namespace std::string_literals;

namespace {

// ---- Lists and shards, in process ----------------------------------------------

TEST(InputLists, EntriesKeepEveryByteButTheirSeparator) {
    struct Case {
        std::string bytes;
        bool nul;
        std::vector<std::string> paths;
    };
    const Case cases[] = {
        {"a.bmp\nb.jpg\n", false, {"a.bmp", "b.jpg"}},
        {"a.bmp\r\nb.jpg", false, {"a.bmp", "b.jpg"}},  // CRLF lines, no final line end
        {"\n\na.bmp\n\r\n\n", false, {"a.bmp"}},
        {" a b.bmp \n\tc.bmp\n", false, {" a b.bmp ", "\tc.bmp"}},
        {"a.bmp\r\r\n", false, {"a.bmp\r"}},  // only the CR of the line end goes
        {"a\rb.bmp\n", false, {"a\rb.bmp"}},
        {"\xFF\xFE.bmp\n", false, {"\xFF\xFE.bmp"}},
        {"a.bmp\0b\nc.bmp\0\0"s, true, {"a.bmp", "b\nc.bmp"}},
        {"x.bmp\r\0"s, true, {"x.bmp\r"}},
        {"", false, {}},
        {"", true, {}},
    };
    for (const Case& c : cases) {
        batch::InputList list = batch::SplitInputList(c.bytes, c.nul);
        EXPECT_EQ(list.problem, "") << c.bytes;
        EXPECT_EQ(list.paths, c.paths) << c.bytes;
    }
    // find -print0 read as lines: no path may hold a NUL byte.
    batch::InputList nul = batch::SplitInputList("a.bmp\nb.bmp\0c.bmp\0"s, false);
    EXPECT_EQ(nul.problem, "line 2 holds a NUL byte (-0 reads a NUL-separated list)");
    EXPECT_TRUE(nul.paths.empty());
}

// The published FNV-1a test values ("a", "foobar") and others worked out
// apart from this code; so a list splits the same on every machine.
TEST(InputLists, ShardsFollowTheFnv1aHashOfThePath) {
    struct Case {
        std::string path;
        std::uint64_t hash;
        std::uint64_t of3;
        std::uint64_t of7;
    };
    const Case cases[] = {
        {"", 0xcbf29ce484222325ull, 2, 2},
        {"a", 0xaf63dc4c8601ec8cull, 1, 5},
        {"foobar", 0x85944171f73967e8ull, 0, 6},
        {"photos/IMG_0001.jpg", 0x2d57ef0c1163285full, 1, 3},
        {"/data/in/\xFF\xFE.bmp", 0xc1aca1f7054941c5ull, 0, 6},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(batch::PathHash(c.path), c.hash) << c.path;
        for (std::uint64_t k = 0; k < 7; ++k) {
            EXPECT_EQ(batch::InShard(c.path, {k % 3, 3}), k % 3 == c.of3) << c.path;
            EXPECT_EQ(batch::InShard(c.path, {k, 7}), k == c.of7) << c.path;
        }
        EXPECT_TRUE(batch::InShard(c.path, {0, 1}));
    }
}

TEST(InputLists, EveryPathBelongsToOneShardAndTheShardsShareEvenly) {
    for (std::uint64_t count : {2u, 3u, 7u}) {
        std::vector<int> sizes(count);
        for (int i = 0; i < 2100; ++i) {
            std::string path = "scans/" + std::to_string(i) + ".jpg";
            int owners = 0;
            for (std::uint64_t k = 0; k < count; ++k)
                if (batch::InShard(path, {k, count})) ++owners, ++sizes[k];
            EXPECT_EQ(owners, 1) << path;
        }
        for (int size : sizes) EXPECT_GT(size, 2100 / int(count) * 3 / 4) << count;
    }
}

// ---- The report line, in process ------------------------------------------------

TEST(Report, OneJsonObjectALineInAFixedOrder) {
    struct Case {
        batch::BatchJob job;
        batch::JobResult result;
        std::string line;
    };
    batch::JobResult saved{batch::JobStatus::Saved, "", {}, 640, 480, 12.3456789, {}};
    batch::JobResult skipped{batch::JobStatus::Skipped, "", {}, 0, 0, 0, {}};
    batch::JobResult refused{
        batch::JobStatus::Failed, "not saved, o/a.bmp exists", {}, 0, 0, 0.0004, {}};
    batch::JobResult tooSmall{
        batch::JobStatus::Failed, "Select a picture to stamp!", {}, 20, 20, 1.5, {}};
    batch::JobResult warned{batch::JobStatus::Saved, "",
                            {"EXIF block of 28 bytes dropped: \"bad\"", "XMP packet dropped"},
                            64, 48, 2, {}};
    const Case cases[] = {
        {{"in/a.bmp", false, "o/a.bmp", {}, false},
         saved,
         R"({"input":"in/a.bmp","output":"o/a.bmp")"
         R"(,"status":"saved","reason":"","width":640,"height":480,"ms":12.346,"warnings":[]})"},
        {{"a.bmp", false, "o/a.bmp", {}, true},
         skipped,
         R"({"input":"a.bmp","output":"o/a.bmp")"
         R"(,"status":"skipped","reason":"","width":null,"height":null,"ms":0.0,"warnings":[]})"},
        {{"a.bmp", false, "o/a.bmp", {}, false},
         refused,
         R"({"input":"a.bmp","output":"o/a.bmp")"
         R"(,"status":"failed","reason":"not saved, o/a.bmp exists","width":null,"height":null,"ms":0.0,"warnings":[]})"},
        {{"t.bmp", false, "t.jpg", {}, false},
         tooSmall,
         R"({"input":"t.bmp","output":"t.jpg")"
         R"(,"status":"failed","reason":"Select a picture to stamp!","width":20,"height":20,"ms":1.5,"warnings":[]})"},
        // Quotes, controls and bytes that are no UTF-8 (they become U+FFFD).
        {{"q\"\n\\\xFF.bmp", false, "\xC3\xA9\xE9.jpg", {}, false},
         saved,
         "{\"input\":\"q\\\"\\n\\\\\xEF\xBF\xBD.bmp\",\"output\":\"\xC3\xA9\xEF\xBF\xBD.jpg\","
         "\"status\":\"saved\",\"reason\":\"\",\"width\":640,\"height\":480,\"ms\":12.346,"
         "\"warnings\":[]}"},
        // Saved with metadata dropped: each warning a string, in order.
        {{"w.jpg", false, "o/w.jpg", {}, false},
         warned,
         R"({"input":"w.jpg","output":"o/w.jpg","status":"saved","reason":"","width":64,"height":48,"ms":2.0)"
         R"(,"warnings":["EXIF block of 28 bytes dropped: \"bad\"","XMP packet dropped"]})"},
    };
    for (const Case& c : cases) EXPECT_EQ(batch::ReportLine(c.job, c.result), c.line + "\n");
}

// ---- The tool ---------------------------------------------------------------------

std::unique_ptr<TBitmap> Picture(int width, int height, int seed) {
    return sigillon::testing::MakeTrueColourPicture(width, height,
                                                    [seed](int x, int y, std::uint8_t* p) {
                                                        p[0] = std::uint8_t(x * 3 + y + seed);
                                                        p[1] = std::uint8_t(y * 5 + seed * 7);
                                                        p[2] = std::uint8_t((x ^ y) + seed * 13);
                                                    });
}

// Dark, bright and transparent white pixels.
std::unique_ptr<TBitmap> Stamp() {
    return sigillon::testing::MakeTrueColourPicture(24, 12, [](int x, int y, std::uint8_t* p) {
        bool white = (x + y) % 3 == 0;
        p[0] = white ? 255 : std::uint8_t(x * 9);
        p[1] = white ? 255 : std::uint8_t(200 - y * 7);
        p[2] = white ? 255 : 30;
    });
}

// Saving renames a new file into place, so a file written again has
// another inode.
ino_t InodeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

std::vector<nlohmann::json> ReportObjects(const fs::path& path) {
    std::vector<nlohmann::json> objects;
    for (const std::string& line : ProcessRun::Lines(ReadWholeFile(path)))
        objects.push_back(nlohmann::json::parse(line));
    return objects;
}

class BatchFleet : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return (dir_ / name).string(); }
    void Save(const TBitmap& picture, const std::string& name) const {
        ASSERT_EQ(SavePictureFileQuiet(picture, P(name)), FileOutcome::Done) << name;
    }
    void Write(const std::string& name, const std::string& bytes) const {
        std::ofstream(P(name), std::ios::binary) << bytes;
    }
    std::set<std::string> Files(const std::string& folder) const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_ / folder))
            names.insert(entry.path().filename().string());
        return names;
    }
    ProcessRun Run(const std::vector<std::string>& args, const std::string& input = {}) const {
        std::vector<std::string> argv = {SIGILLON_BATCH_TOOL};
        argv.insert(argv.end(), args.begin(), args.end());
        return sigillon::testing::RunProcess(argv, dir_, input);
    }

    sigillon::testing::TempFolder folder_;  // removed with the test
    fs::path dir_ = folder_.path();
};

TEST_F(BatchFleet, InputsFromAListAndFromArgumentsCombine) {
    for (const char* name : {"a.bmp", "b c.bmp", "d.bmp", "e\nf.bmp", "g.bmp"})
        Save(*Picture(40, 30, 1), name);
    fs::create_directory(dir_ / "out");
    Write("list", "a.bmp\r\n\nb c.bmp\n");
    ProcessRun lines = Run({"--out", "out", "--files-from", "list", "d.bmp"});
    EXPECT_EQ(lines.status, 0) << lines.err;
    EXPECT_EQ(lines.err, "");
    EXPECT_EQ(lines.OutLines().back(), "3 saved, 0 failed");
    EXPECT_EQ(Files("out"), (std::set<std::string>{"a.bmp", "b c.bmp", "d.bmp"}));

    // From standard input, NUL-separated, as find -print0 writes names.
    ProcessRun piped = Run({"--out=out", "-0", "--files-from=-", "--force"}, "e\nf.bmp\0g.bmp\0"s);
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, "2 saved, 0 failed\n");
    EXPECT_EQ(Files("out"),
              (std::set<std::string>{"a.bmp", "b c.bmp", "d.bmp", "e\nf.bmp", "g.bmp"}));

    // An empty list is a run with nothing to do, as an empty shard is.
    Write("empty", "\n\n");
    ProcessRun none = Run({"--out", "out", "--files-from", "empty"});
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(none.out, "0 saved, 0 failed\n");
}

TEST_F(BatchFleet, AListThatCannotBeUsedStopsTheRunBeforeAnything) {
    Save(*Picture(40, 30, 1), "a.bmp");
    fs::create_directory(dir_ / "out");
    Write("nul", "a.bmp\0"s);
    fs::create_directory(dir_ / "folder");
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const Case cases[] = {
        {{"--files-from", "missing", "a.bmp"},
         "sigillon-batch: cannot read the list missing: No such file or directory\n"},
        {{"--files-from", "folder"},
         "sigillon-batch: cannot read the list folder: Is a directory\n"},
        {{"--files-from", "nul", "a.bmp"},
         "sigillon-batch: the list nul: line 1 holds a NUL byte (-0 reads a NUL-separated list)\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--out", "out"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ProcessRun run = Run(args);
        EXPECT_EQ(run.status, 2) << c.err;
        EXPECT_EQ(run.err, c.err);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(Files("out").empty()) << c.err;
    }
}

TEST_F(BatchFleet, SkipExistingLeavesOutputsAloneAndStillRefusesInputs) {
    fs::create_directories(dir_ / "out");
    fs::create_directories(dir_ / "x");
    Save(*Picture(40, 30, 1), "a.bmp");
    Save(*Picture(40, 30, 2), "b.bmp");
    Save(*Picture(40, 30, 3), "x/b.bmp");
    Save(*Picture(40, 30, 4), "c.bmp");
    Write("out/a.bmp", "kept as it is");  // a whole file, whatever it holds
    fs::create_directory(dir_ / "out/c.bmp");
    struct stat before;
    ASSERT_EQ(stat(P("out/a.bmp").c_str(), &before), 0);

    ProcessRun run = Run({"--skip-existing", "--out", "out", "--report", "r.jsonl", "a.bmp",
                          "b.bmp", "x/b.bmp", "c.bmp"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.ErrLines(),
              (std::vector<std::string>{"x/b.bmp: not saved, b.bmp is saved as out/b.bmp too",
                                        "c.bmp: not saved, out/c.bmp exists and is not a file"}));
    EXPECT_EQ(run.out, "1 saved, 2 failed, 1 skipped\n");
    struct stat after;
    ASSERT_EQ(stat(P("out/a.bmp").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(ReadWholeFile(P("out/a.bmp")), "kept as it is");

    // Run again: what was saved is skipped now, the refusals stay. The one
    // new picture is the last to stamp, so it may take a second core for
    // its writing: the skipped and refused ones need none.
    Save(*Picture(40, 30, 5), "d.bmp");
    ProcessRun again = Run({"--skip-existing", "--jobs", "1", "--verbose", "--out", "out", "d.bmp",
                            "a.bmp", "b.bmp", "x/b.bmp", "c.bmp"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.out, "1 saved, 2 failed, 2 skipped\n");
    const std::string route = batch::AvailableCores() > 1 ? "d.bmp: row by row, writing on a second thread"
                                                          : "d.bmp: row by row, on one thread";
    const std::vector<std::string> lines = again.ErrLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), route), 1) << again.err;

    // Beside itself, the output is the input: never skipped, never written.
    const std::string a = ReadWholeFile(P("a.bmp"));
    ProcessRun own = Run({"--skip-existing", "a.bmp"});
    EXPECT_EQ(own.status, 1);
    EXPECT_EQ(own.err, "a.bmp: not saved, its output a.bmp is an input (choose --out or --to)\n");
    EXPECT_EQ(own.out, "0 saved, 1 failed\n");
    EXPECT_EQ(ReadWholeFile(P("a.bmp")), a);
}

TEST_F(BatchFleet, TheReportHasOneObjectPerInputOfItsShard) {
    fs::create_directory(dir_ / "out");
    Save(*Stamp(), "stamp.bmp");
    Save(*Picture(64, 48, 1), "good.bmp");
    Save(*Picture(70, 50, 2), "\xFF\xFE.bmp");
    Save(*Picture(20, 20, 3), "tiny.bmp");
    Save(*Picture(64, 48, 4), "old.bmp");
    Write("broken.bmp", "BM no picture");
    Write("out/old.jpg", "done before");
    ProcessRun run = Run({"--stamp", "stamp.bmp", "--to", ".jpg", "--out", "out", "--skip-existing",
                          "--jobs", "2", "--report", "r.jsonl", "good.bmp", "\xFF\xFE.bmp",
                          "tiny.bmp", "old.bmp", "broken.bmp"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "2 saved, 2 failed, 1 skipped\n");

    struct Expected {
        std::string output, status, reason;
        nlohmann::json width, height;
    };
    const std::map<std::string, Expected> expected = {
        {"good.bmp", {"out/good.jpg", "saved", "", 64, 48}},
        {"\xEF\xBF\xBD\xEF\xBF\xBD.bmp", {"out/\xEF\xBF\xBD\xEF\xBF\xBD.jpg", "saved", "", 70, 50}},
        {"tiny.bmp", {"out/tiny.jpg", "failed", "Select a picture to stamp!", 20, 20}},
        {"old.bmp", {"out/old.jpg", "skipped", "", nullptr, nullptr}},
        {"broken.bmp",
         {"out/broken.jpg", "failed",
          "broken.bmp - Error: wrong format (BMP: file ends inside the file header)", nullptr,
          nullptr}},
    };
    std::set<std::string> seen;
    for (const nlohmann::json& object : ReportObjects(dir_ / "r.jsonl")) {
        ASSERT_EQ(object.size(), 8u) << object;
        const std::string input = object.at("input");
        ASSERT_TRUE(expected.count(input)) << object;
        EXPECT_TRUE(seen.insert(input).second) << "reported twice: " << input;
        const Expected& e = expected.at(input);
        EXPECT_EQ(object.at("output"), e.output) << input;
        EXPECT_EQ(object.at("status"), e.status) << input;
        EXPECT_EQ(object.at("reason"), e.reason) << input;
        EXPECT_EQ(object.at("width"), e.width) << input;
        EXPECT_EQ(object.at("height"), e.height) << input;
        EXPECT_TRUE(object.at("ms").is_number() && object.at("ms") >= 0) << input;
        EXPECT_EQ(object.at("warnings"), nlohmann::json::array()) << input;
    }
    EXPECT_EQ(seen.size(), expected.size());

    // A stamp that does not load fails every input that is not done yet.
    Write("bad.bmp", "BM");
    ProcessRun badStamp = Run({"--stamp", "bad.bmp", "--to", ".jpg", "--out", "out",
                               "--skip-existing", "--report", "s.jsonl", "good.bmp", "tiny.bmp"});
    EXPECT_EQ(badStamp.status, 1);
    EXPECT_EQ(badStamp.out, "0 saved, 1 failed, 1 skipped\n");
    std::map<std::string, std::pair<std::string, std::string>> stampStatus;
    for (const nlohmann::json& object : ReportObjects(dir_ / "s.jsonl"))
        stampStatus[object.at("input")] = {object.at("status"), object.at("reason")};
    const std::string stampReason =
        "bad.bmp - Error: wrong format (BMP: file ends inside the file header)";
    EXPECT_EQ(stampStatus,
              (std::map<std::string, std::pair<std::string, std::string>>{
                  {"good.bmp", {"skipped", ""}}, {"tiny.bmp", {"failed", stampReason}}}));

    // A report the disk cannot take fails the run, but not the pictures.
    ProcessRun full = Run({"--to", ".bmp", "--out", "out", "--report", "/dev/full", "good.bmp"});
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.err,
              "sigillon-batch: cannot write the report /dev/full: No space left on device\n");
    EXPECT_EQ(full.out, "1 saved, 0 failed\n");

    // The report of an empty shard is an empty file.
    ProcessRun one = Run({"--out", "out", "--shard", "1/3", "--report", "e.jsonl", "a"});
    EXPECT_EQ(one.out, "0 saved, 1 failed\n") << "\"a\" is in part 1 of 3";
    ProcessRun nothing = Run({"--out", "out", "--shard", "0/3", "--report", "e.jsonl", "a"});
    EXPECT_EQ(nothing.status, 0) << nothing.err;
    EXPECT_EQ(nothing.out, "0 saved, 0 failed\n");
    EXPECT_EQ(ReadWholeFile(dir_ / "e.jsonl"), "");
}

// Metadata the tool cannot carry over is dropped, never silently.
TEST_F(BatchFleet, DroppedMetadataIsWarnedAboutAndThePictureStillSaved) {
    Save(*Picture(64, 48, 1), "plain.jpg");
    const std::string jpeg = ReadWholeFile(P("plain.jpg"));
    // An EXIF segment whose TIFF header points far outside it.
    const std::string exif = "Exif\0\0II*\0\xFF\xFF\xFF\x7F"s + std::string(20, '\0');
    const std::string app1 = "\xFF\xE1"s + char((exif.size() + 2) >> 8) + char(exif.size() + 2);
    Write("exif.jpg", jpeg.substr(0, 2) + app1 + exif + jpeg.substr(2));
    fs::create_directory(dir_ / "out");
    ProcessRun run = Run({"--out", "out", "--report", "r.jsonl", "exif.jpg"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "1 saved, 0 failed\n");
    const std::string prefix = "exif.jpg: warning: ";
    EXPECT_EQ(run.err.rfind(prefix + "EXIF block of 28 bytes dropped: ", 0), 0u) << run.err;
    ASSERT_EQ(run.ErrLines().size(), 1u) << run.err;
    EXPECT_TRUE(fs::exists(dir_ / "out/exif.jpg"));
    // The report carries the same warning.
    const std::vector<nlohmann::json> report = ReportObjects(dir_ / "r.jsonl");
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0]["status"], "saved");
    EXPECT_EQ(report[0]["warnings"],
              nlohmann::json::array({run.ErrLines()[0].substr(prefix.size())}));
}

TEST_F(BatchFleet, AReportThatWouldReplaceAFileOfTheRunIsRefused) {
    fs::create_directory(dir_ / "out");
    Save(*Stamp(), "stamp.bmp");
    Save(*Picture(64, 48, 1), "a.bmp");
    Write("list", "a.bmp\n");
    fs::create_symlink("a.bmp", dir_ / "link");
    struct Case {
        std::string report, err;
    };
    const Case cases[] = {
        {"a.bmp", "--report a.bmp is the input a.bmp"},
        {"link", "--report link is the input a.bmp"},
        {"stamp.bmp", "--report stamp.bmp is the stamp"},
        {"list", "--report list is the list of inputs"},
        {"out/../out/a.jpg", "--report out/../out/a.jpg is the output of a.bmp"},
    };
    const std::string a = ReadWholeFile(P("a.bmp"));
    const std::string stamp = ReadWholeFile(P("stamp.bmp"));
    for (const Case& c : cases) {
        ProcessRun run = Run({"--stamp", "stamp.bmp", "--to", "jpg", "--out", "out", "--files-from",
                              "list", "--report", c.report});
        EXPECT_EQ(run.status, 2) << c.report;
        EXPECT_EQ(run.err, "sigillon-batch: " + c.err + "; name another file\n");
        EXPECT_TRUE(Files("out").empty()) << c.report;
    }
    EXPECT_EQ(ReadWholeFile(P("a.bmp")), a);
    EXPECT_EQ(ReadWholeFile(P("stamp.bmp")), stamp);
    EXPECT_EQ(ReadWholeFile(P("list")), "a.bmp\n");
}

// Three workers, as on three machines, each given the whole list and its
// part number; GNU parallel starts them.
TEST_F(BatchFleet, GnuParallelSplitsOneListIntoThreeShards) {
    std::string list;
    for (int i = 0; i < 12; ++i) {
        std::string name = "pic" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".bmp";
        Save(*Picture(48 + i, 32, i), name);
        list += name + "\n";
    }
    Write("list", list);
    Save(*Stamp(), "stamp.bmp");
    fs::create_directory(dir_ / "out");

    ProcessRun run = sigillon::testing::RunProcess({"parallel",
                                                    "--will-cite",
                                                    SIGILLON_BATCH_TOOL,
                                                    "--stamp",
                                                    "stamp.bmp",
                                                    "--mode",
                                                    "8",
                                                    "--jobs",
                                                    "1",
                                                    "--out",
                                                    "out",
                                                    "--files-from",
                                                    "list",
                                                    "--shard",
                                                    "{}/3",
                                                    "--report",
                                                    "report{}.jsonl",
                                                    ":::",
                                                    "0",
                                                    "1",
                                                    "2"},
                                                   dir_);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.OutLines(), (std::vector<std::string>(3, "4 saved, 0 failed")));

    // Parts worked out from the 64-bit FNV-1a hash apart from this code.
    const std::vector<std::set<std::string>> parts = {
        {"pic03.bmp", "pic04.bmp", "pic06.bmp", "pic08.bmp"},
        {"pic01.bmp", "pic05.bmp", "pic07.bmp", "pic09.bmp"},
        {"pic00.bmp", "pic02.bmp", "pic10.bmp", "pic11.bmp"},
    };
    std::multiset<std::string> all;
    for (int k = 0; k < 3; ++k) {
        std::set<std::string> inputs;
        for (const nlohmann::json& object :
             ReportObjects(dir_ / ("report" + std::to_string(k) + ".jsonl"))) {
            EXPECT_EQ(object.at("status"), "saved") << object;
            inputs.insert(object.at("input").get<std::string>());
            all.insert(object.at("input").get<std::string>());
        }
        EXPECT_EQ(inputs, parts[k]) << "part " << k;
    }
    std::multiset<std::string> expected;
    for (const std::string& name : ProcessRun::Lines(list)) expected.insert(name);
    EXPECT_EQ(all, expected) << "every input saved exactly once";
    EXPECT_EQ(Files("out").size(), 12u);
}

// A run killed partway is finished by running it again with
// --skip-existing: every output then is what a clean run writes, and the
// outputs saved before the kill were not made again.
TEST_F(BatchFleet, ARunKilledPartwayIsFinishedBySkipExisting) {
    const int count = 30;
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back("in" + std::to_string(i) + ".bmp");
        Save(*Picture(160, 120, i), names.back());
    }
    Save(*Stamp(), "stamp.bmp");
    // About 80 ms an input, one at a time, so that the kill lands long
    // before the end even when this test is starved of the processor for a
    // while. The passes that take are measured here, as stamping gets
    // faster; the quickest of three inputs is the one least held up.
    fs::create_directory(dir_ / "probe");
    ProcessRun probe =
        Run({"--stamp", "stamp.bmp", "--mode", "8", "--times", "200", "--jobs", "1", "--out",
             "probe", "--report", "probe.jsonl", names[0], names[1], names[2]});
    ASSERT_EQ(probe.status, 0) << probe.err;
    double probeMs = 1e9;
    for (const nlohmann::json& object : ReportObjects(dir_ / "probe.jsonl"))
        probeMs = std::min(probeMs, object.at("ms").get<double>());
    const int times = std::clamp(int(200 * 80.0 / std::max(probeMs, 0.01)), 200, 1000000);
    auto argsFor = [&](const std::string& out, const char* jobs) {
        std::vector<std::string> args = {
            SIGILLON_BATCH_TOOL,   "--stamp", "stamp.bmp", "--mode", "8", "--times",
            std::to_string(times), "--jobs",  jobs,        "--out",  out};
        args.insert(args.end(), names.begin(), names.end());
        return args;
    };
    fs::create_directory(dir_ / "clean");
    fs::create_directory(dir_ / "out");
    ProcessRun clean = sigillon::testing::RunProcess(argsFor("clean", "2"), dir_);
    ASSERT_EQ(clean.status, 0) << clean.err;

    auto outputs = [&] {
        std::set<std::string> done;
        for (const std::string& name : Files("out"))
            if (name[0] != '.') done.insert(name);
        return done;
    };
    std::vector<std::string> args = argsFor("out", "1");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (chdir(dir_.c_str()) != 0) _exit(126);
        int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(null, STDOUT_FILENO) < 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    while (outputs().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the run ended before it could be killed";
    const std::set<std::string> before = outputs();
    ASSERT_GE(before.size(), 2u);
    ASSERT_LT(before.size(), std::size_t(count));
    std::map<std::string, ino_t> inodes;
    for (const std::string& name : before) inodes[name] = InodeOf(P("out/" + name));

    std::vector<std::string> rerunArgs = argsFor("out", "2");
    rerunArgs.insert(rerunArgs.end(), {"--skip-existing", "--report", "rerun.jsonl"});
    ProcessRun rerun = sigillon::testing::RunProcess(rerunArgs, dir_);
    ASSERT_EQ(rerun.status, 0) << rerun.err;
    EXPECT_EQ(rerun.out, std::to_string(count - before.size()) + " saved, 0 failed, " +
                             std::to_string(before.size()) + " skipped\n");
    for (const nlohmann::json& object : ReportObjects(dir_ / "rerun.jsonl")) {
        const std::string name = fs::path(object.at("output").get<std::string>()).filename();
        EXPECT_EQ(object.at("status"), before.count(name) ? "skipped" : "saved") << name;
    }

    EXPECT_EQ(outputs(), Files("clean"));
    for (const std::string& name : Files("clean"))
        EXPECT_EQ(ReadWholeFile(dir_ / "out" / name), ReadWholeFile(dir_ / "clean" / name)) << name;
    for (const auto& [name, inode] : inodes)
        EXPECT_EQ(InodeOf(P("out/" + name)), inode) << name << " was written again";
    // What the kill cut short is left as hidden temporary files, never
    // under an output's name.
    for (const std::string& name : Files("out")) {
        if (name[0] == '.') {
            EXPECT_EQ(fs::path(name).extension(), ".tmp") << name;
        }
    }
}

}  // namespace
