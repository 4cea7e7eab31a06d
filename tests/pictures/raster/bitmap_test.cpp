#include "pictures/raster/bitmap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "pictures/raster/bitmap_image.h"
#include "pictures/raster/screen_rows.h"
#include "tests/support/pictures.h"

namespace sigillon {
namespace {

std::unique_ptr<TBitmap> MakePicture(PixelDepth depth, int width, int height) {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(depth);
    picture->SetWidth(width);
    picture->SetHeight(height);
    return picture;
}

TEST(Bitmap, NewPictureIsEmptyWithDeviceDepth) {
    TBitmap picture;
    EXPECT_TRUE(picture.IsEmpty());
    EXPECT_EQ(picture.Width(), 0);
    EXPECT_EQ(picture.Height(), 0);
    EXPECT_EQ(picture.GetDepth(), DepthDevice);
}

TEST(Bitmap, FormatSetOnEmptyPictureIsKeptUntilBothDimensionsExist) {
    TBitmap picture;
    picture.SetDepth(Depth24);
    picture.SetWidth(768);
    EXPECT_TRUE(picture.IsEmpty());
    EXPECT_EQ(picture.GetDepth(), Depth24);
    picture.SetHeight(600);
    ASSERT_FALSE(picture.IsEmpty());
    EXPECT_EQ(picture.GetDepth(), Depth24);
    EXPECT_EQ(picture.Stride(), 2304);
    for (int y = 0; y < 600; ++y) {
        const std::uint8_t* row = picture.RowAddress(y);
        for (int i = 0; i < 2304; ++i) ASSERT_EQ(row[i], 255) << "row " << y << " byte " << i;
    }
}

TEST(Bitmap, ZeroSizeOnNewPictureChangesNothingAndDoesNotNotify) {
    TBitmap picture;
    int changes = 0;
    picture.OnChange = [&] { ++changes; };
    picture.SetWidth(0);
    picture.SetHeight(0);
    EXPECT_TRUE(picture.IsEmpty());
    EXPECT_EQ(changes, 0);
}

TEST(Bitmap, StrideFillsRowsToFourBytes) {
    struct Case {
        PixelDepth depth;
        int width;
        std::int64_t stride;
    };
    for (Case c : {Case{Depth24, 1, 4}, Case{Depth24, 2, 8}, Case{Depth24, 4, 12},
                   Case{Depth1, 1, 4}, Case{Depth1, 33, 8}, Case{Depth4, 9, 8},
                   Case{Depth8, 5, 8}, Case{Depth15, 3, 8}, Case{Depth16, 2, 4},
                   Case{Depth32, 3, 12}}) {
        auto picture = MakePicture(c.depth, c.width, 2);
        EXPECT_EQ(picture->Stride(), c.stride) << int(c.depth) << " width " << c.width;
    }
}

TEST(Bitmap, PictureWithoutFormatGetsDeviceStorageThatRowAccessMakesAddressable) {
    TBitmap picture;
    picture.SetWidth(10);
    picture.SetHeight(5);
    EXPECT_FALSE(picture.IsEmpty());
    EXPECT_EQ(picture.GetDepth(), DepthDevice);
    EXPECT_EQ(picture.PixelAt(3, 3), clWhite);
    picture.RowAddress(0);
    EXPECT_EQ(picture.GetDepth(), Depth32);
    EXPECT_EQ(picture.PixelAt(3, 3), clWhite);
}

// Row access changes the shared record in place rather than copying it, so
// a picture sharing device storage sees the same rows in the same format.
TEST(Bitmap, RowAccessOnSharedDeviceStorageMakesBothPicturesRowStorage) {
    TBitmap picture;
    picture.SetWidth(6);
    picture.SetHeight(4);
    TBitmap sharer;
    sharer.ShareImage(picture);
    ASSERT_EQ(sharer.GetDepth(), DepthDevice);

    const TBitmap& readOnly = sharer;
    readOnly.RowAddress(1);
    EXPECT_EQ(sharer.GetDepth(), DepthDevice) << "reading rows changes nothing";

    picture.RowAddress(2)[0] = 0x40;  // blue of pixel (0, 2)
    EXPECT_TRUE(sharer.SharesImageWith(picture));
    EXPECT_EQ(picture.GetDepth(), Depth32);
    EXPECT_EQ(sharer.GetDepth(), Depth32);
    EXPECT_EQ(sharer.PixelAt(0, 2), 0x0040FFFFu);  // blue is the high byte of a colour
}

TEST(Bitmap, RowZeroIsTheTopRowInBothStorageOrders) {
    auto bottomUp = MakePicture(Depth24, 3, 4);
    EXPECT_FALSE(bottomUp->IsTopDown());
    EXPECT_EQ(bottomUp->RowAddress(1) - bottomUp->RowAddress(0), -bottomUp->Stride());
    bottomUp->RowAddress(0)[0] = 0x11;
    EXPECT_EQ(bottomUp->Image().pixels[3 * bottomUp->Stride()], 0x11);

    auto record = TBitmap::NewImage(3, 4, RowFormat::Bgr24);
    record->topDown = true;
    std::memset(record->pixels.get(), 0xFF, std::size_t(record->StorageBytes()));
    TBitmap topDown;
    topDown.AdoptImage(std::move(record));
    EXPECT_TRUE(topDown.IsTopDown());
    EXPECT_EQ(topDown.RowAddress(1) - topDown.RowAddress(0), topDown.Stride());
    topDown.RowAddress(0)[0] = 0x22;
    EXPECT_EQ(topDown.Image().pixels[0], 0x22);
    EXPECT_EQ(topDown.PixelAt(0, 0), 0x0022FFFFu);  // blue is the first byte
}

TEST(Bitmap, RowAddressRefusesRowsOutsideThePicture) {
    auto picture = MakePicture(Depth24, 3, 4);
    EXPECT_THROW(picture->RowAddress(-1), BitmapError);
    EXPECT_THROW(picture->RowAddress(4), BitmapError);
    EXPECT_NO_THROW(picture->RowAddress(3));
    TBitmap empty;
    EXPECT_THROW(empty.RowAddress(0), BitmapError);
}

TEST(Bitmap, SharedPicturesSeeRowWritesAndSplitOnDrawing) {
    auto a = MakePicture(Depth24, 8, 8);
    TBitmap b;
    b.ShareImage(*a);
    EXPECT_TRUE(b.SharesImageWith(*a));

    a->RowAddress(2)[0] = 7;  // row writes never end the sharing
    EXPECT_TRUE(b.SharesImageWith(*a));
    EXPECT_EQ(b.RowAddress(2)[0], 7);

    a->SetDepth(Depth24);  // the same format costs nothing and keeps sharing
    EXPECT_TRUE(b.SharesImageWith(*a));

    a->SetPixelAt(1, 1, 0x00123456);
    EXPECT_FALSE(b.SharesImageWith(*a));
    EXPECT_EQ(a->PixelAt(1, 1), 0x00123456u);
    EXPECT_EQ(b.PixelAt(1, 1), clWhite);
    EXPECT_EQ(a->PixelAt(0, 2) & 0xFF0000, 0x070000u);
}

TEST(Bitmap, SizeAndFormatChangesEndSharingOnlyForThePictureChanged) {
    auto a = MakePicture(Depth24, 8, 8);
    TBitmap b, c;
    b.ShareImage(*a);
    c.ShareImage(*a);
    b.SetWidth(4);
    EXPECT_EQ(a->Width(), 8);
    EXPECT_TRUE(c.SharesImageWith(*a));
    c.SetDepth(Depth8);
    EXPECT_EQ(a->GetDepth(), Depth24);
    EXPECT_FALSE(c.SharesImageWith(*a));
}

TEST(Bitmap, SharingWithItselfKeepsTheImage) {
    auto a = MakePicture(Depth24, 4, 4);
    a->RowAddress(0)[0] = 9;
    int changes = 0;
    a->OnChange = [&] { ++changes; };
    a->ShareImage(*a);
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(a->RowAddress(0)[0], 9);
}

TEST(Bitmap, NotifiesOnSizeFormatShareAndDrawingButNotOnRowWrites) {
    TBitmap picture;
    int changes = 0;
    picture.OnChange = [&] { ++changes; };
    picture.SetDepth(Depth24);
    picture.SetWidth(4);
    picture.SetHeight(4);
    EXPECT_EQ(changes, 3);
    picture.RowAddress(0)[0] = 1;
    EXPECT_EQ(changes, 3);
    picture.SetPixelAt(0, 0, clBlack);
    EXPECT_EQ(changes, 4);
    picture.SetPixelAt(10, 10, clBlack);  // outside: ignored
    EXPECT_EQ(changes, 4);
    TBitmap other;
    picture.ShareImage(other);
    EXPECT_EQ(changes, 5);
}

TEST(Bitmap, PixelAtReadsBlueGreenRedBytes) {
    auto picture = MakePicture(Depth24, 2, 2);
    std::uint8_t* row = picture->RowAddress(1);
    row[3] = 0x10;
    row[4] = 0x20;
    row[5] = 0x30;
    EXPECT_EQ(picture->PixelAt(1, 1), 0x00102030u);
    EXPECT_EQ(picture->PixelAt(2, 0), 0xFFFFFFFFu);
    EXPECT_EQ(picture->PixelAt(0, -1), 0xFFFFFFFFu);
}

TEST(Bitmap, GetDepthFollowsBitsAndMasks) {
    struct Case {
        RowFormat format;
        std::uint32_t green;
        PixelDepth expected;
    };
    for (Case c : {Case{RowFormat::Device, 0, DepthDevice}, Case{RowFormat::Index1, 0, Depth1},
                   Case{RowFormat::Index4, 0, Depth4}, Case{RowFormat::Index8, 0, Depth8},
                   Case{RowFormat::Rgb555, 0, Depth15}, Case{RowFormat::Masks16, 0x07E0, Depth16},
                   Case{RowFormat::Masks16, 0x03E0, DepthCustom},
                   Case{RowFormat::Bgr24, 0, Depth24}, Case{RowFormat::Bgrx32, 0, Depth32},
                   Case{RowFormat::Masks32, 0xFF00, DepthCustom}}) {
        auto record = TBitmap::NewImage(2, 2, c.format);
        record->masks = {0, c.green, 0};
        TBitmap picture;
        picture.AdoptImage(std::move(record));
        EXPECT_EQ(picture.GetDepth(), c.expected) << BitsOf(c.format) << " bits";
    }
}

// A picture of every pixel format with distinct colours, in either storage
// order, to compare the row reader's reading with the picture's own.
std::unique_ptr<TBitmap> MakePatterned(PixelDepth depth, bool topDown) {
    auto picture = std::make_unique<TBitmap>();
    if (depth != DepthDevice) picture->SetDepth(depth);
    picture->SetWidth(13);
    picture->SetHeight(5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 13; ++x)
            picture->SetPixelAt(x, y, RGBColor(std::uint8_t(x * 19), std::uint8_t(y * 50),
                                               std::uint8_t((x * y * 7) & 0xFF)));
    if (topDown) {
        // The same pixels stored top row first.
        const TBitmapImage& from = picture->Image();
        auto record = TBitmap::NewImage(from.width, from.height, from.format);
        record->masks = from.masks;
        record->palette = from.palette;
        record->topDown = true;
        for (int y = 0; y < from.height; ++y)
            std::memcpy(record->pixels.get() + y * record->stride, picture->RowAddress(y),
                        std::size_t(record->stride));
        picture->AdoptImage(std::move(record));
    }
    return picture;
}

TEST(RowReader, ReadsEveryFormatAsThePictureDoes) {
    const PixelDepth depths[] = {DepthDevice, Depth1,  Depth4,  Depth8,
                                 Depth15,     Depth16, Depth24, Depth32};
    for (PixelDepth depth : depths) {
        for (bool topDown : {false, true}) {
            std::unique_ptr<TBitmap> picture = MakePatterned(depth, topDown);
            ASSERT_EQ(picture->IsTopDown(), topDown);
            RowReader reader(*picture);
            std::uint32_t span[13];
            std::int32_t columns[4] = {12, 0, 7, 7};
            std::uint32_t sampled[4];
            for (int y = 0; y < 5; ++y) {
                reader.ReadSpan(y, 0, 13, span);
                for (int x = 0; x < 13; ++x)
                    ASSERT_EQ(span[x], ScreenColor(picture->PixelAt(x, y)))
                        << "depth " << int(depth) << " topDown " << topDown << " at " << x << ","
                        << y;
                reader.ReadColumns(y, columns, 4, sampled);
                for (int i = 0; i < 4; ++i)
                    ASSERT_EQ(sampled[i], ScreenColor(picture->PixelAt(columns[i], y)));
            }
        }
    }
}

TEST(Bitmap, CustomFormatIsRefusedAndLeavesThePicture) {
    auto picture = MakePicture(Depth8, 3, 3);
    EXPECT_THROW(picture->SetDepth(DepthCustom), BitmapError);
    EXPECT_EQ(picture->GetDepth(), Depth8);
    EXPECT_EQ(picture->Width(), 3);
}

TEST(Bitmap, HalftonePaletteHoldsTheColoursTheGlyphsNeed) {
    const auto& palette = HalftonePalette256();
    ASSERT_EQ(palette.size(), 256u);
    for (TColor c : {clBlack, clWhite, TColor(0x808080), TColor(0xFF0000)})
        EXPECT_NE(std::find(palette.begin(), palette.end(), c), palette.end()) << std::hex << c;
    EXPECT_EQ(StandardPalette16().size(), 16u);
}

// Every conversion between row formats keeps colours that both formats can
// hold exactly: black, white, and the pure primaries (present in both
// palettes and exact in 5, 6 and 8 bits per channel).
TEST(Bitmap, ConversionsBetweenEveryPairOfRowFormatsKeepExactColours) {
    const PixelDepth formats[] = {Depth1, Depth4, Depth8, Depth15, Depth16, Depth24, Depth32};
    const TColor colours[] = {clBlack, clWhite, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFF00};
    for (PixelDepth from : formats) {
        for (PixelDepth to : formats) {
            bool twoColours = from == Depth1 || to == Depth1;
            auto picture = MakePicture(from, 13, 3);
            for (int x = 0; x < 13; ++x) {
                TColor c = twoColours ? (x % 2 ? clWhite : clBlack) : colours[x % 6];
                picture->SetPixelAt(x, x % 3, c);
            }
            auto expected = std::vector<TColor>();
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 13; ++x) expected.push_back(picture->PixelAt(x, y));
            picture->SetDepth(to);
            EXPECT_EQ(picture->GetDepth(), to);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 13; ++x)
                    ASSERT_EQ(picture->PixelAt(x, y), expected[std::size_t(y * 13 + x)])
                        << int(from) << " -> " << int(to) << " at " << x << "," << y;
        }
    }
}

