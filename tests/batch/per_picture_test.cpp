// What varies from picture to picture in sigillon-batch: variables from the
// file name and EXIF (written by exiftool here), a preset's options and its
// shape sections, and the pictures found by walking folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "app/batch/options.h"
#include "app/batch/variables.h"
#include "pictures/picture_files.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"
#include "tests/support/process.h"

namespace fs = std::filesystem;
using namespace sigillon;

namespace {

std::unique_ptr<TBitmap> Picture(int width, int height) {
    return sigillon::testing::MakeTrueColourPicture(width, height, [](int x, int y, std::uint8_t* p) {
        p[0] = std::uint8_t(x * 3 + y), p[1] = std::uint8_t(y * 5), p[2] = std::uint8_t(x ^ y);
    });
}

class PerPicture : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return (dir_ / name).string(); }
    void Save(int width, int height, const std::string& name) const {
        fs::create_directories(fs::path(P(name)).parent_path());
        ASSERT_EQ(SavePictureFileQuiet(*Picture(width, height), P(name)), FileOutcome::Done);
    }
    void Write(const std::string& name, const std::string& text) const {
        fs::create_directories(fs::path(P(name)).parent_path());
        std::ofstream(P(name), std::ios::binary) << text;
    }
    sigillon::testing::ProcessRun Run(std::vector<std::string> args) const {
        args.insert(args.begin(), SIGILLON_BATCH_TOOL);
        return sigillon::testing::RunProcess(args, dir_);
    }
    std::string Tag(const std::string& file, const std::string& tag) const {
        return sigillon::testing::RunProcess({SIGILLON_EXIFTOOL, "-s3", "-" + tag, P(file)}).out;
    }
    // Every file below the folder, by its path there.
    std::set<std::string> Tree(const std::string& folder) const {
        std::set<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(P(folder)))
            if (!entry.is_directory()) files.insert(fs::relative(entry.path(), P(folder)).string());
        return files;
    }
    std::string Bytes(const std::string& name) const { return sigillon::testing::ReadWholeFile(P(name)); }

    sigillon::testing::TempFolder folder_;
    fs::path dir_ = folder_.path();
};

TEST(TextTemplate, ExpandsVariablesAndRefusesWhatItDoesNotKnow) {
    batch::PictureFacts facts{"IMG 1.jpeg", "IMG 1", ".png",
                              {{"Exif.Photo.DateTimeOriginal", "2019:03:07 18:05:09"},
                               {"Exif.Image.Make", "Maker"},
                               {"Exif.Photo.FNumber", "28/10"}}};
    struct Case {
        const char* text;
        const char* expanded;  // null: refused
        std::size_t missing = 0;
    };
    for (const Case& c : {
             Case{"plain text", "plain text"},
             Case{"{stem}-web{ext} from {name}", "IMG 1-web.png from IMG 1.jpeg"},
             Case{"{date:%Y-%m-%d %H.%M} {year} {date:%a %j}", "2019-03-07 18.05 2019 Thu 066"},
             Case{"{make}/{model}/{artist}", "Maker//", 2},
             Case{"f{exif:Exif.Photo.FNumber}{exif:Exif.Photo.ISOSpeedRatings}", "f28/10", 1},
             Case{"{{year}} }}{{", "{year} }{"},
             Case{"{foo}", nullptr},
             Case{"{date:}", nullptr},
             Case{"{exif:Exif.Photo.NoSuchTag}", nullptr},
             Case{"{year", nullptr},
             Case{"a } b", nullptr},
             Case{"{ye{ar}", nullptr},
         }) {
        std::string problem;
        const batch::TextTemplate parsed = batch::TextTemplate::Parse(c.text, problem);
        if (!c.expanded) {
            EXPECT_NE(problem, "") << c.text;
            continue;
        }
        ASSERT_EQ(problem, "") << c.text;
        std::vector<std::string> missing;
        EXPECT_EQ(parsed.Expand(facts, missing), c.expanded) << c.text;
        EXPECT_EQ(missing.size(), c.missing) << c.text;
    }
    std::vector<std::string> missing;
    batch::PictureFacts undated{"a.jpg", "a", ".jpg", {{"Exif.Photo.DateTimeOriginal", "    :  :  "}}};
    std::string problem;
    EXPECT_EQ(batch::TextTemplate::Parse("<{year}>", problem).Expand(undated, missing), "<>");
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_NE(missing[0].find("is no date"), std::string::npos) << missing[0];
}

