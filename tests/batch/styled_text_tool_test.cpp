// sigillon-batch's styled text and colour management, run as a user runs
// the tool: the pixels it writes, checked against what the chosen colour
// and LittleCMS's own transform say they must be.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pictures/picture_files.h"
#include "pictures/png/png_file.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"
#include "tests/support/process.h"

namespace fs = std::filesystem;
using namespace sigillon;

namespace {

using Bgr = std::array<std::uint8_t, 3>;

const char* kAdobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";

std::vector<std::uint8_t> FileBytes(const fs::path& path) {
    const std::string text = sigillon::testing::ReadWholeFile(path);
    return {text.begin(), text.end()};
}

// sRGB red in the profile, by a LittleCMS transform of the test's own.
Bgr RedIn(const std::vector<std::uint8_t>& icc) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE target = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    cmsHTRANSFORM transform = cmsCreateTransform(srgb, TYPE_BGR_8, target, TYPE_BGR_8,
                                                 INTENT_RELATIVE_COLORIMETRIC, 0);
    const Bgr red = {0, 0, 255};
    Bgr out{};
    cmsDoTransform(transform, red.data(), out.data(), 1);
    cmsDeleteTransform(transform);
    cmsCloseProfile(target);
    cmsCloseProfile(srgb);
    return out;
}

int Count(const TBitmap& picture, Bgr colour) {
    int count = 0;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x) {
            const std::uint8_t* p = picture.RowAddress(y) + 3 * x;
            count += p[0] == colour[0] && p[1] == colour[1] && p[2] == colour[2];
        }
    return count;
}

class StyledTextTool : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return (dir_ / name).string(); }

    // A grey ramp, no pure colour in it.
    void SaveRamp(const std::string& name) const {
        auto picture = sigillon::testing::MakeTrueColourPicture(
            480, 160, [](int x, int, std::uint8_t* p) { p[0] = p[1] = p[2] = std::uint8_t(x / 2); });
        ASSERT_EQ(SavePictureFileQuiet(*picture, P(name)), FileOutcome::Done);
    }
    std::unique_ptr<TBitmap> Load(const std::string& name) const {
        auto picture = std::make_unique<TBitmap>();
        EXPECT_EQ(LoadPictureFileQuiet(*picture, P(name)), FileOutcome::Done) << name;
        return picture;
    }
    sigillon::testing::ProcessRun Run(std::vector<std::string> args) const {
        args.insert(args.begin(), SIGILLON_BATCH_TOOL);
        return sigillon::testing::RunProcess(args, dir_);
    }

    sigillon::testing::TempFolder folder_;
    fs::path dir_ = folder_.path();
};

// Solid mode copies the colour asked for into the letters, in the font
// asked for, named by family or by file; the default font draws other
// letters than the serif one.
TEST_F(StyledTextTool, ColourAndFontReachThePixels) {
    SaveRamp("in.bmp");
    fs::create_directories(dir_ / "out");
    const Bgr colour = {0x34, 0xAB, 0x12};
    std::vector<std::vector<std::uint8_t>> outputs;
    for (const char* font : {"", "DejaVu Serif", "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf"}) {
        std::vector<std::string> args = {"--text", "Sigillon", "--color", "#12ab34", "--size", "5",
                                         "--to", ".bmp", "--out", P("out"), "--force", P("in.bmp")};
        if (*font) args.insert(args.end(), {"--font", font});
        const auto run = Run(args);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_GT(Count(*Load("out/in.bmp"), colour), 300) << font;
        outputs.push_back(FileBytes(P("out/in.bmp")));
    }
    EXPECT_EQ(Count(*Load("in.bmp"), colour), 0);
    EXPECT_NE(outputs[0], outputs[1]);
    EXPECT_EQ(outputs[1], outputs[2]);
}

// A font that cannot be found stops the run at its start, as a usage error
// does, and nothing is written.
TEST_F(StyledTextTool, UnknownFontIsRefusedAtTheStart) {
    SaveRamp("in.bmp");
    std::ofstream(P("not-a-font.ttf")) << "no glyphs here";
    for (const std::string& font : {std::string("No Such Family 42: no such font family"),
                                    std::string("/no/such/font.otf: cannot read the file"),
                                    P("not-a-font.ttf") + ": the file holds no font"}) {
        const auto run = Run({"--text", "x", "--font", font.substr(0, font.rfind(": ")), "--to",
                              ".png", "--report", P("report.jsonl"), P("in.bmp")});
        EXPECT_EQ(run.status, 2) << font;
        EXPECT_EQ(run.err.rfind("sigillon-batch: --font " + font, 0), 0u) << run.err;
        EXPECT_NE(run.err.find("usage: sigillon-batch"), std::string::npos);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2) << font;
    }
}