// Into a palette format every pixel takes its nearest palette colour,
// whether the whole picture is converted or one pixel is drawn.
TEST(Bitmap, PaletteFormatsTakeTheNearestPaletteColour) {
    struct Case {
        PixelDepth depth;
        const std::vector<TColor>& palette;
    };
    const Case cases[] = {{Depth8, HalftonePalette256()}, {Depth4, StandardPalette16()}};
    for (const Case& c : cases) {
        std::mt19937 random(7);
        auto converted = MakePicture(Depth24, 64, 16);
        auto drawn = MakePicture(c.depth, 64, 16);
        std::vector<TColor> original;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 64; ++x) {
                TColor colour = random() & 0xFFFFFF;
                std::uint8_t* p = converted->RowAddress(y) + 3 * x;
                p[0] = BlueOf(colour), p[1] = GreenOf(colour), p[2] = RedOf(colour);
                drawn->SetPixelAt(x, y, colour);
                original.push_back(colour);
            }
        converted->SetDepth(c.depth);
        ASSERT_EQ(converted->Palette(), c.palette);
        ASSERT_EQ(drawn->Palette(), c.palette);
        converted->SetDepth(Depth24);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 64; ++x) {
                TColor wanted = original[std::size_t(y * 64 + x)];
                const std::uint8_t* p = converted->RowAddress(y) + 3 * x;
                ASSERT_TRUE(
                    testing::IsNearestInPalette(c.palette, wanted, RGBColor(p[2], p[1], p[0])))
                    << "converted to " << int(c.depth) << " at " << x << "," << y;
                ASSERT_TRUE(testing::IsNearestInPalette(c.palette, wanted, drawn->PixelAt(x, y)))
                    << "drawn in " << int(c.depth) << " at " << x << "," << y;
            }
    }
}

