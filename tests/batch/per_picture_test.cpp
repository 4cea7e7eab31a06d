// What varies from picture to picture in sigillon-batch: variables from the
// file name and EXIF (written by exiftool here), a preset's options and its
// shape sections, and the pictures found by walking folders.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "app/batch/options.h"
#include "app/batch/variables.h"
#include "pictures/picture_files.h"
#include "tests/support/files_test_support.h"
#include "tests/support/process.h"

namespace fs = std::filesystem;
using namespace sigillon;
namespace st = sigillon::testing;
using sigillon::testing::ProcessRun;

namespace {

class PerPicture : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return (dir_ / name).string(); }
    void Save(int width, int height, const std::string& name) const {
        fs::create_directories(fs::path(P(name)).parent_path());
        const auto picture = st::RandomPicture(Depth24, width, height, 7);
        ASSERT_EQ(SavePictureFileQuiet(*picture, P(name)), FileOutcome::Done);
    }
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(P(name), std::ios::binary) << text;
    }
    void SetTags(const std::string& file, std::vector<std::string> tags) const {
        tags.insert(tags.begin(), {SIGILLON_EXIFTOOL, "-q", "-overwrite_original"});
        tags.push_back(P(file));
        ASSERT_EQ(st::RunProcess(tags).status, 0);
    }
    ProcessRun Run(std::vector<std::string> args) const {
        args.insert(args.begin(), SIGILLON_BATCH_TOOL);
        return st::RunProcess(args, dir_);
    }
    // Every file below the folder, by its path there.
    std::set<std::string> Tree(const std::string& folder) const {
        std::set<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(P(folder)))
            if (!entry.is_directory()) files.insert(fs::relative(entry.path(), P(folder)).string());
        return files;
    }
    std::string Bytes(const std::string& name) const { return st::ReadWholeFile(P(name)); }

    st::TempFolder folder_;
    fs::path dir_ = folder_.path();
};

TEST(TextTemplate, ExpandsVariablesAndRefusesWhatItDoesNotKnow) {
    batch::PictureFacts facts{"IMG 1.jpeg", "IMG 1", ".png", {}}, undated{"a.jpg", "a", ".jpg", {}};
    facts.exif = {{"Exif.Photo.DateTimeOriginal", "2019:03:07 18:05:09"},
                  {"Exif.Image.Make", "Maker"},
                  {"Exif.Photo.FNumber", "28/10"}};
    undated.exif = {{"Exif.Photo.DateTimeOriginal", "    :  :  "}};
    struct Case {
        const char* text;
        const char* expanded;  // null: refused
        std::size_t missing = 0;
        const batch::PictureFacts* of = nullptr;
    };
    for (const Case& c : {
             Case{"{stem}-web{ext} from {name}", "IMG 1-web.png from IMG 1.jpeg"},
             Case{"{date:%Y-%m-%d %H.%M} {year} {date:%a %j}", "2019-03-07 18.05 2019 Thu 066"},
             Case{"{make}/{model}/{artist}", "Maker//", 2},
             Case{"f{exif:Exif.Photo.FNumber}{exif:Exif.Photo.ISOSpeedRatings}", "f28/10", 1},
             Case{"{{year}} }}{{", "{year} }{"},
             Case{"<{year}>", "<>", 1, &undated},
             Case{"{date:}", nullptr},
             Case{"{exif:Exif.Photo.NoSuchTag}", nullptr},
             Case{"{ye{ar}", nullptr},
         }) {
        std::string problem;
        const batch::TextTemplate parsed = batch::TextTemplate::Parse(c.text, problem);
        EXPECT_EQ(problem.empty(), c.expanded != nullptr) << c.text;
        if (!c.expanded) continue;
        std::vector<std::string> missing;
        EXPECT_EQ(parsed.Expand(c.of ? *c.of : facts, missing), c.expanded) << c.text;
        EXPECT_EQ(missing.size(), c.missing) << c.text;
        if (c.of) {
            EXPECT_NE(missing.at(0).find("is no date"), std::string::npos) << missing[0];
        }
    }
}

