// sigillon-batch's styled text and colour management, run as a user runs
// the tool: that each option reaches the pixels it writes. How the letters
// are drawn and the colours converted is the stamping unit tests' to check.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "pictures/picture_files.h"
#include "pictures/png/png_file.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"
#include "tests/support/process.h"

namespace fs = std::filesystem;
namespace st = sigillon::testing;
using namespace sigillon;

namespace {

using Bgr = std::array<std::uint8_t, 3>;

bool Is(const TBitmap& picture, int x, int y, Bgr colour) {
    return std::equal(colour.begin(), colour.end(), picture.RowAddress(y) + 3 * x);
}

int Count(const TBitmap& picture, Bgr colour) {
    int count = 0;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) count += Is(picture, x, y, colour);
    return count;
}

class StyledTextTool : public ::testing::Test {
protected:
    // in.bmp, a grey ramp with no pure colour in it, and two output folders.
    void SetUp() override {
        auto ramp = st::MakeTrueColourPicture(480, 160, [](int x, int, std::uint8_t* p) {
            p[0] = p[1] = p[2] = std::uint8_t(x / 2);
        });
        ASSERT_EQ(SavePictureFileQuiet(*ramp, P("in.bmp")), FileOutcome::Done);
        for (const char* out : {"a", "b"}) fs::create_directory(dir_ / out);
    }
    std::string P(const std::string& name) const { return (dir_ / name).string(); }
    std::unique_ptr<TBitmap> Load(const std::string& name) const {
        auto picture = std::make_unique<TBitmap>();
        EXPECT_EQ(LoadPictureFileQuiet(*picture, P(name)), FileOutcome::Done) << name;
        return picture;
    }
    st::ProcessRun Run(std::vector<std::string> args) const {
        args.insert(args.begin(), SIGILLON_BATCH_TOOL);
        return st::RunProcess(args, dir_);
    }

    st::TempFolder folder_;
    fs::path dir_ = folder_.path();
};

// A font that cannot be found stops the run at its start, as a usage error
// does, and nothing is written. Solid mode copies the colour asked for into
// the letters, in the font asked for, named by family or by file; the
// default font draws other letters than the serif one.
TEST_F(StyledTextTool, ColourAndFontReachThePixelsAndUnknownFontsAreRefused) {
    std::ofstream(P("not-a-font.ttf")) << "no glyphs here";
    const Bgr colour = {0x34, 0xAB, 0x12};
    ASSERT_EQ(Count(*Load("in.bmp"), colour), 0);
    std::vector<std::string> outputs;
    for (const auto& [font, refusal] : std::vector<std::array<std::string, 2>>{
             {"No Such Family 42", "no such font family"},
             {"/no/such/font.otf", "cannot read the file"},
             {P("not-a-font.ttf"), "the file holds no font"},
             {"", ""},
             {"DejaVu Serif", ""},
             {"/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf", ""}}) {
        std::vector<std::string> args = {"--text",          "Sigillon", "--color", "#12ab34",
                                         "--size",          "5",        "--to",    ".bmp",
                                         "--out",           P("a"),     "--force", "--report",
                                         P("report.jsonl"), P("in.bmp")};
        if (!font.empty()) args.insert(args.end(), {"--font", font});
        const st::ProcessRun run = Run(args);
        if (!refusal.empty()) {
            EXPECT_EQ(run.status, 2) << font;
            EXPECT_EQ(run.err.rfind("sigillon-batch: --font " + font + ": " + refusal, 0), 0u)
                << run.err;
            EXPECT_NE(run.err.find("usage: sigillon-batch"), std::string::npos);
            EXPECT_TRUE(run.out.empty() && fs::is_empty(dir_ / "a") &&
                        !fs::exists(P("report.jsonl")));
            continue;
        }
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_GT(Count(*Load("a/in.bmp"), colour), 300) << font;
        outputs.push_back(st::ReadWholeFile(P("a/in.bmp")));
    }
    EXPECT_NE(outputs.at(0), outputs.at(1));
    EXPECT_EQ(outputs.at(1), outputs.at(2));
}

// A red stamp on a photo with the Adobe RGB profile is converted into it, in
// a PNG and in a JPEG that keeps its encoding (small enough a stamp to go on
// by copying blocks); without colour management it keeps sRGB's bytes.
TEST_F(StyledTextTool, RedOnAnAdobeRgbPhotoTakesThePhotosProfile) {
    const std::string adobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";
    ASSERT_EQ(Run({"--to", ".jpg", "--quality", "95", P("in.bmp")}).status, 0);
    ASSERT_EQ(st::RunProcess({SIGILLON_EXIFTOOL, "-q", "-overwrite_original",
                              "-ICC_Profile<=" + adobe, P("in.jpg")})
                  .status,
              0);
    for (const auto& [out, to, managed] : {std::tuple{"a", ".png", true},
                                           {"b", ".png", false},
                                           {"a", ".jpg", true},
                                           {"b", ".jpg", false}}) {
        std::vector<std::string> args = {
            "--text",          "IIII",  "--color", "#FF0000", "--size", "4",    "--outline", "2",
            "--outline-color", "black", "--to",    to,        "--out",  P(out), P("in.jpg")};
        if (!managed) args.push_back("--no-color-management");
        ASSERT_EQ(Run(args).status, 0) << out << to;
    }
    const PngPicture managed = ReadPngFile(P("a/in.png")), plain = ReadPngFile(P("b/in.png"));
    const std::string icc = st::ReadWholeFile(adobe);
    EXPECT_EQ(managed.metadata.icc, std::vector<std::uint8_t>(icc.begin(), icc.end()));
    EXPECT_GT(Count(*managed.pixels, {0, 0, 0}), 200);  // the outline
    // Where the plain letters are sRGB red, the PNG's are one other red; the
    // kept JPEGs, blurred alike by their encoding, differ in that proportion.
    const auto kept = Load("a/in.jpg"), keptPlain = Load("b/in.jpg");
    std::set<Bgr> reds;
    long letters = 0, keptRed = 0, keptPlainRed = 0;
    for (int y = 0; y < kept->Height(); ++y)
        for (int x = 0; x < kept->Width(); ++x)
            if (Is(*plain.pixels, x, y, {0, 0, 255})) {
                const std::uint8_t* p = managed.pixels->RowAddress(y) + 3 * x;
                reds.insert({p[0], p[1], p[2]});
                keptRed += kept->RowAddress(y)[3 * x + 2];
                keptPlainRed += keptPlain->RowAddress(y)[3 * x + 2];
                ++letters;
            }
    EXPECT_GT(letters, 1000);
    ASSERT_EQ(reds.size(), 1u);
    EXPECT_NE(*reds.begin(), (Bgr{0, 0, 255}));
    EXPECT_NEAR(double(keptRed) / keptPlainRed, (*reds.begin())[2] / 255.0, 0.02);
}

// An unreadable profile is said in the report. (Pictures without one, with
// colour management on by default, are the other tool tests' byte for byte.)
TEST_F(StyledTextTool, AnUnreadableProfileIsWarnedOf) {
    PictureMetadata broken;
    broken.icc = {1, 2, 3, 4, 5, 6, 7, 8};
    WritePngFile(P("broken.png"), *Load("in.bmp"), {}, broken);
    const st::ProcessRun run =
        Run({"--text", "x", "--to", ".bmp", "--report", P("report.jsonl"), P("broken.png")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(
        st::ReadWholeFile(P("report.jsonl"))
            .find("the picture's ICC profile could not be read; the stamp was put on as sRGB"),
        std::string::npos);
}

}  // namespace