TEST(Bitmap, SixteenBitsRoundChannelsToTheirBits) {
    auto picture = MakePicture(Depth24, 1, 1);
    picture->SetPixelAt(0, 0, RGBColor(0x30, 0x20, 0x10));
    picture->SetDepth(Depth16);
    const std::uint8_t* p = picture->RowAddress(0);
    std::uint16_t v = std::uint16_t(p[0] | p[1] << 8);
    EXPECT_EQ(v >> 11, (0x30 * 31 + 127) / 255);
    EXPECT_EQ((v >> 5) & 63, (0x20 * 63 + 127) / 255);
    EXPECT_EQ(v & 31, (0x10 * 31 + 127) / 255);
}

TEST(Bitmap, ResizingKeepsTheTopLeftPixelsAndFillsWhite) {
    for (PixelDepth depth : {Depth4, Depth24}) {
        auto picture = MakePicture(depth, 5, 4);
        picture->SetPixelAt(0, 0, clBlack);
        picture->SetPixelAt(4, 3, clBlack);
        picture->SetWidth(7);
        picture->SetHeight(6);
        EXPECT_EQ(picture->PixelAt(0, 0), clBlack);
        EXPECT_EQ(picture->PixelAt(4, 3), clBlack);
        EXPECT_EQ(picture->PixelAt(6, 5), clWhite);
        picture->SetWidth(2);
        EXPECT_EQ(picture->PixelAt(0, 0), clBlack);
        EXPECT_EQ(picture->Stride(), depth == Depth4 ? 4 : 8);
    }
}

