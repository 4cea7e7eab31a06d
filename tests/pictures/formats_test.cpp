// The table of formats: which first bytes make which format, which names
// say which, and every format's reading and writing meeting in rows.
#include "pictures/formats.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "pictures/jpeg/jpeg_image.h"
#include "pictures/picture_files.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

using testing::Bytes;

std::string NameOf(const PictureFormat* format) {
    return format ? std::string(format->name) : "none";
}

TEST(PictureFormatTable, FirstBytesSayTheFormat) {
    const struct {
        Bytes head;
        const char* format;
    } cases[] = {
        {{0xFF, 0xD8, 0xFF, 0xE0}, "JPEG"},
        {{0xFF, 0xD8, 0xFF}, "JPEG"},
        {{0xFF, 0xD8, 0x00}, "none"},  // no marker after the start of image
        {{'B', 'M', 0, 0}, "BMP"},
        {{'B', 'A'}, "none"},           // an OS/2 array the reader does not take
        {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, "PNG"},
        {{0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A}, "none"},  // cut short
        {{0x89, 'P', 'N', 'G', 0x0A, 0x0A, 0x1A, 0x0A}, "none"},  // line ends mangled
        {{'I', 'I', 42, 0}, "TIFF"},
        {{'M', 'M', 0, 42}, "TIFF"},
        {{'I', 'I', 43, 0}, "TIFF"},  // BigTIFF
        {{'M', 'M', 0, 43}, "TIFF"},
        {{'I', 'I', 0, 42}, "none"},  // the number in the other order
        {{0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0, 'm', 'i', 'f', '1'}, "HEIF"},
        {{0, 0, 0, 24, 'f', 't', 'y', 'p', 'a', 'v', 'i', 'f', 0, 0, 0, 0, 'm', 'i', 'f', '1'}, "AVIF"},
        {{'R', 'I', 'F', 'F', 1, 2, 3, 4, 'W', 'E', 'B', 'P'}, "WebP"},
        {{'R', 'I', 'F', 'F', 1, 2, 3, 4, 'W', 'A', 'V', 'E'}, "none"},  // sound
        {{'R', 'I', 'F', 'F', 1, 2, 3, 4, 'W', 'E', 'B'}, "none"},       // cut short
        {{'G', 'I', 'F', '8', '9', 'a'}, "none"},
        {{}, "none"},
    };
    int i = 0;
    for (const auto& c : cases)
        EXPECT_EQ(NameOf(FormatOfContent({c.head.data(), c.head.size()})), c.format) << "case " << i++;
}

TEST(PictureFormatTable, NamesSayTheFormatInAnyCase) {
    const struct {
        const char* path;
        const char* format;
    } cases[] = {
        {"a.jpg", "JPEG"},     {"IMG_5250.jpeg", "JPEG"}, {"b.JPG", "JPEG"},
        {"c.Jpe", "JPEG"},     {"d.jfif", "JPEG"},        {"e.bmp", "BMP"},
        {"f.DIB", "BMP"},      {"g.png", "PNG"},          {"h.gif", "none"},
        {"noextension", "none"}, {"dir.jpg/file", "none"}, {"x.jpgx", "none"},
        {".png", "PNG"},       {"scan.tif", "TIFF"},      {"SCAN.TIFF", "TIFF"},
        {"IMG_0001.HEIC", "HEIF"}, {"a.avif", "AVIF"},    {"i.WebP", "WebP"},
    };
    for (const auto& c : cases) EXPECT_EQ(NameOf(FormatOfName(c.path)), c.format) << c.path;
    EXPECT_EQ(KnownExtensions(), ".jpg, .jpeg, .jpe, .jfif, .jif, .bmp, .dib, .png, .tif, .tiff, "
                                 ".webp, .avif, .heic, .heif, .hif");
    EXPECT_EQ(KnownExtensions(true),
              ".jpg, .jpeg, .jpe, .jfif, .jif, .bmp, .dib, .png, .tif, .tiff, .webp, .avif");
}

TEST(PictureFormatTable, SniffingAFileReadsItsFirstBytesOrSaysWhyNot) {
    testing::TempFolder folder;
    const std::string png = folder.path() + "/named.jpg";
    testing::WriteAll(png, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13});
    std::string problem = "stale";
    EXPECT_EQ(NameOf(SniffFile(png, problem)), "PNG");
    EXPECT_EQ(problem, "");
    testing::WriteAll(png, {'B'});
    EXPECT_EQ(NameOf(SniffFile(png, problem)), "none");
    EXPECT_EQ(problem, "");
    EXPECT_EQ(NameOf(SniffFile(folder.path() + "/missing.jpg", problem)), "none");
    EXPECT_EQ(problem, "No such file or directory");
    EXPECT_EQ(NameOf(SniffFile(folder.path(), problem)), "none");
    EXPECT_EQ(problem, "Is a directory");
}