TEST_F(PerPicture, NameAndCopyrightTakeTheirValuesFromEachPicturesExif) {
    Save(64, 48, "in/tagged.jpg");
    Save(64, 48, "in/bare.jpg");
    ASSERT_EQ(sigillon::testing::RunProcess({SIGILLON_EXIFTOOL, "-q", "-overwrite_original",
                                   "-DateTimeOriginal=2021:07:04 10:20:30", "-Artist=Ann Lee",
                                   "-Make=Maker", "-Model=M/1", "-ExposureTime=0.005",
                                   P("in/tagged.jpg")})
                  .status,
              0);
    fs::create_directory(dir_ / "out");
    sigillon::testing::ProcessRun run =
        Run({"--out", "out", "--report", "report.jsonl", "--to", "png", "--name",
             "{date:%Y%m%d}-{model}-{stem}{ext}", "--copyright",
             "(c) {year} {artist}, {make} {exif:Exif.Photo.ExposureTime} {{{name}}}", "in/tagged.jpg",
             "in/bare.jpg"});
    ASSERT_EQ(run.status, 0) << run.err;
    // A '/' from a value names no folder; the extension is the output's.
    EXPECT_EQ(Tree("out"), (std::set<std::string>{"20210704-M_1-tagged.png", "--bare.png"}));
    EXPECT_EQ(Tag("out/20210704-M_1-tagged.png", "Copyright"),
              "(c) 2021 Ann Lee, Maker 1/200 {tagged.jpg}\n");
    EXPECT_EQ(Tag("out/--bare.png", "Copyright"), "(c)  ,   {bare.jpg}\n");
    // Each value the bare picture lacks is a warning, in the report and on
    // standard error.
    const std::string report = Bytes("report.jsonl");
    for (const char* variable : {"{date:%Y%m%d}", "{model}", "{year}", "{artist}", "{make}",
                                 "{exif:Exif.Photo.ExposureTime}"}) {
        EXPECT_NE(report.find(std::string(variable) + " is empty"), std::string::npos) << variable;
        EXPECT_NE(run.err.find("bare.jpg: warning: "), std::string::npos);
    }
    EXPECT_EQ(run.err.find("tagged.jpg: warning"), std::string::npos) << run.err;
}

// Each picture gets the text its variables give; two pictures of one text
// share what was drawn for it.
TEST_F(PerPicture, TextStampsAreDrawnFromEachPicturesOwnText) {
    for (const char* name : {"in/a.bmp", "in/b.bmp", "in/sub/a.bmp"}) Save(300, 100, name);
    fs::create_directories(dir_ / "o");
    fs::create_directories(dir_ / "p");
    sigillon::testing::ProcessRun run =
        Run({"--text", "{stem}", "--mode", "3", "--out", "o", "--recursive", "in"});
    ASSERT_EQ(run.status, 0) << run.err;
    sigillon::testing::ProcessRun plain = Run({"--text", "a", "--mode", "3", "--out", "p", "in/a.bmp"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(Bytes("o/a.bmp"), Bytes("p/a.bmp"));
    EXPECT_EQ(Bytes("o/a.bmp"), Bytes("o/sub/a.bmp"));
    EXPECT_NE(Bytes("o/a.bmp"), Bytes("o/b.bmp"));
}

TEST_F(PerPicture, BadTemplatesAndPresetsAreUsageErrorsThatTouchNothing) {
    Save(40, 30, "a.jpg");
    Write("mode.json", R"({"mode": 9, "text": "x"})");
    Write("key.json", R"({"text": "x", "colour": "red"})");
    Write("flag.json", R"({"force": "yes"})");
    Write("section.json", R"({"landscape": {"out": "o"}})");
    Write("inner.json", R"({"portrait": {"modee": 1}})");
    Write("list.json", R"(["mode", 1])");
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c : {
             Case{{"--text", "{nope}"}, "--text: unknown variable {nope}"},
             Case{{"--copyright", "{year"}, "--copyright: a { without its }"},
             Case{{"--name", "x}.jpg"}, "--name: a } without its {"},
             Case{{"--name", "sub/{name}"}, "--name takes a file name"},
             Case{{"--preset", "mode.json"}, "--preset mode.json: \"mode\": --mode takes"},
             Case{{"--preset", "key.json"}, "--preset key.json: unknown key \"colour\""},
             Case{{"--preset", "flag.json"}, "\"force\" takes true or false"},
             Case{{"--preset", "section.json"}, "\"landscape\": \"out\" holds for the whole run"},
             Case{{"--preset", "inner.json"}, "unknown key \"portrait\": \"modee\""},
             Case{{"--preset", "list.json"}, "--preset list.json: it is no JSON object"},
             Case{{"--preset", "none.json"}, "--preset none.json: cannot read it"},
         }) {
        std::vector<std::string> args = c.args;
        args.push_back("a.jpg");
        sigillon::testing::ProcessRun run = Run(args);
        EXPECT_EQ(run.status, 2) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    }
    EXPECT_EQ(Tree("").size(), 7u) << "something was written";
}

// The command line wins over the preset, a section over the rest of it; a
// picture is portrait or landscape once turned upright.
TEST_F(PerPicture, PresetSectionsGiveEachShapeItsOwnStamp) {
    Save(90, 60, "wide.bmp");
    Save(60, 90, "tall.bmp");
    Save(60, 60, "square.bmp");
    Save(90, 60, "turned.jpg");
    ASSERT_EQ(sigillon::testing::RunProcess({SIGILLON_EXIFTOOL, "-q", "-overwrite_original",
                                   "-Orientation#=6", P("turned.jpg")})
                  .status,
              0);
    Save(12, 8, "red.bmp");
    Save(7, 15, "blue.bmp");
    Write("p.json", R"({"mode": 1, "times": 2, "stamp": "red.bmp", "to": "bmp",
                        "portrait": {"stamp": "blue.bmp", "mode": 2, "strip-metadata": true}})");
    fs::create_directories(dir_ / "preset");
    fs::create_directories(dir_ / "plain");
    sigillon::testing::ProcessRun run = Run({"--preset", "p.json", "--mode", "3", "--out", "preset",
                                   "wide.bmp", "tall.bmp", "square.bmp", "turned.jpg"});
    ASSERT_EQ(run.status, 0) << run.err;

    // The same pictures with the options each shape should have had.
    auto plain = [&](const std::string& stamp, const std::string& input) {
        sigillon::testing::ProcessRun one = Run({"--stamp", stamp, "--mode", "3", "--times", "2", "--to",
                                       "bmp", "--out", "plain", "--force", input});
        EXPECT_EQ(one.status, 0) << one.err;
        const std::string output = fs::path(input).stem().string() + ".bmp";
        return Bytes("plain/" + output) == Bytes("preset/" + output);
    };
    EXPECT_TRUE(plain("red.bmp", "wide.bmp"));
    EXPECT_TRUE(plain("red.bmp", "square.bmp"));
    EXPECT_TRUE(plain("blue.bmp", "tall.bmp"));
    EXPECT_TRUE(plain("blue.bmp", "turned.jpg"));
    EXPECT_FALSE(plain("red.bmp", "tall.bmp"));
}