// A red stamp on a photo with the Adobe RGB profile lands as the red
// LittleCMS makes of sRGB red in that profile; without colour management
// as sRGB's bytes. The outline's black and the shadow are there too.
TEST_F(StyledTextTool, RedOnAnAdobeRgbPhotoIsSrgbRedInItsProfile) {
    SaveRamp("ramp.bmp");
    ASSERT_EQ(Run({"--to", ".jpg", "--quality", "95", P("ramp.bmp")}).status, 0);
    const auto tagged = sigillon::testing::RunProcess(
        {SIGILLON_EXIFTOOL, "-q", "-overwrite_original", std::string("-ICC_Profile<=") + kAdobe,
         P("ramp.jpg")});
    ASSERT_EQ(tagged.status, 0) << tagged.err;
    const std::vector<std::uint8_t> adobe = FileBytes(kAdobe);
    const Bgr red = RedIn(adobe);
    ASSERT_NE(red, (Bgr{0, 0, 255}));

    fs::create_directories(dir_ / "managed");
    fs::create_directories(dir_ / "plain");
    const std::vector<std::string> stamp = {"--text", "IIII", "--color", "#FF0000", "--size", "9",
                                            "--outline", "2", "--outline-color", "black"};
    auto args = [&](const std::string& out, bool managed) {
        std::vector<std::string> all = stamp;
        all.insert(all.end(), {"--to", ".png", "--out", P(out), P("ramp.jpg")});
        if (!managed) all.push_back("--no-color-management");
        return all;
    };
    ASSERT_EQ(Run(args("managed", true)).status, 0);
    ASSERT_EQ(Run(args("plain", false)).status, 0);
    const PngPicture managed = ReadPngFile(P("managed/ramp.png"));
    const PngPicture plain = ReadPngFile(P("plain/ramp.png"));
    EXPECT_EQ(managed.metadata.icc, adobe);
    const int letters = Count(*plain.pixels, {0, 0, 255});
    EXPECT_GT(letters, 1000);
    EXPECT_EQ(Count(*managed.pixels, red), letters);
    EXPECT_EQ(Count(*managed.pixels, {0, 0, 255}), 0);
    EXPECT_GT(Count(*managed.pixels, {0, 0, 0}), 200);  // the outline

    // A JPEG that keeps its encoding gets the converted stamp too: where the
    // letters are, its red comes close to the converted red, not sRGB's.
    fs::create_directories(dir_ / "kept");
    std::vector<std::string> kept = stamp;
    kept.insert(kept.end(), {"--to", ".jpg", "--out", P("kept"), P("ramp.jpg")});
    ASSERT_EQ(Run(kept).status, 0);
    const auto decoded = Load("kept/ramp.jpg");
    long sum = 0;
    for (int y = 0; y < plain.pixels->Height(); ++y)
        for (int x = 0; x < plain.pixels->Width(); ++x)
            if (plain.pixels->RowAddress(y)[3 * x + 2] == 255 && plain.pixels->RowAddress(y)[3 * x] == 0)
                sum += decoded->RowAddress(y)[3 * x + 2];
    EXPECT_NEAR(double(sum) / letters, red[2], 6.0);
}

// A picture without a profile is sRGB: the stamp goes on byte for byte as
// without colour management, whatever the stamp. An unreadable profile is
// said in the report, and the stamp goes on unconverted.
TEST_F(StyledTextTool, NoProfileChangesNothingAndAnUnreadableOneWarns) {
    SaveRamp("in.bmp");
    fs::create_directories(dir_ / "a");
    fs::create_directories(dir_ / "b");
    for (const std::vector<std::string>& stamp :
         {std::vector<std::string>{"--text", "Sigillon", "--color", "purple", "--mode", "3"},
          std::vector<std::string>{"--text", "Sigillon", "--color", "#FF0000", "--shadow", "3,3",
                                   "--mode", "8"},
          std::vector<std::string>{"--stamp", P("in.bmp"), "--scale", "30", "--mode", "7"}}) {
        for (const char* to : {".bmp", ".jpg"}) {
            std::vector<std::string> a = stamp, b = stamp;
            a.insert(a.end(), {"--to", to, "--force", "--out", P("a"), P("in.bmp")});
            b.insert(b.end(), {"--to", to, "--force", "--out", P("b"), P("in.bmp"),
                               "--no-color-management"});
            ASSERT_EQ(Run(a).status, 0) << stamp[1];
            ASSERT_EQ(Run(b).status, 0) << stamp[1];
            const std::string name = std::string("in") + to;
            EXPECT_EQ(FileBytes(dir_ / "a" / name), FileBytes(dir_ / "b" / name)) << stamp[1] << to;
        }
    }

    PictureMetadata broken;
    broken.icc = {1, 2, 3, 4, 5, 6, 7, 8};
    WritePngFile(P("broken.png"), *Load("in.bmp"), {}, broken);
    const auto run = Run({"--text", "x", "--to", ".bmp", "--report", P("report.jsonl"),
                          P("broken.png")});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(sigillon::testing::ReadWholeFile(P("report.jsonl"))
                  .find("the picture's ICC profile could not be read; the stamp was put on as sRGB"),
              std::string::npos);
}

}  // namespace
