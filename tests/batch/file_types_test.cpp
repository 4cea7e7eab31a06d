// sigillon-batch knows a file by its first bytes, whatever its name says, and
// gives an output the type its name says: camera files named .jpeg, .JPG or
// .jfif, a PNG saved as .jpg, a file with no extension, a TIFF named in
// capitals.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "app/batch/options.h"
#include "app/batch/plan.h"
#include "pictures/formats.h"
#include "pictures/picture_files.h"
#include "pictures/png/png_file.h"
#include "pictures/webp/webp_file.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"
#include "tests/support/process.h"

#ifndef SIGILLON_BATCH_TOOL
#error "SIGILLON_BATCH_TOOL must name the built sigillon-batch"
#endif

namespace fs = std::filesystem;

namespace sigillon {
namespace {

using testing::Bytes;

std::string TypeOf(const Bytes& bytes) {
    const PictureFormat* format = FormatOfContent({bytes.data(), bytes.size()});
    return format ? std::string(format->name) : "none";
}

class FileTypes : public ::testing::Test {
protected:
    void SetUp() override {
        auto picture = testing::RandomPicture(Depth24, 61, 47, 9);
        ASSERT_EQ(SavePictureFileQuiet(*picture, P("ref.jpg")), FileOutcome::Done);
        ASSERT_EQ(SavePictureFileQuiet(*picture, P("ref.bmp")), FileOutcome::Done);
        testing::WriteAll(P("ref.png"), [&] {
            ByteBlock png = EncodePng(*picture, {}, {});
            return Bytes(png.data(), png.data() + png.size());
        }());
        std::vector<std::string> warnings;
        auto tiff = FormatOfName("ref.tif")->createRowWriter(P("ref.tif"), picture->Image(), {}, warnings);
        for (std::int32_t y = 0; y < picture->Height(); ++y) tiff->Write(picture->RowAddress(y), 1);
        tiff->Finish();
        testing::WriteAll(P("ref.webp"), [&] {
            ByteBlock webp = EncodeWebp(*picture, {}, {}, {0, true});
            return Bytes(webp.data(), webp.data() + webp.size());
        }());
        ASSERT_EQ(SavePictureFileQuiet(*testing::RandomPicture(Depth24, 9, 7, 2), P("stamp.bmp")),
                  FileOutcome::Done);
        fs::create_directory(folder_ / "in");
    }
    std::string P(const std::string& name) const { return folder_ / name; }

    testing::ProcessRun Run(std::vector<std::string> args) const {
        args.insert(args.begin(), {SIGILLON_BATCH_TOOL, "--stamp", P("stamp.bmp"), "--mode", "3"});
        return testing::RunProcess(args, {}, {});
    }

    testing::TempFolder folder_;
};

TEST_F(FileTypes, InputsAreReadByContentAndOutputsTypedByName) {
    struct Case {
        const char* name;       // as the input is named
        const char* content;    // the reference file it is a copy of
        const char* output;     // the output's name in out/
        const char* type;       // what the output holds
        const char* reference;  // the output of the reference file it must equal
    } cases[] = {
        {"IMG_5250.jpeg", "ref.jpg", "IMG_5250.jpeg", "JPEG", "ref.jpg"},
        {"CAMERA.JPG", "ref.jpg", "CAMERA.JPG", "JPEG", "ref.jpg"},
        {"web.jfif", "ref.jpg", "web.jfif", "JPEG", "ref.jpg"},
        {"old.jpe", "ref.jpg", "old.jpe", "JPEG", "ref.jpg"},
        {"saved-by-a-browser.jpg", "ref.png", "saved-by-a-browser.jpg", "JPEG", "png.jpg"},
        {"scan.png", "ref.bmp", "scan.png", "PNG", "ref.png"},
        {"no-extension", "ref.jpg", "no-extension.jpg", "JPEG", "ref.jpg"},
        {"export.dat", "ref.png", "export.dat.png", "PNG", "ref.png"},
        {"SCAN.TIFF", "ref.tif", "SCAN.TIFF", "TIFF", "ref.tif"},
        {"phone.WEBP", "ref.webp", "phone.WEBP", "WebP", "ref.webp"},
        {"shared.jpg", "ref.webp", "shared.jpg", "JPEG", "webp.jpg"},
    };
    std::vector<std::string> inputs;
    for (const Case& c : cases) {
        fs::copy_file(P(c.content), P("in/") + c.name);
        inputs.push_back(P("in/") + c.name);
    }
    fs::create_directory(folder_ / "out");
    inputs.insert(inputs.begin(), {"--out", P("out")});
    testing::ProcessRun run = Run(inputs);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "11 saved, 0 failed\n");

