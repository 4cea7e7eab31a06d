// sigillon-batch run as a user runs it: the built tool in a child process,
// real files in a fresh folder, then its exit status, its messages and the
// files it left behind.
#include <fcntl.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>


#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/batch/job.h"
#include "app/batch/options.h"
#include "app/batch/plan.h"
#include "app/batch/run.h"
#include "pictures/picture_files.h"
#include "pictures/raster/test_picture.h"
#include "stamping/compositing.h"
#include "stamping/text/text_stamp.h"
#include "tests/support/files_test_support.h"
#include "tests/support/gui_application.h"
#include "tests/support/pictures.h"
#include "tests/support/process.h"

#ifndef SIGILLON_BATCH_TOOL
#error "SIGILLON_BATCH_TOOL must name the built sigillon-batch"
#endif

namespace fs = std::filesystem;
using namespace sigillon;

namespace {

using ToolRun = sigillon::testing::ProcessRun;

std::string ReadText(const fs::path& path) { return sigillon::testing::ReadWholeFile(path); }

// A picture with something different in every pixel, so that a shifted or
// mixed-up row shows.
std::unique_ptr<TBitmap> Gradient(int width, int height) {
    return sigillon::testing::MakeTrueColourPicture(width, height, [](int x, int y, std::uint8_t* p) {
        p[0] = std::uint8_t(x * 5 + y);
        p[1] = std::uint8_t(y * 7 + x * 3);
        p[2] = std::uint8_t((x ^ y) * 11);
    });
}

// Transparent white, near white, dark and bright pixels.
std::unique_ptr<TBitmap> StampPicture(int width, int height) {
    auto stamp = std::make_unique<TBitmap>();
    stamp->SetDepth(Depth24);
    stamp->SetWidth(width);
    stamp->SetHeight(height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = stamp->RowAddress(y);
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = row + 3 * x;
            switch ((x + 2 * y) % 4) {
                case 0: p[0] = p[1] = p[2] = 255; break;
                case 1: p[0] = 255, p[1] = 255, p[2] = 254; break;
                case 2: p[0] = 10, p[1] = 40, p[2] = 200; break;
                default: p[0] = std::uint8_t(x * 9), p[1] = std::uint8_t(y * 13), p[2] = 0;
            }
        }
    }
    return stamp;
}

// Pixel bytes row by row, top row first, without the fill bytes.
std::vector<std::uint8_t> PixelBytes(const TBitmap& picture) {
    std::vector<std::uint8_t> bytes;
    const int used = picture.Width() * 3;
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.RowAddress(y);
        bytes.insert(bytes.end(), row, row + used);
    }
    return bytes;
}

class BatchTool : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return (dir_ / name).string(); }

    void Save(const TBitmap& picture, const std::string& name) const {
        ASSERT_EQ(SavePictureFileQuiet(picture, P(name)), FileOutcome::Done) << name;
    }
    void WriteText(const std::string& name, const std::string& text) const {
        std::ofstream(P(name), std::ios::binary) << text;
    }
    std::unique_ptr<TBitmap> Load(const std::string& path) const {
        auto picture = std::make_unique<TBitmap>();
        EXPECT_EQ(LoadPictureFileQuiet(*picture, path), FileOutcome::Done) << path;
        return picture;
    }

    // Every file name in a folder, so that a stray temporary file shows.
    static std::set<std::string> Files(const fs::path& folder) {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder))
            names.insert(entry.path().filename().string());
        return names;
    }

    ToolRun Run(const std::vector<std::string>& args, const fs::path& cwd = {},
                const std::string& input = {}) const {
        std::vector<std::string> argv = {SIGILLON_BATCH_TOOL};
        argv.insert(argv.end(), args.begin(), args.end());
        return sigillon::testing::RunProcess(argv, cwd, input);
    }

    sigillon::testing::TempFolder folder_;  // removed with the test
    fs::path dir_ = folder_.path();
};

// ---- Stamping ------------------------------------------------------------------

struct StampCase {
    int mode;
    int times;
};

class StampedPixels : public BatchTool, public ::testing::WithParamInterface<StampCase> {};