// The values are read from each picture's EXIF; what a template makes of
// them is TextTemplate's table above.
TEST_F(PerPicture, NameAndCopyrightTakeTheirValuesFromEachPicturesExif) {
    Save(64, 48, "in/tagged.jpg");
    Save(64, 48, "in/bare.jpg");
    SetTags("in/tagged.jpg", {"-DateTimeOriginal=2021:07:04 10:20:30", "-Artist=Ann Lee",
                              "-Make=Maker", "-Model=M/1", "-ExposureTime=0.005"});
    fs::create_directory(dir_ / "out");
    const ProcessRun run = Run({"--out", "out", "--report", "report.jsonl", "--to", "png", "--name",
                                "{date:%Y%m%d}-{model}-{stem}{ext}", "--copyright",
                                "(c) {year} {artist}, {make} {exif:Exif.Photo.ExposureTime}",
                                "in/tagged.jpg", "in/bare.jpg"});
    ASSERT_EQ(run.status, 0) << run.err;
    // A '/' from a value names no folder; the extension is the output's.
    EXPECT_EQ(Tree("out"), (std::set<std::string>{"20210704-M_1-tagged.png", "--bare.png"}));
    EXPECT_EQ(
        st::RunProcess({SIGILLON_EXIFTOOL, "-s3", "-Copyright", P("out/20210704-M_1-tagged.png")})
            .out,
        "(c) 2021 Ann Lee, Maker 1/200\n");
    // What the bare picture lacks is a warning, in the report and on standard error.
    const std::string report = Bytes("report.jsonl");
    for (const char* variable : {"{model}", "{exif:Exif.Photo.ExposureTime}"})
        EXPECT_NE(report.find(std::string(variable) + " is empty"), std::string::npos) << variable;
    EXPECT_NE(run.err.find("bare.jpg: warning: "), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("tagged.jpg: warning"), std::string::npos) << run.err;
}

// Each picture gets the text its variables give; two pictures of one text
// share what was drawn for it.
TEST_F(PerPicture, TextStampsAreDrawnFromEachPicturesOwnText) {
    for (const char* name : {"in/a.bmp", "in/b.bmp", "in/sub/a.bmp"}) Save(300, 100, name);
    for (const char* out : {"o", "p"}) fs::create_directory(dir_ / out);
    ASSERT_EQ(Run({"--text", "{stem}", "--mode", "3", "--out", "o", "--recursive", "in"}).status,
              0);
    ASSERT_EQ(Run({"--text", "a", "--mode", "3", "--out", "p", "in/a.bmp"}).status, 0);
    EXPECT_EQ(Bytes("o/a.bmp"), Bytes("p/a.bmp"));
    EXPECT_EQ(Bytes("o/a.bmp"), Bytes("o/sub/a.bmp"));
    EXPECT_NE(Bytes("o/a.bmp"), Bytes("o/b.bmp"));
}