// Every format writes what it reads: a picture read whole and handed out as
// rows comes back through the format's row writer with the same pixels.
TEST(PictureFormatTable, EveryFormatWritesTheRowsItsReaderGives) {
    SetDisplayBitsPerPixel(32);
    testing::TempFolder folder;
    auto picture = testing::RandomPicture(Depth24, 37, 23, 4);
    for (const PictureFormat& format : PictureFormats()) {
        SCOPED_TRACE(std::string(format.name));
        if (!format.createRowWriter) continue;  // read only
        const std::string path = folder.path() + "/a" + std::string(format.extensions.front());
        HeldRowReader rows(std::shared_ptr<TBitmap>(testing::RandomPicture(Depth24, 37, 23, 4)), {});
        std::vector<std::string> warnings;
        // Lossless where the format can be: every pixel must come back.
        WriteSettings settings;
        settings.lossless = format.writesLossless;
        auto writer = format.createRowWriter(path, rows.Format(), settings, warnings);
        std::vector<std::uint8_t> band(std::size_t(rows.Stride()) * 23);
        rows.Read(band.data(), 23);
        writer->Write(band.data(), 23);
        writer->Finish();
        EXPECT_TRUE(warnings.empty());

        std::string problem;
        ASSERT_EQ(SniffFile(path, problem), &format);
        HeldPicture back = format.readWhole(path, {});
        ASSERT_EQ(back.pixels->Width(), 37);
        ASSERT_EQ(back.pixels->Height(), 23);
        if (!format.writesLossless) continue;  // JPEG: the codec's own tests check it
        for (int y = 0; y < 23; ++y)
            EXPECT_EQ(0, std::memcmp(back.pixels->RowAddress(y), picture->RowAddress(y), 37 * 3))
                << "row " << y;
    }
}

// A JPEG file held whole is the desktop program's picture, pixels and
// palette alike; a damaged one only when its damage is accepted.
TEST(PictureFormatTable, AJpegFileHeldWholeIsTheDesktopProgramsPicture) {
    SetDisplayBitsPerPixel(32);
    testing::TempFolder folder;
    auto encoded = [](bool gray) {
        TJPEGImage jpeg;
        jpeg.Assign(*testing::RandomPicture(Depth24, 61, 35, 7));
        jpeg.SetGrayscaleOutput(gray);
        jpeg.Compress();
        return Bytes(jpeg.Data().begin(), jpeg.Data().end());
    };
    const Bytes colour = encoded(false);
    const struct {
        const char* name;
        Bytes file;
        bool acceptDamaged;
        const char* told;  // how the refusal, or else the warning, begins; "" none
    } cases[] = {
        {"colour", colour, false, ""},
        {"gray", encoded(true), false, ""},
        {"cut", Bytes(colour.begin(), colour.end() - 300), false, "JPEG: the data ends at row "},
        {"cut, accepted", Bytes(colour.begin(), colour.end() - 300), true,
         "JPEG: the data ends at row "},
    };
    const PictureFormat& format = *FormatOfName("a.jpg");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder / "a.jpg";
        testing::WriteAll(path, c.file);
        ReadSettings settings;
        settings.acceptDamaged = c.acceptDamaged;
        HeldPicture held;
        try {
            held = format.readWhole(path, settings);
        } catch (const BitmapError& error) {
            EXPECT_FALSE(c.acceptDamaged);
            EXPECT_EQ(std::string(error.what()).rfind(c.told, 0), 0u) << error.what();
            EXPECT_TRUE(*c.told) << error.what();
            continue;
        }
        TBitmap loaded;
        ASSERT_EQ(LoadPictureFileQuiet(loaded, path), FileOutcome::Done);
        EXPECT_EQ(held.pixels->Image().format, loaded.Image().format);
        EXPECT_EQ(held.pixels->Palette(), loaded.Palette());
        EXPECT_EQ(testing::RowBytes(*held.pixels), testing::RowBytes(loaded));
        const std::string warnings = held.warnings.empty() ? "" : held.warnings.front();
        EXPECT_EQ(warnings.rfind(c.told, 0), 0u) << warnings;
        EXPECT_EQ(held.warnings.size(), *c.told ? 1u : 0u);
    }
}

}  // namespace
}  // namespace sigillon