TEST_F(PerPicture, FoldersAreWalkedForPicturesAndMirroredBelowOut) {
    Save(40, 30, "in/top.jpg");
    Save(40, 30, "in/with space/deeper still/a/b/c/low.bmp");
    Save(40, 30, "in/with space/named wrong.bmp");
    fs::rename(dir_ / "in/with space/named wrong.bmp", dir_ / "in/with space/named wrong.txt");
    Write("in/with space/notes.jpg", "not a picture");
    Write("in/readme", "hello");
    Save(40, 30, "elsewhere/linked.jpg");
    fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "in/link");
    fs::create_symlink(dir_ / "elsewhere/linked.jpg", dir_ / "in/file link.jpg");
    fs::create_directory_symlink(dir_ / "in", dir_ / "in/with space/loop");

    EXPECT_EQ(Run({"--out", "o", "in"}).status, 2) << "a folder without --recursive";
    EXPECT_FALSE(fs::exists(dir_ / "o"));

    fs::create_directories(dir_ / "o");
    sigillon::testing::ProcessRun run = Run({"--recursive", "--verbose", "--to", "png", "--out", "o", "in"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "3 saved, 0 failed\n");
    EXPECT_EQ(Tree("o"), (std::set<std::string>{"top.png", "with space/deeper still/a/b/c/low.png",
                                                "with space/named wrong.png"}));
    EXPECT_NE(run.err.find("2 files skipped, not pictures; 3 symbolic links not followed"),
              std::string::npos)
        << run.err;

    fs::create_directories(dir_ / "f");
    sigillon::testing::ProcessRun followed =
        Run({"--recursive", "--follow-links", "--to", "png", "--out", "f", "in"});
    ASSERT_EQ(followed.status, 0) << followed.err;
    // The loop back to the top is walked once, not again below itself.
    EXPECT_EQ(Tree("f"), (std::set<std::string>{"top.png", "with space/deeper still/a/b/c/low.png",
                                                "with space/named wrong.png", "link/linked.png",
                                                "file link.png"}));
}

TEST_F(PerPicture, TwoInputsNamedAlikeAreRefusedBeforeAnyIsWritten) {
    Save(40, 30, "in/x.jpg");
    Save(40, 30, "in/x.bmp");
    sigillon::testing::ProcessRun run =
        Run({"--recursive", "--name", "shot{ext}", "--to", "jpg", "--report", "r.jsonl", "in"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "1 saved, 1 failed\n");
    EXPECT_EQ(Tree("in"), (std::set<std::string>{"x.jpg", "x.bmp", "shot.jpg"}));
    EXPECT_NE(Bytes("r.jsonl").find("in/x.bmp is saved as in/shot.jpg too"), std::string::npos)
        << Bytes("r.jsonl");
}

}  // namespace