TEST_P(StampedPixels, BmpOutputEqualsApplyStampInProcess) {
    const StampCase c = GetParam();
    Save(*Gradient(97, 61), "in.bmp");
    Save(*StampPicture(23, 13), "stamp.bmp");
    fs::create_directory(dir_ / "out");

    ToolRun run = Run({"--stamp", P("stamp.bmp"), "--mode", std::to_string(c.mode), "--times",
                       std::to_string(c.times), "--out", P("out"), P("in.bmp")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    auto expected = Load(P("in.bmp"));
    auto stamp = Load(P("stamp.bmp"));
    for (int pass = 0; pass < c.times; ++pass) ApplyStamp(*stamp, *expected, StampMode(c.mode));
    auto saved = Load(P("out/in.bmp"));
    ASSERT_EQ(saved->GetDepth(), Depth24);
    ASSERT_EQ(saved->Width(), 97);
    ASSERT_EQ(saved->Height(), 61);
    EXPECT_EQ(PixelBytes(*saved), PixelBytes(*expected));
    EXPECT_NE(PixelBytes(*saved), PixelBytes(*Load(P("in.bmp")))) << "nothing was stamped";
}

INSTANTIATE_TEST_SUITE_P(Modes, StampedPixels,
                         ::testing::Values(StampCase{0, 1}, StampCase{3, 1}, StampCase{5, 2},
                                           StampCase{8, 1}, StampCase{8, 3}));

TEST_F(BatchTool, TestPictureIsTheOneInputSavedAsTestBmpInTheCurrentFolder) {
    Save(*StampPicture(40, 20), "stamp.bmp");
    ToolRun run = Run({"--test-picture", "--stamp", P("stamp.bmp"), "--mode", "3"}, dir_);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Files(dir_), (std::set<std::string>{"stamp.bmp", "test.bmp"}));

    auto expected = MakeTestPicture();
    auto stamp = Load(P("stamp.bmp"));
    ApplyStamp(*stamp, *expected, 3);
    EXPECT_EQ(PixelBytes(*Load(P("test.bmp"))), PixelBytes(*expected));

    ToolRun jpeg = Run({"--test-picture", "--to", ".jpg", "--out", P("")});
    ASSERT_EQ(jpeg.status, 0) << jpeg.err;
    auto decoded = Load(P("test.jpg"));
    EXPECT_EQ(decoded->GetDepth(), Depth24);
    EXPECT_EQ(decoded->Width(), expected->Width());
}

TEST_F(BatchTool, ConvertsBmpToJpegWithoutAStamp) {
    auto original = Gradient(120, 80);
    Save(*original, "photo.bmp");
    std::string before = ReadText(P("photo.bmp"));

    ToolRun run = Run({"--to", ".jpg", P("photo.bmp")});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "1 saved, 0 failed\n");
    EXPECT_EQ(Files(dir_), (std::set<std::string>{"photo.bmp", "photo.jpg"}));
    EXPECT_EQ(ReadText(P("photo.bmp")), before);

    std::string jpeg = ReadText(P("photo.jpg"));
    ASSERT_GE(jpeg.size(), 4u);
    EXPECT_EQ(jpeg.substr(0, 2), "\xFF\xD8");
    auto decoded = Load(P("photo.jpg"));
    EXPECT_EQ(decoded->GetDepth(), Depth24);
    EXPECT_EQ(decoded->Width(), 120);
    EXPECT_EQ(decoded->Height(), 80);
}

TEST_F(BatchTool, SeveralJobsGiveTheSameFilesAsOne) {
    Save(*StampPicture(30, 17), "stamp.bmp");
    std::vector<std::string> inputs;
    for (int i = 0; i < 8; ++i) {
        std::string name = "in" + std::to_string(i) + (i % 2 ? ".jpg" : ".bmp");
        Save(*Gradient(200 + 13 * i, 150 + 7 * i), name);
        inputs.push_back(P(name));
    }
    fs::create_directory(dir_ / "one");
    fs::create_directory(dir_ / "many");
    auto run = [&](const std::string& folder, const std::string& jobs) {
        std::vector<std::string> args = {"--stamp", P("stamp.bmp"), "--mode", "8", "--to",
                                         ".bmp", "--jobs", jobs, "--out", P(folder)};
        args.insert(args.end(), inputs.begin(), inputs.end());
        return Run(args);
    };
    ToolRun one = run("one", "1");
    ToolRun many = run("many", "4");
    ASSERT_EQ(one.status, 0) << one.err;
    ASSERT_EQ(many.status, 0) << many.err;
    EXPECT_EQ(many.err, "");
    EXPECT_EQ(many.out, "8 saved, 0 failed\n");
    ASSERT_EQ(Files(dir_ / "many").size(), inputs.size());
    EXPECT_EQ(Files(dir_ / "many"), Files(dir_ / "one"));
    for (const std::string& name : Files(dir_ / "one"))
        EXPECT_EQ(ReadText(dir_ / "many" / name), ReadText(dir_ / "one" / name)) << name;
}