TEST(Bitmap, TransparentColourIsTheBottomLeftPixelUnlessSet) {
    auto picture = MakePicture(Depth24, 4, 4);
    picture->SetPixelAt(0, 3, 0x00C0FFEE);
    EXPECT_EQ(picture->TransparentColor(), 0x00C0FFEEu);
    auto mono = MakePicture(Depth1, 4, 4);
    mono->SetPixelAt(0, 3, clBlack);
    EXPECT_EQ(mono->TransparentColor(), clWhite);
    picture->SetTransparentColor(0x123);
    TBitmap copy;
    copy.ShareImage(*picture);
    EXPECT_EQ(copy.TransparentColor(), 0x123u);
}

TEST(Bitmap, StorageOverTheLimitIsRefusedAndThePictureKept) {
    auto picture = MakePicture(Depth24, 100, 100);
    picture->SetPixelAt(1, 1, clBlack);
    // 100000 x 100 x 3 bytes is fine; 100000 rows of it are not.
    picture->SetWidth(100000);
    EXPECT_THROW(picture->SetHeight(100000), BitmapError);
    EXPECT_EQ(picture->Height(), 100);
    EXPECT_EQ(picture->PixelAt(1, 1), clBlack);
    // Sizes that overflow 32 bits must not wrap around to something small.
    EXPECT_THROW(picture->SetWidth(0x7FFFFFFF), BitmapError);
    EXPECT_EQ(picture->Width(), 100000);
    EXPECT_THROW(TBitmap::NewImage(0x7FFFFFFF, 0x7FFFFFFF, RowFormat::Bgrx32), BitmapError);
}

