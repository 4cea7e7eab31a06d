#include "pictures/bmp/bmp.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

using testing::BmpFields;
using testing::BuildBmp;
using testing::Bytes;
using testing::Get16;
using testing::Get32;
using testing::Put16;
using testing::Put32;
using testing::RandomBytes;

constexpr ColorMasks k565{0xF800, 0x07E0, 0x001F};
constexpr ColorMasks k555{0x7C00, 0x03E0, 0x001F};
constexpr ColorMasks k888{0xFF0000, 0x00FF00, 0x0000FF};

std::vector<TColor> RandomPalette(int entries, unsigned seed) {
    Bytes bytes = RandomBytes(std::size_t(entries) * 3, seed);
    std::vector<TColor> palette;
    for (int i = 0; i < entries; ++i)
        palette.push_back(RGBColor(bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]));
    return palette;
}

std::unique_ptr<TBitmap> Read(const Bytes& bytes) {
    auto picture = std::make_unique<TBitmap>();
    ReadBmpData(*picture, bytes.data(), bytes.size());
    return picture;
}

// ---- Every row format, read and written back byte for byte ----

struct RowFormat {
    const char* name;
    BmpFields layout;
    PixelDepth depth;
};

// A canonical file of each form: full colour tables, exact image sizes, so
// that the writer must give back the very same bytes.
std::vector<RowFormat> RowFormats() {
    auto make = [](std::uint32_t header, std::int32_t width, std::int32_t height, int bits,
                   std::optional<ColorMasks> masks, unsigned seed) {
        BmpFields s;
        s.headerSize = header;
        s.width = width;
        s.height = height;
        s.bits = std::uint16_t(bits);
        s.masks = masks;
        s.compression = masks ? 3 : 0;
        if (header != 12) {
            s.xPelsPerMeter = 2835;
            s.yPelsPerMeter = 3780;
            s.colorsImportant = bits <= 8 ? 2 : 0;
        }
        if (bits <= 8) s.palette = RandomPalette(1 << bits, seed);
        std::size_t stride = std::size_t(StrideFor(width, bits));
        s.pixels = RandomBytes(stride * std::size_t(std::abs(height)), seed + 1);
        return s;
    };
    return {
        {"1 bit", make(40, 13, 3, 1, {}, 1), Depth1},
        {"4 bits", make(40, 5, 3, 4, {}, 2), Depth4},
        {"8 bits", make(40, 5, 3, 8, {}, 3), Depth8},
        {"8 bits top-down", make(40, 5, -3, 8, {}, 4), Depth8},
        {"16 bits plain", make(40, 3, 2, 16, {}, 5), Depth15},
        {"16 bits 5-6-5 masks", make(40, 3, 2, 16, k565, 6), Depth16},
        {"16 bits 5-5-5 masks", make(40, 3, 2, 16, k555, 7), DepthCustom},
        {"24 bits", make(40, 3, 2, 24, {}, 8), Depth24},
        {"24 bits top-down", make(40, 3, -2, 24, {}, 9), Depth24},
        {"32 bits plain", make(40, 3, 2, 32, {}, 10), Depth32},
        {"32 bits masks", make(40, 3, 2, 32, k888, 11), DepthCustom},
        {"32 bits masks top-down", make(40, 3, -2, 32, ColorMasks{0xFF, 0xFF00, 0xFF0000}, 12),
         DepthCustom},
        {"12-byte header, 1 bit", make(12, 9, 2, 1, {}, 13), Depth1},
        {"12-byte header, 4 bits", make(12, 3, 2, 4, {}, 14), Depth4},
        {"12-byte header, 8 bits", make(12, 3, 2, 8, {}, 15), Depth8},
        {"12-byte header, 24 bits", make(12, 3, 2, 24, {}, 16), Depth24},
    };
}