    // The references: each content under its own name, and the PNG as JPEG.
    fs::create_directory(folder_ / "ref");
    ASSERT_EQ(Run({"--out", P("ref"), P("ref.jpg"), P("ref.bmp"), P("ref.png"), P("ref.tif"),
                   P("ref.webp")}).status, 0);
    fs::copy_file(P("ref.png"), P("png.png"));
    fs::copy_file(P("ref.webp"), P("webp.webp"));
    ASSERT_EQ(Run({"--out", P("ref"), "--to", "jpg", P("png.png"), P("webp.webp")}).status, 0);

    for (const Case& c : cases) {
        const Bytes made = testing::ReadAll(P("out/") + c.output);
        EXPECT_EQ(TypeOf(made), c.type) << c.name;
        EXPECT_TRUE(made == testing::ReadAll(P("ref/") + c.reference)) << c.name;
    }
}

TEST_F(FileTypes, ToTakesAnyExtensionOfTheTable) {
    for (const auto& [to, input, output, type] :
         {std::array{".JPEG", "ref.bmp", "ref.jpeg", "JPEG"},
          {"png", "ref.jpg", "ref.png", "PNG"},
          {"tif", "ref.png", "ref.tif", "TIFF"}}) {
        ASSERT_EQ(Run({"--to", to, "--out", P("in"), P(input)}).status, 0) << to;
        EXPECT_EQ(TypeOf(testing::ReadAll(P("in/") + output)), type) << to;
    }

    for (const char* to : {".gif", "", ".", "jpg/x", ".xcf"}) {
        batch::ParseResult parsed = batch::ParseArguments({"--to", to, "a.jpg"});
        EXPECT_EQ(parsed.status, batch::ParseStatus::UsageError) << to;
        EXPECT_EQ(parsed.message, "--to takes one of " + KnownExtensions(true)) << to;
    }
}

TEST_F(FileTypes, WhatIsNoPictureIsRefusedWithItsReason) {
    testing::WriteAll(P("in/notes.txt"), Bytes{'G', 'I', 'F', '8', '9', 'a'});
    testing::WriteAll(P("in/empty.bmp"), {});
    testing::WriteAll(P("in/empty"), {});
    fs::create_directory(folder_ / "out");
    testing::ProcessRun run =
        Run({"--out", P("out"), P("in/notes.txt"), P("in/empty.bmp"), P("in/empty")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "0 saved, 3 failed\n");
    auto refused = [&](const std::string& name, const std::string& reason) {
        return P(name) + ": " + P(name) + " - Error: wrong format (" + reason + ")";
    };
    // Workers finish in any order.
    std::vector<std::string> lines = run.ErrLines(), expected = {
        refused("in/notes.txt", "not a JPEG, BMP, PNG, TIFF, WebP, AVIF or HEIF file"),
        refused("in/empty.bmp", "the file holds no picture"),
        refused("in/empty", "not a JPEG, BMP, PNG, TIFF, WebP, AVIF or HEIF file"),
    };
    std::sort(lines.begin(), lines.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(fs::is_empty(folder_ / "out"));
}

// A HEIF picture comes upright from its file (irot), so an EXIF
// orientation it carries is reset, with or without turning by EXIF, read
// whole or as rows; AVIF is
// written, HEIC is refused before the input is read.
TEST_F(FileTypes, HeifInputsComeUprightAndAvifIsWritten) {
    const std::string jpeg = P("turned.jpg");
    fs::copy_file(P("ref.jpg"), jpeg);
    ASSERT_EQ(testing::RunProcess({SIGILLON_EXIFTOOL, "-q", "-overwrite_original", "-n",
                                   "-Orientation=6", jpeg}).status, 0);
    // avifenc turns the picture by irot as its EXIF says and keeps the tag.
    ASSERT_EQ(testing::RunProcess({"avifenc", "-s", "10", jpeg, P("in/turned.avif")}).status, 0);
    fs::create_directory(folder_ / "out");
    for (const char* autoOrient : {"--mode", "--no-auto-orient"}) {
        SCOPED_TRACE(autoOrient);
        std::vector<std::string> args = {"--out", P("out"), "--force", "--to", ".jpg", "--verbose",
                                         P("in/turned.avif")};
        if (std::string(autoOrient) != "--mode") args.push_back(autoOrient);
        testing::ProcessRun run = Run(args);
        ASSERT_EQ(run.status, 0) << run.err;
        // Handed out as rows from libheif's picture, the orientation reset all the same.
        EXPECT_NE(run.err.find("turned.avif: row by row"), std::string::npos) << run.err;
        const testing::ProcessRun tags = testing::RunProcess(
            {SIGILLON_EXIFTOOL, "-T", "-n", "-Orientation", "-ImageWidth", "-ImageHeight",
             P("out/turned.jpg")});
        EXPECT_EQ(tags.out, "1\t47\t61\n");
    }

    const std::string phone = std::string(SIGILLON_PHOTOS_DIR) + "/iphone-11-pro-max.heic";
    testing::ProcessRun run = Run({"--out", P("out"), "--to", "avif", phone});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(TypeOf(testing::ReadAll(P("out/iphone-11-pro-max.avif"))), "AVIF");
    EXPECT_EQ(testing::RunProcess({"avifdec", "--info", P("out/iphone-11-pro-max.avif")}).status, 0);

    run = Run({"--out", P("out"), "--to", ".heic", P("ref.jpg")});
    EXPECT_EQ(run.status, 2);
    run = Run({"--out", P("out"), phone});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("HEIF files are read, not written"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(P("out/iphone-11-pro-max.heic")));
}

// --quality lossless: a WebP output keeps every pixel, a PNG one is
// lossless anyway, and a JPEG output, which cannot be, is refused: up front
// when --to names JPEG, per input when a JPEG input keeps its type.
TEST_F(FileTypes, QualityLosslessKeepsEveryPixelAndRefusesJpegOutputs) {
    fs::create_directory(folder_ / "out");
    testing::ProcessRun run = Run({"--quality", "lossless", "--to", ".webp", "--out", P("out"),
                                   P("ref.bmp")});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(Run({"--to", ".bmp", "--out", P("in"), P("ref.bmp")}).status, 0);
    TBitmap stamped;
    stamped.ReadBmpFile(P("in/ref.bmp"));
    const WebpPicture back = ReadWebpFile(P("out/ref.webp"), {});
    EXPECT_TRUE(testing::RowBytes(*back.pixels) == testing::RowBytes(stamped));

    run = Run({"--quality", "lossless", "--out", P("out"), P("ref.jpg"), P("ref.png")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "1 saved, 1 failed\n");
    EXPECT_EQ(run.ErrLines(),
              (std::vector<std::string>{P("ref.jpg") + ": not saved, JPEG files cannot be lossless "
                                                       "(--quality lossless); choose --to .webp or .png"}));

    batch::ParseResult parsed = batch::ParseArguments({"--quality", "lossless", "--to", "JPG", "a.png"});
    EXPECT_EQ(parsed.status, batch::ParseStatus::UsageError);
    EXPECT_EQ(parsed.message,
              "--quality lossless: .jpg files cannot be lossless; choose --to .webp, .png, .tif or .bmp");
    EXPECT_FALSE(batch::ParseArguments({"--quality", "lossless", "--quality", "80", "a.jpg"})
                     .options.lossless);
}

}  // namespace
}  // namespace sigillon