// ---- Failures ------------------------------------------------------------------

TEST_F(BatchTool, BadInputsAmongGoodOnesFailAloneAndAreCounted) {
    Save(*StampPicture(10, 10), "stamp.bmp");
    Save(*Gradient(64, 48), "good1.bmp");
    Save(*Gradient(64, 48), "good2.jpg");
    WriteText("broken.bmp", "BM this is not a picture");
    WriteText("text.jpg", "hello");
    Save(*Gradient(20, 20), "tiny.bmp");  // smaller than any picture one may stamp
    fs::create_directory(dir_ / "out");

    ToolRun run = Run({"--stamp", P("stamp.bmp"), "--out", P("out"), "--jobs", "2", P("good1.bmp"),
                       P("broken.bmp"), P("missing.bmp"), P("text.jpg"), P("tiny.bmp"),
                       P("good2.jpg"), P("photo.gif")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "2 saved, 5 failed\n");
    std::vector<std::string> lines = run.ErrLines();
    std::multiset<std::string> messages(lines.begin(), lines.end());
    EXPECT_EQ(messages, (std::multiset<std::string>{
                            P("broken.bmp") + ": " + P("broken.bmp") +
                                " - Error: wrong format (BMP: file ends inside the info header)",
                            P("missing.bmp") + ": " + P("missing.bmp") +
                                " - Error: wrong format (BMP: cannot open " + P("missing.bmp") +
                                ": No such file or directory)",
                            P("text.jpg") + ": " + P("text.jpg") +
                                " - Error: wrong format (JPEG: Not a JPEG file: starts with 0x68 "
                                "0x65)",
                            P("photo.gif") + ": " + P("photo.gif") +
                                " - Error: wrong format (cannot open " + P("photo.gif") +
                                ": No such file or directory)",
                            P("tiny.bmp") + ": Select a picture to stamp!",
                        }));
    EXPECT_EQ(Files(dir_ / "out"), (std::set<std::string>{"good1.bmp", "good2.jpg"}));
}

TEST_F(BatchTool, StampRefusalsNameThePictureAndSaveNothing) {
    Save(*Gradient(40, 40), "small.bmp");
    TBitmap gray;
    gray.ShareImage(*Gradient(40, 40));
    gray.SetDepth(Depth8);
    Save(gray, "gray.bmp");
    Save(*StampPicture(50, 10), "wide.bmp");
    Save(*StampPicture(10, 10), "stamp.bmp");
    fs::create_directory(dir_ / "out");

    ToolRun wide = Run({"--stamp", P("wide.bmp"), "--out", P("out"), P("small.bmp")});
    EXPECT_EQ(wide.status, 1);
    EXPECT_EQ(wide.ErrLines(), (std::vector<std::string>{
                                   P("small.bmp") + ": Stamp too large for this picture!"}));
    EXPECT_EQ(wide.out, "0 saved, 1 failed\n");
    ToolRun eight = Run({"--stamp", P("stamp.bmp"), "--out", P("out"), P("gray.bmp")});
    EXPECT_EQ(eight.status, 1);
    EXPECT_EQ(eight.ErrLines(),
              (std::vector<std::string>{
                  P("gray.bmp") + ": The program handles only true color pictures (24bpp)!"}));
    EXPECT_EQ(eight.out, "0 saved, 1 failed\n");
    // Converting needs no true colour.
    ToolRun convert = Run({"--out", P("out"), P("gray.bmp")});
    EXPECT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(Files(dir_ / "out"), (std::set<std::string>{"gray.bmp"}));
}

TEST_F(BatchTool, AStampThatDoesNotLoadFailsEveryInput) {
    Save(*Gradient(64, 48), "a.bmp");
    Save(*Gradient(64, 48), "b.bmp");
    WriteText("stamp.bmp", "not a bitmap");
    fs::create_directory(dir_ / "out");
    ToolRun run = Run({"--stamp", P("stamp.bmp"), "--out", P("out"), P("a.bmp"), P("b.bmp")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.ErrLines(),
              (std::vector<std::string>{
                  P("stamp.bmp") + " - Error: wrong format (BMP: file ends inside the file header)"}));
    EXPECT_EQ(run.out, "0 saved, 2 failed\n");
    EXPECT_TRUE(Files(dir_ / "out").empty());
}

TEST_F(BatchTool, NeverWritesOverAnInputEvenWithForce) {
    Save(*Gradient(64, 48), "a.bmp");
    Save(*Gradient(70, 50), "b.jpg");
    Save(*Gradient(70, 50), "b.bmp");
    Save(*StampPicture(10, 10), "stamp.bmp");
    fs::create_symlink(P("a.bmp"), P("link.bmp"));
    const std::string a = ReadText(P("a.bmp"));
    const std::string b = ReadText(P("b.bmp"));

    // Beside itself under its own extension; b.jpg saved as .bmp would land
    // on the input b.bmp; the link's output is a.bmp's file seen another way.
    ToolRun own = Run({"--stamp", P("stamp.bmp"), "--force", P("a.bmp")});
    ToolRun other = Run({"--to", ".bmp", "--force", P("b.jpg"), P("b.bmp")});
    ToolRun linked = Run({"--force", "--out", P("."), P("link.bmp"), P("a.bmp")});
    EXPECT_EQ(own.status, 1);
    EXPECT_EQ(other.status, 1);
    EXPECT_EQ(linked.status, 1);
    EXPECT_EQ(own.ErrLines(), (std::vector<std::string>{
                                  P("a.bmp") + ": not saved, its output " + P("a.bmp") +
                                      " is an input (choose --out or --to)"}));
    EXPECT_EQ(own.out, "0 saved, 1 failed\n");
    EXPECT_EQ(other.out, "0 saved, 2 failed\n");
    EXPECT_EQ(linked.out, "0 saved, 2 failed\n");
    // Nor over the stamp.
    fs::create_directory(dir_ / "s");
    Save(*Gradient(64, 48), "s/stamp.bmp");
    const std::string stamp = ReadText(P("stamp.bmp"));
    ToolRun onStamp = Run({"--stamp", P("stamp.bmp"), "--out", P(""), "--force", P("s/stamp.bmp")});
    EXPECT_EQ(onStamp.status, 1);
    EXPECT_EQ(onStamp.ErrLines(),
              (std::vector<std::string>{P("s/stamp.bmp") + ": not saved, its output " + P("") +
                                            "stamp.bmp is the stamp"}));
    EXPECT_EQ(onStamp.out, "0 saved, 1 failed\n");
    fs::remove_all(dir_ / "s");

    EXPECT_EQ(ReadText(P("stamp.bmp")), stamp);
    EXPECT_EQ(ReadText(P("a.bmp")), a);
    EXPECT_EQ(ReadText(P("b.bmp")), b);
    EXPECT_EQ(Files(dir_),
              (std::set<std::string>{"a.bmp", "b.jpg", "b.bmp", "stamp.bmp", "link.bmp"}));
}

TEST_F(BatchTool, AnExistingOutputIsReplacedOnlyWithForce) {
    Save(*Gradient(64, 48), "in.bmp");
    Save(*StampPicture(10, 10), "stamp.bmp");
    fs::create_directory(dir_ / "out");
    std::ofstream(dir_ / "out/in.bmp") << "keep me";

    ToolRun refused = Run({"--stamp", P("stamp.bmp"), "--out", P("out"), P("in.bmp")});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.ErrLines(), (std::vector<std::string>{
                                      P("in.bmp") + ": not saved, " + P("out") + "/in.bmp" +
                                          " exists (--force replaces it)"}));
    EXPECT_EQ(refused.out, "0 saved, 1 failed\n");
    EXPECT_EQ(ReadText(dir_ / "out/in.bmp"), "keep me");

    ToolRun forced = Run({"--stamp", P("stamp.bmp"), "--out", P("out"), "--force", P("in.bmp")});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_EQ(Load(P("out/in.bmp"))->Width(), 64);
    EXPECT_EQ(Files(dir_ / "out"), (std::set<std::string>{"in.bmp"}));
}

TEST_F(BatchTool, TwoInputsWithOneOutputNameSaveOnlyTheFirst) {
    fs::create_directory(dir_ / "x");
    fs::create_directory(dir_ / "y");
    fs::create_directory(dir_ / "out");
    Save(*Gradient(64, 48), "x/p.bmp");
    Save(*Gradient(80, 48), "y/p.bmp");
    ToolRun run = Run({"--force", "--out", P("out"), P("x/p.bmp"), P("y/p.bmp")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.ErrLines(), (std::vector<std::string>{
                                  P("y/p.bmp") + ": not saved, " + P("x/p.bmp") + " is saved as " +
                                      P("out") + "/p.bmp too"}));
    EXPECT_EQ(run.out, "1 saved, 1 failed\n");
    EXPECT_EQ(Load(P("out/p.bmp"))->Width(), 64);
}

TEST_F(BatchTool, AFailedSaveLeavesNoFile) {
    Save(*Gradient(64, 48), "in.bmp");
    fs::create_directory(dir_ / "out");
    fs::create_directory(dir_ / "out/in.jpg");  // the output's name is taken by a folder
    ToolRun run = Run({"--to", ".jpg", "--out", P("out"), "--force", P("in.bmp")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.ErrLines(), (std::vector<std::string>{
                                  P("in.bmp") + ": " + P("out") +
                                      "/in.jpg - Error: wrong format (JPEG: " + P("out") +
                                      "/in.jpg: Is a directory)"}));
    EXPECT_EQ(run.out, "0 saved, 1 failed\n");
    EXPECT_EQ(Files(dir_ / "out"), (std::set<std::string>{"in.jpg"}));
    EXPECT_TRUE(fs::is_directory(dir_ / "out/in.jpg"));
}

// ---- Usage ---------------------------------------------------------------------

TEST_F(BatchTool, UsageErrorsExitTwoWithTheUsageAndTouchNothing) {
    Save(*Gradient(64, 48), "in.bmp");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--mode", "9", "--stamp", P("in.bmp"), "--to", ".jpg", P("in.bmp")},
        {"--times", "0", "--stamp", P("in.bmp"), "--to", ".jpg", P("in.bmp")},
        {"--to", ".gif", P("in.bmp")},
        {"--margin", "-1", "--stamp", P("in.bmp"), "--to", ".jpg", P("in.bmp")},
        {"--margin", "4", "--to", ".jpg", P("in.bmp")},
        {"--scale", "0", "--stamp", P("in.bmp"), "--to", ".jpg", P("in.bmp")},
        {"--scale", "101", "--stamp", P("in.bmp"), "--to", ".jpg", P("in.bmp")},
        {"--scale", "50", "--to", ".jpg", P("in.bmp")},
        {"--strip-metadata=yes", "--to", ".jpg", P("in.bmp")},
        {"--to", ".jpg", P("in.bmp"), "--copyright"},
        {"--jobs", "0", "--to", ".jpg", P("in.bmp")},
        {"--colour", "red", P("in.bmp")},
        {"--to", ".jpg", P("in.bmp"), "--out"},
        {"--test-picture", P("in.bmp")},
        {"--mode", "3", "--to", ".jpg", P("in.bmp")},
        {"--force=yes", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--stamp", P("in.bmp"), "--to", ".jpg", P("in.bmp")},
        {"--color", "red", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--size", "10", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--color", "pink", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--color", "#12345", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--color", "#12345G", "--to", ".jpg", P("in.bmp")},
        {"--font", "DejaVu Sans", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--font", "", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--outline", "0", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--outline-color", "red", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--shadow", "3", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--shadow", "3,x", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--shadow-blur", "4", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--shadow", "1,1", "--shadow-blur", "101", "--to", ".jpg", P("in.bmp")},
        {"--text", "x", "--no-color-management=yes", "--to", ".jpg", P("in.bmp")},
        {"--to", ".jpg", "--files-from"},
        {"--to", ".jpg", "--files-from", ""},
        {"--to", ".jpg", "--files-from", "a", "--files-from", "b"},
        {"--to", ".jpg", "-0", P("in.bmp")},
        {"--to", ".jpg", "-0=yes", "--files-from", "a"},
        {"--test-picture", "--files-from", "a"},
        {"--to", ".jpg", "--shard", "3/3", P("in.bmp")},
        {"--to", ".jpg", "--shard", "-1/3", P("in.bmp")},
        {"--to", ".jpg", "--shard", "0/0", P("in.bmp")},
        {"--to", ".jpg", "--shard", "1", P("in.bmp")},
        {"--to", ".jpg", "--shard", "/3", P("in.bmp")},
        {"--to", ".jpg", "--shard", "1/", P("in.bmp")},
        {"--to", ".jpg", "--shard", "1/2/3", P("in.bmp")},
        {"--to", ".jpg", "--shard", "a/3", P("in.bmp")},
        {"--to", ".jpg", "--shard", " 1/3", P("in.bmp")},
        {"--to", ".jpg", "--shard", "0/1000001", P("in.bmp")},
        {"--test-picture", "--shard", "0/2"},
        {"--to", ".jpg", "--force", "--skip-existing", P("in.bmp")},
        {"--to", ".jpg", "--skip-existing=yes", P("in.bmp")},
        {"--to", ".jpg", "--report", "", P("in.bmp")},
        {"--to", ".jpg", P("in.bmp"), "--report"},
        {"--quality", "0", "--to", ".jpg", P("in.bmp")},
        {"--quality", "101", "--to", ".jpg", P("in.bmp")},
        {"--quality", "best", "--to", ".jpg", P("in.bmp")},
        {"--to", ".jpg", P("in.bmp"), "--quality"},
        {"--memory-budget", "0", "--to", ".jpg", P("in.bmp")},
        {"--memory-budget", "1.5", "--to", ".jpg", P("in.bmp")},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& arg : args) shown += arg + " ";
        ToolRun run = Run(args, dir_);
        EXPECT_EQ(run.status, 2) << shown;
        EXPECT_EQ(run.err.rfind("sigillon-batch: ", 0), 0u) << shown << run.err;
        EXPECT_NE(run.err.find("usage: sigillon-batch"), std::string::npos) << shown;
        EXPECT_EQ(Files(dir_), (std::set<std::string>{"in.bmp"})) << shown;
    }
    ToolRun missing = Run({"--out", P("nowhere"), "--to", ".jpg", P("in.bmp")});
    EXPECT_EQ(missing.status, 2);
    EXPECT_EQ(missing.err, "sigillon-batch: --out " + P("nowhere") + " is not a folder\n");

    ToolRun help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, batch::UsageText());
}

// ---- Text stamps ---------------------------------------------------------------

// The tool renders the text as the program does: the same renderer, font,
// colour and size factor give the same stamp, and so the same pixels.
TEST_F(BatchTool, TextStampEqualsTheTextRenderedAndStampedInProcess) {
    sigillon::testing::EnsureGuiApplication();

    struct Case {
        const char* colour;
        int index, size, mode;
    };
    for (Case c : {Case{"red", 3, 2, 3}, Case{"purple", 6, 1, 8}, Case{nullptr, 0, 3, 0}}) {
        Save(*Gradient(400, 120), "in.bmp");
        std::vector<std::string> args = {"--text", "\xC2\xA9 S&igillon", "--mode",
                                         std::to_string(c.mode), "--to", ".bmp", "--out",
                                         P("out"), "--force", P("in.bmp")};
        if (c.colour) args.insert(args.end(), {"--color", c.colour});
        if (c.size != 3) args.insert(args.end(), {"--size", std::to_string(c.size)});
        fs::create_directories(dir_ / "out");
        ToolRun run = Run(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");

        TextStampInput input;
        input.font = StampTextFieldFont();
        input.colour = ToQColor(kTextColours[c.index].value);
        input.text = QString::fromUtf8("\xC2\xA9 S&igillon");
        input.sizeFactor = c.size;
        auto stamp = RenderTextStamp(input);
        auto expected = Load(P("in.bmp"));
        ApplyStamp(*stamp, *expected, StampMode(c.mode));
        auto saved = Load(P("out/in.bmp"));
        EXPECT_EQ(PixelBytes(*saved), PixelBytes(*expected)) << c.mode;
        EXPECT_NE(PixelBytes(*saved), PixelBytes(*Load(P("in.bmp")))) << "nothing was stamped";
    }
}

// Scaled, the text comes from the helper at every size, and each picture
// gets the size whose width comes closest to its share, fitted to it.
TEST_F(BatchTool, ScaledTextStampIsTheClosestSizeFittedToEachPicture) {
    sigillon::testing::EnsureGuiApplication();
    const std::string text = "\xC2\xA9 Sigillon";
    batch::JobSettings settings;
    settings.scale = 30;
    for (int size = 1; size <= 9; ++size) {
        TextStampInput input;
        input.font = StampTextFieldFont();
        input.colour = ToQColor(kTextColours[2].value);
        input.text = QString::fromUtf8(text);
        input.sizeFactor = size;
        std::shared_ptr<TBitmap> stamp = RenderTextStamp(input);
        stamp->SetDepth(Depth24);
        settings.stamps.push_back({stamp, {}});
    }
    fs::create_directories(dir_ / "out");
    for (int width : {240, 700, 1500}) {
        Save(*Gradient(width, 300), "in.bmp");
        ToolRun run = Run({"--text", text, "--color", "blue", "--scale", "30", "--mode", "3",
                           "--to", ".bmp", "--out", P("out"), "--force", P("in.bmp")});
        ASSERT_EQ(run.status, 0) << run.err;
        auto expected = Load(P("in.bmp"));
        PlacedStamp placed(batch::StampFor(settings, width), width, 300, 3, 0);
        for (int y = placed.FirstRow(); y < placed.EndRow(); ++y)
            placed.StampRow(y, expected->RowAddress(y));
        EXPECT_EQ(PixelBytes(*Load(P("out/in.bmp"))), PixelBytes(*expected)) << width;
    }
}

// The tool without its text helper, as a copy alone in a folder: resizing
// a stamp needs no Qt, so --scale works; --text says what is missing and
// writes nothing.
TEST_F(BatchTool, ScalesWithoutTheTextHelperAndSaysWhenTextNeedsIt) {
    Save(*Gradient(200, 100), "in.bmp");
    Save(*StampPicture(40, 20), "stamp.bmp");
    fs::create_directories(dir_ / "alone");
    fs::create_directories(dir_ / "out");
    const fs::path tool = dir_ / "alone" / "sigillon-batch";
    fs::copy_file(SIGILLON_BATCH_TOOL, tool);
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), tool.string());
        return sigillon::testing::RunProcess(args, dir_);
    };
    ToolRun scaled = run({"--stamp", P("stamp.bmp"), "--scale", "50", "--mode", "3", "--to",
                          ".bmp", "--out", P("out"), P("in.bmp")});
    EXPECT_EQ(scaled.status, 0) << scaled.err;
    EXPECT_EQ(scaled.out, "1 saved, 0 failed\n");
    EXPECT_NE(PixelBytes(*Load(P("out/in.bmp"))), PixelBytes(*Load(P("in.bmp"))));

    fs::remove(P("out/in.bmp"));
    ToolRun text = run({"--text", "Sigillon", "--to", ".bmp", "--out", P("out"), P("in.bmp")});
    EXPECT_EQ(text.status, 2);
    EXPECT_EQ(text.err, "sigillon-batch: --text needs its text helper: no sigillon-batch-text "
                        "beside the program or in its libexec folder\n");
    EXPECT_EQ(Files(dir_ / "out"), std::set<std::string>{});
}

// One helper draws every text of a run, texts that differ from picture to
// picture too: a helper beside a copy of the tool notes each start.
TEST_F(BatchTool, OneHelperDrawsEveryTextOfARun) {
    fs::create_directories(dir_ / "wrapped");
    fs::create_directories(dir_ / "out");
    for (const char* name : {"a.bmp", "b.bmp", "c.bmp"}) Save(*Gradient(200, 100), name);
    const fs::path tool = dir_ / "wrapped" / "sigillon-batch";
    fs::copy_file(SIGILLON_BATCH_TOOL, tool);
    const fs::path helper = fs::path(SIGILLON_BATCH_TOOL).parent_path() / "sigillon-batch-text";
    const fs::path wrapper = dir_ / "wrapped" / "sigillon-batch-text";
    std::ofstream(wrapper) << "#!/bin/sh\necho started >> '" << P("starts") << "'\nexec '"
                           << helper.string() << "' \"$@\"\n";
    fs::permissions(wrapper, fs::perms::owner_all);
    const ToolRun run = sigillon::testing::RunProcess(
        {tool.string(), "--text", "{stem}", "--mode", "3", "--jobs", "2", "--to", ".bmp", "--out",
         P("out"), P("a.bmp"), P("b.bmp"), P("c.bmp")},
        dir_);
    ASSERT_EQ(run.status, 0) << run.err;
    std::ifstream starts(P("starts"));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(starts), {}), "started\n");
    const auto a = PixelBytes(*Load(P("out/a.bmp"))), b = PixelBytes(*Load(P("out/b.bmp"))),
               c = PixelBytes(*Load(P("out/c.bmp")));
    EXPECT_NE(a, b);
    EXPECT_NE(b, c);
    EXPECT_NE(a, PixelBytes(*Load(P("a.bmp"))));
}

