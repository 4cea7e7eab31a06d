// sigillon-batch on the files photographers bring: phone photos stored
// turned, JPEGs full of metadata, PNG logos with alpha, margins and sizes.
// Outputs are read back with exiftool and our readers; expectations are
// worked out by hand.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>

#include "app/batch/input.h"
#include "pictures/png/png_file.h"
#include "tests/support/metadata_test_support.h"

namespace sigillon {
namespace {

using testing::Bytes;
using testing::TempFolder;

struct Ran {
    int status = -1;
    std::string err;
};

Ran RunTool(const TempFolder& folder, std::vector<std::string> args) {
    const std::string errPath = folder / "tool-err";
    pid_t child = fork();
    if (child == 0) {
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int out = open("/dev/null", O_WRONLY);
        if (err < 0 || out < 0) _exit(126);
        dup2(err, STDERR_FILENO);
        dup2(out, STDOUT_FILENO);
        std::string tool = SIGILLON_BATCH_TOOL;
        std::vector<char*> argv{tool.data()};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(tool.c_str(), argv.data());
        _exit(127);
    }
    Ran ran;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        ran.status = WEXITSTATUS(status);
    Bytes err = testing::ReadAll(errPath);
    ran.err.assign(err.begin(), err.end());
    return ran;
}

std::unique_ptr<TBitmap> Flat(int width, int height, std::uint8_t b, std::uint8_t g,
                              std::uint8_t r) {
    return TBitmap::FromRows(width, height, Depth24, [=](std::int32_t, std::uint8_t* row) {
        for (int x = 0; x < width; ++x) row[3 * x] = b, row[3 * x + 1] = g, row[3 * x + 2] = r;
    });
}

std::unique_ptr<TBitmap> Loaded(const std::string& path) {
    auto picture = std::make_unique<TBitmap>();
    EXPECT_EQ(LoadPictureFileQuiet(*picture, path), FileOutcome::Done) << path;
    return picture;
}

// Blue, green, red at (x, y), top row 0.
std::array<int, 3> At(const TBitmap& picture, int x, int y) {
    const std::uint8_t* p = picture.RowAddress(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

// Stored gray with a red block in its top-left corner; EXIF says how it
// must be turned. Once upright, the block is where the viewer sees the
// stored top-left corner, and a black stamp in mode 0 is at the top-left
// of what the viewer sees.
TEST(PhoneAndCameraPhotos, EveryOrientationIsTurnedUprightBeforeTheStampLands) {
    struct Case {
        int orientation;
        bool blockRight, blockBottom;  // where the stored top-left corner shows
    };
    const Case cases[] = {{1, false, false}, {2, true, false},  {3, true, true},
                          {4, false, true},  {5, false, false}, {6, true, false},
                          {7, true, true},   {8, false, true}};
    TempFolder folder;
    auto stored = Flat(96, 64, 128, 128, 128);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) std::memcpy(stored->RowAddress(y) + 3 * x, "\0\0\xff", 3);
    ASSERT_EQ(SavePictureFileQuiet(*stored, folder / "plain.jpg"), FileOutcome::Done);
    ASSERT_EQ(SavePictureFileQuiet(*Flat(8, 8, 0, 0, 0), folder / "stamp.bmp"), FileOutcome::Done);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        const std::string in = folder / ("o" + std::to_string(c.orientation) + ".jpg");
        testing::WriteAll(in, testing::ReadAll(folder / "plain.jpg"));
        testing::Exiftool(folder, {"-q", "-overwrite_original",
                                   "-Orientation#=" + std::to_string(c.orientation), in});
        for (bool autoOrient : {true, false}) {
            SCOPED_TRACE(autoOrient ? "turned" : "kept");
            const std::string out = folder / "out.jpg";
            std::vector<std::string> args = {"--stamp", folder / "stamp.bmp", "--force", "--to",
                                             ".bmp", "--out", folder / "out", in};
            std::filesystem::create_directories(std::string(folder / "out"));
            if (!autoOrient) args.insert(args.begin(), "--no-auto-orient");
            Ran ran = RunTool(folder, args);
            ASSERT_EQ(ran.status, 0) << ran.err;
            auto saved = Loaded(folder / ("out/o" + std::to_string(c.orientation) + ".bmp"));
            const bool turned = autoOrient && c.orientation >= 5;
            ASSERT_EQ(saved->Width(), turned ? 64 : 96);
            ASSERT_EQ(saved->Height(), turned ? 96 : 64);
            EXPECT_EQ(At(*saved, 2, 2), (std::array<int, 3>{0, 0, 0})) << "stamp at the top-left";
            const bool right = autoOrient ? c.blockRight : false;
            const bool bottom = autoOrient ? c.blockBottom : false;
            const int bx = right ? saved->Width() - 8 : 8, by = bottom ? saved->Height() - 8 : 8;
            std::array<int, 3> block = At(*saved, bx, by);
            EXPECT_LT(block[0], 60);
            EXPECT_GT(block[2], 200) << "the red block shows where the viewer sees it";
        }
        // JPEG out: the tag says upright once the pixels are, else it stays.
        for (bool autoOrient : {true, false}) {
            std::vector<std::string> args = {"--force", "--to", ".jpg", "--out", folder / "out", in};
            if (!autoOrient) args.insert(args.begin(), "--no-auto-orient");
            ASSERT_EQ(RunTool(folder, args).status, 0);
            EXPECT_EQ(testing::ExiftoolTags(
                          folder, folder / ("out/o" + std::to_string(c.orientation) + ".jpg"),
                          {"Orientation"})[0],
                      autoOrient || c.orientation == 1 ? "1" : std::to_string(c.orientation));
        }
    }
}

TEST(PhoneAndCameraPhotos, MetadataAndProfileAreKeptWithoutTheThumbnailAndWithTheCopyright) {
    TempFolder folder;
    const std::string plain = folder / "plain.jpg";
    ASSERT_EQ(SavePictureFileQuiet(*Flat(240, 160, 30, 90, 150), plain), FileOutcome::Done);
    const std::string in = folder / "camera.jpg";
    testing::WriteAll(in, testing::ReadAll(plain));
    const Bytes icc = testing::IccProfile("RGB ", 3000, 7);
    testing::WriteAll(folder / "profile.icc", icc);
    testing::Exiftool(folder, {"-q", "-overwrite_original", "-EXIF:Make=Phone Maker",
                               "-EXIF:Artist=Ann", "-ThumbnailImage<=" + plain,
                               "-XMP-dc:Creator=Ann", "-IPTC:Keywords=harbour",
                               "-ICC_Profile<=" + std::string(folder / "profile.icc"), in});
    ASSERT_NE(testing::ExiftoolTags(folder, in, {"ThumbnailLength"})[0], "-");
    std::filesystem::create_directories(std::string(folder / "out"));

    Ran kept = RunTool(folder, {"--text", "(c) 2026 Ann", "--size", "1", "--out", folder / "out", in});
    ASSERT_EQ(kept.status, 0) << kept.err;
    const std::string out = folder / "out/camera.jpg";
    EXPECT_EQ(testing::ExiftoolTags(folder, out,
                                    {"Make", "Artist", "Creator", "Keywords", "Copyright",
                                     "Rights", "ThumbnailLength"}),
              (std::vector<std::string>{"Phone Maker", "Ann", "Ann", "harbour", "(c) 2026 Ann",
                                        "(c) 2026 Ann", "-"}));
    testing::Exiftool(folder, {"-q", "-b", "-ICC_Profile", out, "-w", "%d%f.icc"});
    EXPECT_EQ(testing::ReadAll(folder / "out/camera.icc"), icc) << "the profile byte for byte";

    // PNG out carries the profile and EXIF; --copyright wins over the text.
    ASSERT_EQ(RunTool(folder, {"--to", ".png", "--copyright", "Ann Example", "--text", "x",
                               "--out", folder / "out", in})
                  .status,
              0);
    EXPECT_EQ(testing::ExiftoolTags(folder, folder / "out/camera.png", {"Make", "Copyright"}),
              (std::vector<std::string>{"Phone Maker", "Ann Example"}));

    ASSERT_EQ(RunTool(folder, {"--strip-metadata", "--force", "--out", folder / "out", in}).status,
              0);
    EXPECT_EQ(testing::ExiftoolTags(folder, out, {"Make", "Keywords", "ICC_Profile:ProfileClass"}),
              (std::vector<std::string>{"-", "-", "-"}));
    // Without metadata the file is the program's own save.
    EXPECT_EQ(testing::ReadAll(out), testing::ReadAll(plain));
}

TEST(PngFiles, PictureAlphaIsKeptInPngAndLaidOverWhiteElsewhere) {
    TempFolder folder;
    auto pixels = Flat(40, 40, 0, 0, 200);
    std::vector<std::uint8_t> alpha(1600, 255);
    alpha[0] = 0;
    alpha[1] = 128;
    WritePngFile(folder / "logo-on-glass.png", *pixels, alpha, {});
    std::filesystem::create_directories(std::string(folder / "out"));
    ASSERT_EQ(RunTool(folder, {"--out", folder / "out", folder / "logo-on-glass.png"}).status, 0);
    PngPicture back = ReadPngFile(folder / "out/logo-on-glass.png");
    EXPECT_EQ(back.alpha, alpha);
    ASSERT_EQ(RunTool(folder, {"--to", ".bmp", "--out", folder / "out",
                               folder / "logo-on-glass.png"})
                  .status,
              0);
    auto flat = Loaded(folder / "out/logo-on-glass.bmp");
    EXPECT_EQ(At(*flat, 0, 0), (std::array<int, 3>{255, 255, 255}));
    // (128 * 200 + 127 * 255 + 127) / 255 = 227 red, (127 * 255 + 127) / 255 = 127 others.
    EXPECT_EQ(At(*flat, 1, 0), (std::array<int, 3>{127, 127, 227}));
    EXPECT_EQ(At(*flat, 2, 0), (std::array<int, 3>{0, 0, 200}));
}

TEST(PngFiles, LogoAlphaDecidesInsteadOfWhite) {
    TempFolder folder;
    ASSERT_EQ(SavePictureFileQuiet(*Flat(64, 48, 100, 100, 100), folder / "photo.bmp"),
              FileOutcome::Done);
    // White opaque, white at half, black at half, and transparent black.
    auto logo = Flat(4, 4, 255, 255, 255);
    std::vector<std::uint8_t> alpha(16, 0);
    alpha[0] = 255;
    alpha[1] = 128;
    std::memset(logo->RowAddress(0) + 6, 0, 6);
    alpha[2] = 128;
    WritePngFile(folder / "logo.png", *logo, alpha, {});
    std::filesystem::create_directories(std::string(folder / "out"));
    Ran ran = RunTool(folder, {"--stamp", folder / "logo.png", "--margin", "3", "--out",
                               folder / "out", folder / "photo.bmp"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    auto saved = Loaded(folder / "out/photo.bmp");
    EXPECT_EQ(At(*saved, 3, 3)[0], 255) << "white is an ordinary colour with alpha";
    EXPECT_EQ(At(*saved, 4, 3)[0], (128 * 255 + 127 * 100 + 127) / 255);
    EXPECT_EQ(At(*saved, 5, 3)[0], (127 * 100 + 127) / 255);
    EXPECT_EQ(At(*saved, 6, 3)[0], 100) << "alpha 0 leaves the picture";
    EXPECT_EQ(At(*saved, 2, 3)[0], 100) << "the margin is left alone";
}

TEST(PngFiles, ScaledStampTakesItsShareOfEveryPictureWidth) {
    TempFolder folder;
    ASSERT_EQ(SavePictureFileQuiet(*Flat(10, 10, 0, 0, 0), folder / "stamp.bmp"),
              FileOutcome::Done);
    std::filesystem::create_directories(std::string(folder / "out"));
    for (int width : {200, 80}) {
        const std::string name = "p" + std::to_string(width) + ".bmp";
        ASSERT_EQ(SavePictureFileQuiet(*Flat(width, 60, 200, 200, 200), folder / name),
                  FileOutcome::Done);
        ASSERT_EQ(RunTool(folder, {"--stamp", folder / "stamp.bmp", "--scale", "25", "--out",
                                   folder / "out", folder / name})
                      .status,
                  0);
        auto saved = Loaded(folder / ("out/" + name));
        int dark = 0;
        for (int x = 0; x < width; ++x) dark += At(*saved, x, 1)[0] < 100;
        EXPECT_EQ(dark, width / 4) << "a quarter of " << width;
    }
    Ran tooLarge = RunTool(folder, {"--stamp", folder / "stamp.bmp", "--margin", "75", "--out",
                                    folder / "out", "--force", folder / "p80.bmp"});
    EXPECT_EQ(tooLarge.status, 1);
    EXPECT_NE(tooLarge.err.find("Stamp too large for this picture!"), std::string::npos);
}

}  // namespace
}  // namespace sigillon