TEST(BmpFile, EveryRowFormatIsReadAsStoredAndWrittenBackByteForByte) {
    for (const RowFormat& f : RowFormats()) {
        SCOPED_TRACE(f.name);
        const Bytes file = BuildBmp(f.layout);
        auto picture = Read(file);
        const std::int32_t rows = std::abs(f.layout.height);
        ASSERT_EQ(picture->Width(), f.layout.width);
        ASSERT_EQ(picture->Height(), rows);
        EXPECT_EQ(picture->GetDepth(), f.depth);
        EXPECT_EQ(picture->IsTopDown(), f.layout.height < 0);
        EXPECT_EQ(picture->Palette(), f.layout.palette);
        EXPECT_EQ(picture->Masks(), f.layout.masks.value_or(ColorMasks{}));
        EXPECT_EQ(picture->BmpInfo().coreHeader, f.layout.headerSize == 12);

        // Row 0 is the top row whatever the order the file stores them in.
        const std::size_t stride = std::size_t(StrideFor(f.layout.width, f.layout.bits));
        const std::size_t pixelStart = file.size() - f.layout.pixels.size();
        for (std::int32_t y = 0; y < rows; ++y) {
            std::size_t fileRow = std::size_t(f.layout.height < 0 ? y : rows - 1 - y);
            Bytes expected(file.begin() + std::ptrdiff_t(pixelStart + fileRow * stride),
                           file.begin() + std::ptrdiff_t(pixelStart + (fileRow + 1) * stride));
            const std::uint8_t* row = picture->RowAddress(y);
            EXPECT_EQ(Bytes(row, row + stride), expected) << "row " << y;
        }
        EXPECT_EQ(EncodeBmp(*picture), file);
    }
}