TEST_F(PerPicture, BadTemplatesAndPresetsAreUsageErrorsThatTouchNothing) {
    Save(40, 30, "a.jpg");
    // A --preset value in braces or brackets is written to p.json, which the run is given.
    for (const auto& [option, value, message] : std::vector<std::array<std::string, 3>>{
             {"--text", "{nope}", "--text: unknown variable {nope}"},
             {"--copyright", "{year", "--copyright: a { without its }"},
             {"--name", "x}.jpg", "--name: a } without its {"},
             {"--name", "sub/{name}", "--name takes a file name"},
             {"--preset", R"({"mode": 9, "text": "x"})", "--preset p.json: \"mode\": --mode takes"},
             {"--preset", R"({"text": "x", "colour": "red"})", "p.json: unknown key \"colour\""},
             {"--preset", R"({"force": "yes"})", "\"force\" takes true or false"},
             {"--preset", R"({"landscape": {"out": "o"}})",
              "\"landscape\": \"out\" holds for the whole run"},
             {"--preset", R"({"portrait": {"modee": 1}})", "unknown key \"portrait\": \"modee\""},
             {"--preset", R"(["mode", 1])", "--preset p.json: it is no JSON object"},
             {"--preset", "none.json", "--preset none.json: cannot read it"},
         }) {
        const bool json = option == "--preset" && (value[0] == '{' || value[0] == '[');
        if (json) Write("p.json", value);
        const ProcessRun run = Run({option, json ? "p.json" : value, "a.jpg"});
        EXPECT_EQ(run.status, 2) << message;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    EXPECT_EQ(Tree(""), (std::set<std::string>{"a.jpg", "p.json"})) << "something was written";
}

// The command line wins over the preset, a section over the rest of it; a
// picture is portrait or landscape once turned upright.
TEST_F(PerPicture, PresetSectionsGiveEachShapeItsOwnStamp) {
    Save(90, 60, "wide.bmp");
    Save(60, 90, "tall.bmp");
    Save(60, 60, "square.bmp");
    Save(90, 60, "turned.jpg");
    SetTags("turned.jpg", {"-Orientation#=6"});
    Save(12, 8, "red.bmp");
    Save(7, 15, "blue.bmp");
    Write("p.json", R"({"mode": 1, "times": 2, "stamp": "red.bmp", "to": "bmp",
                        "portrait": {"stamp": "blue.bmp", "mode": 2, "strip-metadata": true}})");
    for (const char* out : {"preset", "plain"}) fs::create_directory(dir_ / out);
    const ProcessRun run = Run({"--preset", "p.json", "--mode", "3", "--out", "preset", "wide.bmp",
                                "tall.bmp", "square.bmp", "turned.jpg"});
    ASSERT_EQ(run.status, 0) << run.err;
    // Each output against the same picture with the options its shape should have had.
    for (const auto& [stamp, input, same] : {std::tuple{"red.bmp", "wide.bmp", true},
                                             {"red.bmp", "square.bmp", true},
                                             {"blue.bmp", "tall.bmp", true},
                                             {"blue.bmp", "turned.jpg", true},
                                             {"red.bmp", "tall.bmp", false}}) {
        ASSERT_EQ(Run({"--stamp", stamp, "--mode", "3", "--times", "2", "--to", "bmp", "--out",
                       "plain", "--force", input})
                      .status,
                  0);
        const std::string output = fs::path(input).stem().string() + ".bmp";
        EXPECT_EQ(Bytes("plain/" + output) == Bytes("preset/" + output), same) << stamp << input;
    }
}

// Pictures are found below folders and mirrored below --out; two inputs that
// would be saved under one name are refused before either is written.
TEST_F(PerPicture, FoldersAreWalkedMirroredBelowOutAndClashesRefused) {
    Save(40, 30, "in/top.jpg");
    Save(40, 30, "in/top.bmp");
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

    for (const char* out : {"o", "f"}) fs::create_directory(dir_ / out);
    const ProcessRun run = Run({"--recursive", "--verbose", "--to", "png", "--out", "o", "in"});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.out, "3 saved, 1 failed\n");
    EXPECT_NE(run.err.find("in/top.jpg: not saved, in/top.bmp is saved as o/top.png too"),
              std::string::npos)
        << run.err;
    std::set<std::string> found = {"top.png", "with space/deeper still/a/b/c/low.png",
                                   "with space/named wrong.png"};
    EXPECT_EQ(Tree("o"), found);
    EXPECT_NE(run.err.find("2 files skipped, not pictures; 3 symbolic links not followed"),
              std::string::npos)
        << run.err;

    EXPECT_EQ(Run({"--recursive", "--follow-links", "--to", "png", "--out", "f", "in"}).status, 1);
    // The loop back to the top is walked once, not again below itself.
    found.insert({"link/linked.png", "file link.png"});
    EXPECT_EQ(Tree("f"), found);
}

}  // namespace