// ---- Progress ------------------------------------------------------------------

TEST_F(BatchTool, ShowsProgressOnlyOnATerminal) {
    Save(*Gradient(64, 48), "in.bmp");
    int master = -1;
    pid_t child = forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::string tool = SIGILLON_BATCH_TOOL;
        std::string to = "--to", ext = ".jpg", input = P("in.bmp");
        char* argv[] = {tool.data(), to.data(), ext.data(), input.data(), nullptr};
        execv(tool.c_str(), argv);
        _exit(127);
    }
    std::string seen;
    char buffer[256];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) seen.append(buffer, n);
    close(master);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(seen.rfind("0/1 done", 0), 0u) << seen;
    EXPECT_NE(seen.find("1/1 done"), std::string::npos) << seen;
    const std::string end = "\r\033[K1 saved, 0 failed\r\n";
    ASSERT_GE(seen.size(), end.size());
    EXPECT_EQ(seen.substr(seen.size() - end.size()), end)
        << "the progress line is not cleared before the summary";

    fs::remove(P("in.jpg"));
    ToolRun piped = Run({"--to", ".jpg", P("in.bmp")});
    EXPECT_EQ(piped.status, 0);
    EXPECT_EQ(piped.err, "");
}

// ---- The pieces, in process ---------------------------------------------------------