// What a pixel means, format by format: one-pixel files with known bytes.
TEST(BmpFile, PixelsMeanWhatTheirFormatSays) {
    struct Case {
        const char* name;
        BmpFields layout;
        TColor colour;
    };
    auto one = [](std::uint32_t header, int bits, Bytes pixel, std::vector<TColor> palette = {},
                  std::optional<ColorMasks> masks = {}) {
        BmpFields s;
        s.headerSize = header;
        s.width = 1;
        s.height = 1;
        s.bits = std::uint16_t(bits);
        s.palette = std::move(palette);
        s.masks = masks;
        s.compression = masks ? 3 : 0;
        pixel.resize(4, 0);
        s.pixels = pixel;
        return s;
    };
    std::vector<TColor> sixteen(16, clBlack);
    sixteen[5] = 0x00336699;
    std::vector<TColor> many(256, clBlack);
    many[200] = 0x00ABCDEF;
    const Case cases[] = {
        {"1 bit", one(40, 1, {0x80}, {clBlack, 0x00336699}), 0x00336699},
        {"4 bits", one(40, 4, {0x50}, sixteen), 0x00336699},
        {"8 bits", one(40, 8, {200}, many), 0x00ABCDEF},
        {"12-byte header, 8 bits", one(12, 8, {200}, many), 0x00ABCDEF},
        {"16 bits plain is 5-5-5", one(40, 16, {0x00, 0x7C}), RGBColor(255, 0, 0)},
        {"16 bits 5-6-5", one(40, 16, {0xE0, 0x07}, {}, k565), RGBColor(0, 255, 0)},
        {"24 bits blue green red", one(40, 24, {0x10, 0x20, 0x30}), 0x00102030},
        {"32 bits plain", one(40, 32, {0x10, 0x20, 0x30, 0xEE}), 0x00102030},
        {"32 bits swapped masks",
         one(40, 32, {0x10, 0x20, 0x30, 0}, {}, ColorMasks{0xFF, 0xFF00, 0xFF0000}),
         RGBColor(0x10, 0x20, 0x30)},
        // Longer headers carry the masks in their own fields.
        {"52-byte header masks",
         one(52, 32, {0x10, 0x20, 0x30, 0}, {}, ColorMasks{0xFF, 0xFF00, 0xFF0000}),
         RGBColor(0x10, 0x20, 0x30)},
        {"124-byte header masks", one(124, 16, {0xE0, 0x07}, {}, k565), RGBColor(0, 255, 0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto picture = Read(BuildBmp(c.layout));
        EXPECT_EQ(picture->PixelAt(0, 0), c.colour);
    }
}

TEST(BmpFile, LongerInfoHeaderIsReadWholeAndWrittenAsTheFortyByteForm) {
    BmpFields layout;
    layout.headerSize = 124;
    layout.width = 2;
    layout.height = 1;
    layout.pixels = {1, 2, 3, 4, 5, 6, 0, 0};
    auto picture = Read(BuildBmp(layout));
    ASSERT_EQ(picture->GetDepth(), Depth24);
    EXPECT_EQ(picture->PixelAt(1, 0), RGBColor(6, 5, 4));
    Bytes written = EncodeBmp(*picture);
    EXPECT_EQ(Get32(written, 14), 40u);
    EXPECT_EQ(Get32(written, 10), 54u);
    layout.headerSize = 40;
    EXPECT_EQ(written, BuildBmp(layout));
}

// ---- The writer on pictures the program makes ----

TEST(BmpWriter, TrueColourPictureIsAPlainBottomUpFileWithDataAtOffset54) {
    auto picture = testing::RandomPicture(Depth24, 5, 3, 21);
    const Bytes file = EncodeBmp(*picture);
    const std::uint32_t stride = 16;  // 15 pixel bytes filled to 16
    ASSERT_EQ(file.size(), 54 + stride * 3);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(Get32(file, 2), 54 + stride * 3);  // file size
    EXPECT_EQ(Get32(file, 6), 0u);               // reserved
    EXPECT_EQ(Get32(file, 10), 54u);             // data offset
    EXPECT_EQ(Get32(file, 14), 40u);
    EXPECT_EQ(Get32(file, 18), 5u);
    EXPECT_EQ(Get32(file, 22), 3u);  // positive: bottom-up
    EXPECT_EQ(Get16(file, 26), 1u);
    EXPECT_EQ(Get16(file, 28), 24u);
    EXPECT_EQ(Get32(file, 30), 0u);  // no compression
    EXPECT_EQ(Get32(file, 34), stride * 3);
    for (std::size_t at : {38, 42, 46, 50}) EXPECT_EQ(Get32(file, at), 0u) << "field at " << at;
    for (int y = 0; y < 3; ++y) {
        const std::uint8_t* row = picture->RowAddress(y);
        Bytes expected(row, row + stride);
        std::size_t at = 54 + std::size_t(2 - y) * stride;
        EXPECT_EQ(
            Bytes(file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(at + stride)),
            expected);
    }
    auto back = Read(file);
    EXPECT_EQ(back->GetDepth(), Depth24);
    EXPECT_EQ(testing::RowBytes(*back), testing::RowBytes(*picture));
}

TEST(BmpWriter, PaletteAndMaskFormatsWriteTheirTablesAndRoundTrip) {
    struct Case {
        PixelDepth depth;
        std::uint32_t dataOffset;
        std::uint32_t compression;
        std::uint32_t colorsUsed;
    };
    for (Case c :
         {Case{Depth1, 54 + 8, 0, 2}, Case{Depth4, 54 + 64, 0, 16}, Case{Depth8, 54 + 1024, 0, 256},
          Case{Depth15, 54, 0, 0}, Case{Depth16, 54 + 12, 3, 0}, Case{Depth32, 54, 0, 0}}) {
        SCOPED_TRACE(int(c.depth));
        auto picture = testing::RandomPicture(c.depth, 7, 4, 30 + c.depth);
        const Bytes file = EncodeBmp(*picture);
        EXPECT_EQ(Get32(file, 10), c.dataOffset);
        EXPECT_EQ(Get32(file, 2), file.size());
        EXPECT_EQ(Get32(file, 30), c.compression);
        EXPECT_EQ(Get32(file, 46), c.colorsUsed);
        auto back = Read(file);
        EXPECT_EQ(back->GetDepth(), c.depth);
        EXPECT_EQ(back->Palette(), picture->Palette());
        EXPECT_EQ(testing::RowBytes(*back), testing::RowBytes(*picture));
        EXPECT_EQ(EncodeBmp(*back), file);
    }
}

TEST(BmpWriter, ShortPaletteIsWrittenAsTheWholeTableWithBlackEntries) {
    auto image = TBitmap::NewImage(2, 1, sigillon::RowFormat::Index8);
    image->palette = {0x00010203, 0x00040506, 0x00070809};
    image->pixels[0] = 1;
    image->pixels[1] = 2;
    image->pixels[2] = image->pixels[3] = 0;
    TBitmap picture;
    picture.AdoptImage(std::move(image));
    const Bytes file = EncodeBmp(picture);
    EXPECT_EQ(Get32(file, 10), 54u + 1024u);
    EXPECT_EQ(Get32(file, 46), 256u);
    EXPECT_EQ(Get32(file, 54 + 4 * 2), 0x00090807u);  // blue, green, red, 0
    for (std::size_t e = 3; e < 256; ++e) EXPECT_EQ(Get32(file, 54 + 4 * e), 0u) << e;
    auto back = Read(file);
    EXPECT_EQ(back->PixelAt(0, 0), 0x00040506u);
    EXPECT_EQ(back->PixelAt(1, 0), 0x00070809u);
}

TEST(BmpWriter, TwelveByteFormIsKeptUntilTheFormatChanges) {
    BmpFields layout;
    layout.headerSize = 12;
    layout.bits = 8;
    layout.width = 2;
    layout.height = 2;
    layout.palette = RandomPalette(256, 40);
    layout.pixels = {1, 2, 0, 0, 3, 4, 0, 0};
    const Bytes file = BuildBmp(layout);
    auto picture = Read(file);
    Bytes written = EncodeBmp(*picture);
    EXPECT_EQ(Get32(written, 10), 14u + 12u + 3u * 256u);
    EXPECT_EQ(written, file);

    picture->SetDepth(Depth24);
    written = EncodeBmp(*picture);
    EXPECT_EQ(Get32(written, 14), 40u);
    EXPECT_EQ(Get32(written, 10), 54u);
}

TEST(BmpWriter, EmptyPictureGivesNoBytes) {
    TBitmap picture;
    EXPECT_TRUE(EncodeBmp(picture).empty());
}

// ---- Run-length-encoded files ----

BmpFields RleFields(int bits, std::int32_t width, std::int32_t height, Bytes stream) {
    BmpFields s;
    s.width = width;
    s.height = height;
    s.bits = std::uint16_t(bits);
    s.compression = bits == 8 ? 1 : 2;
    s.palette = {0x00000011, 0x00002200, 0x00330000, 0x00444444, 0x00555555, 0x00666666};
    s.pixels = std::move(stream);
    return s;
}

TEST(BmpRle, Rle8IsExpandedIntoDeviceStorage) {
    const TColor c1 = 0x00002200, c2 = 0x00330000, c3 = 0x00444444;
    // Bottom row first: a run of two, three literal pixels of which the
    // last falls off the row, end of line; a jump one right and one up
    // (leaving the middle row black), a run of three; end of picture->
    BmpFields layout = RleFields(8, 4, 3,
                                 {0x02, 0x01, 0x00, 0x03, 0x02, 0x03, 0x01, 0x00, 0x00, 0x00, 0x00,
                                  0x02, 0x01, 0x01, 0x03, 0x02, 0x00, 0x01});
    layout.colorsUsed = 6;
    auto picture = Read(BuildBmp(layout));
    EXPECT_EQ(picture->GetDepth(), DepthDevice);
    const TColor expected[3][4] = {
        {clBlack, c2, c2, c2}, {clBlack, clBlack, clBlack, clBlack}, {c1, c1, c2, c3}};
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(picture->PixelAt(x, y), expected[y][x]) << x << "," << y;

    // Row access gives plain 32-bit rows: blue, green, red, 0.
    const std::uint8_t* bottom = picture->RowAddress(2);
    EXPECT_EQ(picture->GetDepth(), Depth32);
    EXPECT_EQ(Bytes(bottom + 12, bottom + 16), (Bytes{0x44, 0x44, 0x44, 0}));
    EXPECT_EQ(Bytes(bottom + 8, bottom + 12), (Bytes{0x33, 0x00, 0x00, 0}));
}

TEST(BmpRle, Rle4RunsAlternateTheirTwoIndices) {
    // A run of three of 1,2; four literal indices 3,4,5,0 of which one
    // falls off the five-pixel row; end of picture->
    BmpFields layout = RleFields(4, 5, 1, {0x03, 0x12, 0x00, 0x04, 0x34, 0x50, 0x00, 0x01});
    auto picture = Read(BuildBmp(layout));
    EXPECT_EQ(picture->GetDepth(), DepthDevice);
    const TColor expected[5] = {0x00002200, 0x00330000, 0x00002200, 0x00444444, 0x00555555};
    for (int x = 0; x < 5; ++x) EXPECT_EQ(picture->PixelAt(x, 0), expected[x]) << x;
}

TEST(BmpRle, DeviceStoragePictureIsWrittenAsThirtyTwoBitRows) {
    auto picture = Read(BuildBmp(RleFields(8, 3, 2, {0x03, 0x02, 0x00, 0x00, 0x03, 0x04})));
    ASSERT_EQ(picture->GetDepth(), DepthDevice);
    const Bytes file = EncodeBmp(*picture);
    EXPECT_EQ(Get16(file, 28), 32u);
    EXPECT_EQ(Get32(file, 30), 0u);
    auto back = Read(file);
    EXPECT_EQ(back->GetDepth(), Depth32);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(back->PixelAt(x, y), picture->PixelAt(x, y));
}

TEST(BmpRle, StreamsThatLeaveThePictureAreClippedAndShortOnesEndBlack) {
    struct Case {
        const char* name;
        Bytes stream;
    };
    const Case cases[] = {
        {"runs far past the row", {0xFF, 0x01, 0xFF, 0x02, 0x00, 0x00, 0xFF, 0x03}},
        {"jumps far past the picture",
         {0x00, 0x02, 0xFF, 0xFF, 0x01, 0x01, 0x00, 0x02, 0xFF, 0x00, 0x01, 0x01}},
        {"too many lines", {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x01}},
        {"literal run cut short", {0x00, 0xFF, 0x01, 0x02}},
        {"jump cut short", {0x01, 0x01, 0x00, 0x02, 0x05}},
        {"odd byte at the end", {0x01, 0x01, 0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int bits : {4, 8}) {
            auto picture = Read(BuildBmp(RleFields(bits, 3, 2, c.stream)));
            EXPECT_EQ(picture->GetDepth(), DepthDevice);
            EXPECT_EQ(picture->Width(), 3);
        }
    }
    // The rows the stream never reached are black.
    auto cut = Read(BuildBmp(RleFields(8, 3, 2, {0x02, 0x03})));
    EXPECT_EQ(cut->PixelAt(1, 1), 0x00444444u);
    EXPECT_EQ(cut->PixelAt(2, 1), clBlack);
    EXPECT_EQ(cut->PixelAt(0, 0), clBlack);
}

// ---- Files the reader accepts although they are unusual ----

TEST(BmpFile, EmptyFileEmptiesThePicture) {
    auto picture = testing::RandomPicture(Depth24, 4, 4, 50);
    ReadBmpData(*picture, nullptr, 0);
    EXPECT_TRUE(picture->IsEmpty());
    EXPECT_EQ(picture->Width(), 0);
    EXPECT_EQ(picture->Height(), 0);
}

BmpFields EightBitFields() {
    BmpFields s;
    s.width = 2;
    s.height = 2;
    s.bits = 8;
    s.palette = {0x00000010, 0x00000020, 0x00000030, 0x00000040};
    s.colorsUsed = 4;
    s.pixels = {3, 2, 0, 0, 1, 0, 0, 0};  // bottom row 3,2; top row 1,0
    return s;
}

void ExpectEightBitPixels(const TBitmap& picture) {
    EXPECT_EQ(picture.PixelAt(0, 0), 0x00000020u);
    EXPECT_EQ(picture.PixelAt(1, 0), 0x00000010u);
    EXPECT_EQ(picture.PixelAt(0, 1), 0x00000040u);
    EXPECT_EQ(picture.PixelAt(1, 1), 0x00000030u);
}

TEST(BmpFile, PixelsBeginAtTheDataOffsetWhenItLiesAfterTheColourTable) {
    BmpFields layout = EightBitFields();
    layout.gap = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    auto picture = Read(BuildBmp(layout));
    ExpectEightBitPixels(*picture);
}

TEST(BmpFile, DataOffsetInsideTheHeadersOrPastTheEndIsIgnored) {
    for (std::uint32_t offset : {0u, 14u, 54u, 60u, 200u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(offset);
        Bytes file = BuildBmp(EightBitFields());
        Put32(file, 10, offset);
        ExpectEightBitPixels(*Read(file));
    }
}

TEST(BmpFile, ColourTableShorterThanTheIndicesGivesBlackForTheRest) {
    auto picture = Read(BuildBmp(EightBitFields()));
    ASSERT_EQ(picture->Palette().size(), 256u);
    EXPECT_EQ(picture->Palette()[3], 0x00000040u);
    EXPECT_EQ(picture->Palette()[4], clBlack);
    EXPECT_EQ(picture->Palette()[255], clBlack);
}

TEST(BmpFile, ShortFileGivesTheRowsItHasAndBlackForTheRest) {
    BmpFields layout;
    layout.width = 1;
    layout.height = 3;
    layout.pixels = {0x10, 0x20, 0x30, 0xAA, 0x40, 0x50};  // bottom row, then half a row
    layout.imageSize = 12;
    auto picture = Read(BuildBmp(layout));
    ASSERT_EQ(picture->Height(), 3);
    EXPECT_EQ(picture->PixelAt(0, 2), 0x00102030u);
    EXPECT_EQ(picture->PixelAt(0, 1), RGBColor(0, 0x50, 0x40));
    EXPECT_EQ(picture->PixelAt(0, 0), clBlack);
}

TEST(BmpFile, ImageSizeFieldZeroOrTooLargeStillReadsTheRows) {
    for (std::uint32_t size : {0u, 4096u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(size);
        BmpFields layout = EightBitFields();
        layout.imageSize = size;
        ExpectEightBitPixels(*Read(BuildBmp(layout)));
    }
}

TEST(BmpFile, BitFieldPictureWithAnEmptyMaskReadsThatChannelAsZero) {
    BmpFields layout;
    layout.width = 1;
    layout.height = 1;
    layout.bits = 16;
    layout.compression = 3;
    layout.masks = ColorMasks{0xF800, 0x07E0, 0};
    layout.pixels = {0xFF, 0xFF, 0, 0};
    EXPECT_EQ(Read(BuildBmp(layout))->PixelAt(0, 0), RGBColor(255, 255, 0));
}

// ---- Files the reader refuses, leaving the picture as it was ----

TEST(BmpFile, MalformedHeadersAreRefusedAndThePictureIsUntouched) {
    struct Case {
        const char* name;
        std::function<void(Bytes&)> breakIt;
        const char* says = "BMP: ";  // the start of the refusal
    };
    // The largest sides a header can give: their storage overflows 64 bits
    // when multiplied out at 32 bits per pixel.
    auto largest = [](Bytes& b) {
        Put32(b, 18, 0x7FFFFFFF);
        Put32(b, 22, 0x7FFFFFFF);
    };
    const char* tooLarge = "BMP: picture of 2147483647 x 2147483647 pixels is too large";
    const BmpFields base = EightBitFields();
    BmpFields bitFields;
    bitFields.width = 1;
    bitFields.height = 1;
    bitFields.bits = 32;
    bitFields.compression = 3;
    bitFields.masks = k888;
    bitFields.pixels = {1, 2, 3, 4};

    const Case cases[] = {
        {"no BM signature",
         [](Bytes& b) {
             b[0] = 'M';
             b[1] = 'B';
         }},
        {"cut inside the file header", [](Bytes& b) { b.resize(10); }},
        {"cut inside the info header", [](Bytes& b) { b.resize(30); }},
        {"info header of 16 bytes", [](Bytes& b) { Put32(b, 14, 16); }},
        {"info header of 0 bytes", [](Bytes& b) { Put32(b, 14, 0); }},
        {"info header longer than the file", [](Bytes& b) { Put32(b, 14, 0xFFFFFFF0); }},
        {"no planes", [](Bytes& b) { Put16(b, 26, 0); }},
        {"two planes", [](Bytes& b) { Put16(b, 26, 2); }},
        {"0 bits", [](Bytes& b) { Put16(b, 28, 0); }},
        {"2 bits", [](Bytes& b) { Put16(b, 28, 2); }},
        {"64 bits", [](Bytes& b) { Put16(b, 28, 64); }},
        {"JPEG inside", [](Bytes& b) { Put32(b, 30, 4); }},
        {"PNG inside", [](Bytes& b) { Put32(b, 30, 5); }},
        {"alpha bit fields", [](Bytes& b) { Put32(b, 30, 6); }},
        {"RLE4 with 8 bits", [](Bytes& b) { Put32(b, 30, 2); }},
        {"bit fields with 8 bits", [](Bytes& b) { Put32(b, 30, 3); }},
        {"RLE8 top-down",
         [](Bytes& b) {
             Put32(b, 30, 1);
             Put32(b, 22, std::uint32_t(-2));
         }},
        {"zero width", [](Bytes& b) { Put32(b, 18, 0); }},
        {"negative width", [](Bytes& b) { Put32(b, 18, std::uint32_t(-2)); }},
        {"zero height", [](Bytes& b) { Put32(b, 22, 0); }},
        {"most negative height", [](Bytes& b) { Put32(b, 22, 0x80000000u); }},
        {"storage over 2 GiB",
         [](Bytes& b) {
             Put32(b, 18, 3000000);
             Put32(b, 22, 2000000);
         },
         "BMP: picture of 3000000 x 2000000 pixels is too large"},
        {"largest sides", largest, tooLarge},
        {"largest sides at 24 bits",
         [&](Bytes& b) {
             largest(b);
             Put16(b, 28, 24);
         },
         tooLarge},
        {"largest sides at 32 bits",
         [&](Bytes& b) {
             largest(b);
             Put16(b, 28, 32);
         },
         tooLarge},
        {"largest sides in RLE8",
         [&](Bytes& b) {
             largest(b);
             Put32(b, 30, 1);
         },
         tooLarge},
        {"largest sides in RLE4",
         [&](Bytes& b) {
             largest(b);
             Put16(b, 28, 4);
             Put32(b, 30, 2);
         },
         tooLarge},
        {"257 colours", [](Bytes& b) { Put32(b, 46, 257); }},
        {"4 billion colours", [](Bytes& b) { Put32(b, 46, 0xFFFFFFFF); }},
        {"cut inside the colour table", [](Bytes& b) { b.resize(54 + 10); }},
    };
    const Case maskCases[] = {
        {"cut inside the masks", [](Bytes& b) { b.resize(60); }},
        {"mask with a hole", [](Bytes& b) { Put32(b, 54, 0x00FF00FF); }},
        {"16-bit mask above 16 bits",
         [](Bytes& b) {
             Put16(b, 28, 16);
             Put32(b, 54, 0x1F0000);
         }},
        {"largest sides with bit fields", largest, tooLarge},
        {"largest sides with 16-bit fields",
         [&](Bytes& b) {
             largest(b);
             Put16(b, 28, 16);
             Put32(b, 54, 0x7C00);
             Put32(b, 58, 0x03E0);
             Put32(b, 62, 0x001F);
         },
         tooLarge},
    };

    auto check = [](const Bytes& file, const Case& c) {
        SCOPED_TRACE(c.name);
        auto before = testing::RandomPicture(Depth24, 2, 2, 60);
        TBitmap picture;
        picture.ShareImage(*before);
        try {
            ReadBmpData(picture, file.data(), file.size());
            ADD_FAILURE() << "accepted";
        } catch (const BitmapError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(c.says, 0), 0u) << error.what();
        }
        EXPECT_TRUE(picture.SharesImageWith(*before));
    };
    for (const Case& c : cases) {
        Bytes file = BuildBmp(base);
        c.breakIt(file);
        check(file, c);
    }
    for (const Case& c : maskCases) {
        Bytes file = BuildBmp(bitFields);
        ASSERT_EQ(file.size(), 70u) << "the bit-field file is the 70-byte one";
        c.breakIt(file);
        check(file, c);
    }
}

}  // namespace
}  // namespace sigillon