TEST(Bitmap, StorageCheckHoldsExactlyUpToTheLimitAndNeverOverflows) {
    struct Case {
        std::int64_t width, rows;
        int bits;
        std::int64_t limit;
        bool held;
    };
    const std::int64_t most = kMaxStorageBytes;  // 2147483647
    const Case cases[] = {
        {1, 536870911, 32, most, true},  // 4 x 536870911 = 2147483644
        {1, 536870912, 32, most, false},
        {100000, 7158, 24, most, true},  // 300000 x 7158 = 2147400000
        {100000, 7159, 24, most, false},
        {0x7FFFFFFF, 0x7FFFFFFF, 32, most, false},  // 2^33 x 2^31 overflows 64 bits
        {0x7FFFFFFF, 0x7FFFFFFF, 64, most, false},
        {std::int64_t(1) << 33, 1, 1, most, false},
        {5, 0, 24, most, true},
        {-1, 4, 24, most, false},
        {4, -1, 24, most, false},
        {10, 25, 32, 1000, true},  // 40 x 25 = 1000
        {10, 26, 32, 1000, false},
    };
    for (const Case& c : cases) {
        SetStorageLimit(c.limit);
        EXPECT_EQ(CanHoldRows(c.width, c.rows, c.bits), c.held)
            << c.width << " x " << c.rows << " at " << c.bits << " within " << c.limit;
    }
    SetStorageLimit(kMaxStorageBytes);
    EXPECT_EQ(StorageLimit(), kMaxStorageBytes);
}

}  // namespace
}  // namespace sigillon