TEST(BatchArguments, OptionsAreReadInEitherForm) {
    batch::ParseResult r = batch::ParseArguments(
        {"--stamp", "s.bmp", "--mode=8", "--times", "3", "--to", "jpg", "--out=o", "--force",
         "--jobs", "5", "--quality", "92", "--memory-budget=300", "a.bmp", "--", "--b.bmp"});
    ASSERT_EQ(r.status, batch::ParseStatus::Run) << r.message;
    EXPECT_EQ(r.options.stampPath, "s.bmp");
    EXPECT_EQ(r.options.mode, 8);
    EXPECT_EQ(r.options.times, 3);
    EXPECT_EQ(r.options.toExtension, ".jpg");
    EXPECT_EQ(r.options.outDir, "o");
    EXPECT_TRUE(r.options.force);
    EXPECT_EQ(r.options.jobs, 5);
    EXPECT_EQ(r.options.quality, 92);
    EXPECT_EQ(r.options.memoryBudget, 300);
    EXPECT_EQ(r.options.inputs, (std::vector<std::string>{"a.bmp", "--b.bmp"}));
    EXPECT_EQ(r.options.filesFrom, "");
    EXPECT_FALSE(r.options.skipExisting);
    EXPECT_EQ(r.options.shard.count, 1u);

    batch::ParseResult fleet = batch::ParseArguments(
        {"--files-from=-", "-0", "--shard", "4/5", "--skip-existing", "--report=r.jsonl"});
    ASSERT_EQ(fleet.status, batch::ParseStatus::Run) << fleet.message;
    EXPECT_EQ(fleet.options.filesFrom, "-");
    EXPECT_TRUE(fleet.options.nulSeparated);
    EXPECT_EQ(fleet.options.shard.index, 4u);
    EXPECT_EQ(fleet.options.shard.count, 5u);
    EXPECT_TRUE(fleet.options.skipExisting);
    EXPECT_EQ(fleet.options.reportPath, "r.jsonl");
    EXPECT_TRUE(fleet.options.inputs.empty());
    batch::ParseResult widest = batch::ParseArguments({"--shard=999999/1000000", "-"});
    ASSERT_EQ(widest.status, batch::ParseStatus::Run) << widest.message;
    EXPECT_EQ(widest.options.shard.index, 999999u);
    EXPECT_EQ(widest.options.inputs, (std::vector<std::string>{"-"}));

    batch::ParseResult defaults = batch::ParseArguments({"--test-picture"});
    ASSERT_EQ(defaults.status, batch::ParseStatus::Run);
    EXPECT_TRUE(defaults.options.testPicture);
    EXPECT_EQ(defaults.options.mode, 0);
    EXPECT_EQ(defaults.options.times, 1);
    EXPECT_EQ(defaults.options.jobs, 0);
    EXPECT_FALSE(defaults.options.force);
    EXPECT_EQ(defaults.options.quality, 0);  // keep
    EXPECT_EQ(defaults.options.memoryBudget, 0);
    EXPECT_EQ(batch::ParseArguments({"--quality=keep", "--quality", "1", "--quality", "keep", "a.jpg"})
                  .options.quality,
              0);
}

TEST(BatchArguments, OutputNames) {
    struct Case {
        std::string input;
        std::string to;
        std::string out;
        std::string expected;
    };
    const Case cases[] = {
        {"photo.jpg", "", "", "photo.jpg"},
        {"dir/photo.JPG", ".bmp", "", "dir/photo.bmp"},
        {"dir/photo.JPG", "", "o", "o/photo.JPG"},
        {"/a/b.c/photo", ".jpg", "o/", "o/photo.jpg"},
        {"a/photo.tar.bmp", ".jpg", "", "a/photo.tar.jpg"},
    };
    for (const Case& c : cases) {
        batch::BatchOptions options;
        options.toExtension = c.to;
        options.outDir = c.out;
        EXPECT_EQ(batch::OutputPathFor(c.input, false, options), c.expected) << c.input;
    }
    batch::BatchOptions options;
    EXPECT_EQ(batch::OutputPathFor("", true, options), "test.bmp");
    options.toExtension = ".jpg";
    options.outDir = "o";
    EXPECT_EQ(batch::OutputPathFor("", true, options), "o/test.jpg");
}

}  // namespace
