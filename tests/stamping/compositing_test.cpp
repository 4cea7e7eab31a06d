#include "stamping/compositing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <string>

#include "pictures/raster/bitmap_image.h"
#include "pictures/bmp/bmp.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

// Counts the steps a pass runs after its rows, and runs an action inside
// each, as a nested event would.
struct StepCounter {
    int steps = 0;
    std::function<void()> during;
    RowStep Step() {
        return [this] {
            ++steps;
            if (during) during();
        };
    }
};

std::unique_ptr<TBitmap> Picture(int width, int height, PixelDepth depth = Depth24) {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(depth);
    picture->SetWidth(width);
    picture->SetHeight(height);
    return picture;
}

void Fill(TBitmap& picture, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    for (int y = 0; y < picture.Height(); ++y) {
        std::uint8_t* row = picture.RowAddress(y);
        for (int x = 0; x < picture.Width(); ++x) {
            row[3 * x] = b;
            row[3 * x + 1] = g;
            row[3 * x + 2] = r;
        }
    }
}

struct Bgr {
    int b, g, r;
    bool operator==(const Bgr&) const = default;
};

Bgr At(TBitmap& picture, int x, int y) {
    const std::uint8_t* p = picture.RowAddress(y) + 3 * x;
    return {p[0], p[1], p[2]};
}

void Set(TBitmap& picture, int x, int y, Bgr c) {
    std::uint8_t* p = picture.RowAddress(y) + 3 * x;
    p[0] = std::uint8_t(c.b), p[1] = std::uint8_t(c.g), p[2] = std::uint8_t(c.r);
}

// The pixel at column x, row y from the top as the picture is seen, read
// from the storage itself: top-down storage holds the top row first,
// bottom-up storage last.
Bgr Seen(const TBitmap& picture, int x, int y) {
    const TBitmapImage& image = picture.Image();
    std::int64_t row = image.topDown ? y : image.height - 1 - y;
    const std::uint8_t* p = image.pixels.get() + row * image.stride + 3 * x;
    return {p[0], p[1], p[2]};
}

// A white Depth24 picture stored in either order; the top-down one is read
// from a BMP file with a negative height, as such files come.
std::unique_ptr<TBitmap> WhitePicture(int width, int height, bool topDown) {
    if (!topDown) return Picture(width, height);
    testing::BmpFields fields;
    fields.width = width;
    fields.height = -height;
    fields.pixels.assign(std::size_t(StrideFor(width, 24)) * std::size_t(height), 255);
    const testing::Bytes file = testing::BuildBmp(fields);
    auto picture = std::make_unique<TBitmap>();
    ReadBmpData(*picture, file.data(), file.size());
    return picture;
}

std::vector<std::uint8_t> Bytes(TBitmap& picture) {
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.RowAddress(y);
        bytes.insert(bytes.end(), row, row + 3 * picture.Width());
    }
    return bytes;
}

TEST(StampRefusal, RefusesInOrderWithTheUsersText) {
    struct Case {
        const char* name;
        int sw, sh, pw, ph;
        PixelDepth pictureDepth;
        const char* message;  // nullptr: accepted
    };
    const Case cases[] = {
        {"nothing at all", 0, 0, 0, 0, Depth24, "Select a stamp!"},
        {"stamp 3 wide", 3, 4, 32, 32, Depth24, "Select a stamp!"},
        {"stamp 3 high", 4, 3, 32, 32, Depth24, "Select a stamp!"},
        {"smallest pair", 4, 4, 32, 32, Depth24, nullptr},
        {"picture 31 wide", 4, 4, 31, 32, Depth24, "Select a picture to stamp!"},
        {"picture 31 high", 4, 4, 32, 31, Depth24, "Select a picture to stamp!"},
        {"no picture", 4, 4, 0, 0, Depth24, "Select a picture to stamp!"},
        {"wider only", 41, 10, 40, 40, Depth24, "Stamp too large for this picture!"},
        {"taller only", 10, 41, 40, 40, Depth24, "Stamp too large for this picture!"},
        {"equal sizes", 40, 40, 40, 40, Depth24, nullptr},
        {"too large before format", 41, 41, 40, 40, Depth8, "Stamp too large for this picture!"},
        {"8-bit picture", 4, 4, 40, 40, Depth8,
         "The program handles only true color pictures (24bpp)!"},
        {"32-bit picture", 4, 4, 40, 40, Depth32,
         "The program handles only true color pictures (24bpp)!"},
    };
    for (const Case& c : cases) {
        auto stamp = Picture(c.sw, c.sh, Depth8);
        auto picture = Picture(c.pw, c.ph, c.pictureDepth);
        std::optional<std::string> refusal = StampRefusal(*stamp, *picture);
        EXPECT_EQ(refusal.has_value(), c.message != nullptr) << c.name;
        if (c.message && refusal) {
            EXPECT_EQ(*refusal, c.message) << c.name;
        }
        EXPECT_EQ(stamp->GetDepth(), Depth8) << c.name << ": the check must not convert";
    }
}

TEST(StampRefusal, WidthSetWithoutStorageStillCountsAsNoStamp) {
    TBitmap stamp;
    stamp.SetWidth(10);  // height 0: no storage
    auto picture = Picture(40, 40);
    EXPECT_EQ(StampRefusal(stamp, *picture), "Select a stamp!");
}

TEST(ApplyStamp, RefusalIsReturnedAndChangesNeitherRaster) {
    StepCounter counter;
    auto stamp = Picture(8, 8, Depth8);
    auto picture = Picture(40, 40, Depth32);
    EXPECT_EQ(ApplyStamp(*stamp, *picture, 0, counter.Step()),
              "The program handles only true color pictures (24bpp)!");
    EXPECT_EQ(stamp->GetDepth(), Depth8);
    EXPECT_EQ(picture->PixelAt(0, 0), clWhite);
    EXPECT_EQ(counter.steps, 0);
}

// A 4 x 4 black stamp on a 40 x 36 white picture lands in the mode's corner
// as the picture is seen, whichever order its rows are stored in; solid
// copies it, the watermark darkens by 2.
TEST(ApplyStamp, EachModeStampsItsCornerAndNothingElse) {
    struct Case {
        StampMode mode;
        int x, y;
        int value;  // picture byte under the stamp afterwards
    };
    for (bool topDown : {false, true}) {
        for (Case c :
             {Case{0, 0, 0, 0}, Case{1, 36, 0, 0}, Case{2, 0, 32, 0}, Case{3, 36, 32, 0},
              Case{4, 0, 0, 253}, Case{5, 36, 0, 253}, Case{6, 0, 32, 253}, Case{7, 36, 32, 253}}) {
            StepCounter counter;
            auto stamp = Picture(4, 4);
            Fill(*stamp, 0, 0, 0);
            auto picture = WhitePicture(40, 36, topDown);
            ASSERT_EQ(picture->IsTopDown(), topDown);
            EXPECT_EQ(ApplyStamp(*stamp, *picture, c.mode, counter.Step()), std::nullopt);
            EXPECT_EQ(counter.steps, 4) << "one step per stamp row";
            for (int y = 0; y < 36; ++y)
                for (int x = 0; x < 40; ++x) {
                    bool inside = x >= c.x && x < c.x + 4 && y >= c.y && y < c.y + 4;
                    int v = inside ? c.value : 255;
                    ASSERT_EQ(Seen(*picture, x, y), (Bgr{v, v, v}))
                        << "mode " << int(c.mode) << (topDown ? " top-down" : " bottom-up")
                        << " at " << x << "," << y;
                }
        }
    }
}

TEST(ApplyStamp, StampAsLargeAsThePictureGivesTheSameResultInEveryCorner) {
    std::mt19937 random(3);
    auto stamp = Picture(40, 32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 40; ++x) Set(*stamp, x, y, {int(random() % 256), 10, 200});
    std::vector<std::uint8_t> solid, watermark;
    for (StampMode mode = 0; mode <= 8; ++mode) {
        auto picture = Picture(40, 32);
        Fill(*picture, 100, 100, 100);
        ApplyStamp(*stamp, *picture, mode);
        auto& expected = mode < 4 ? solid : watermark;
        if (expected.empty())
            expected = Bytes(*picture);
        else
            EXPECT_EQ(Bytes(*picture), expected) << "mode " << int(mode);
    }
}

TEST(ApplyStamp, WhiteStampPixelsAreTransparentInEveryMode) {
    auto stamp = Picture(10, 10);  // all white
    for (StampMode mode = 0; mode <= 8; ++mode) {
        auto picture = Picture(40, 40);
        Fill(*picture, 0, 128, 1);
        auto before = Bytes(*picture);
        ApplyStamp(*stamp, *picture, mode);
        EXPECT_EQ(Bytes(*picture), before) << "mode " << int(mode);
    }
}

TEST(ApplyStamp, SolidCopiesNearWhiteUnchanged) {
    auto stamp = Picture(4, 4);
    Set(*stamp, 1, 2, {255, 255, 254});
    auto picture = Picture(32, 32);
    Fill(*picture, 5, 6, 7);
    ApplyStamp(*stamp, *picture, 0);
    EXPECT_EQ(At(*picture, 1, 2), (Bgr{255, 255, 254}));
    EXPECT_EQ(At(*picture, 0, 0), (Bgr{5, 6, 7}));
}

TEST(ApplyStamp, WatermarkWorkedPixelsAndClamping) {
    struct Case {
        Bgr picture, stamp, expected;
    };
    const Case cases[] = {
        {{1, 128, 254}, {0, 100, 255}, {0, 129, 255}},
        {{16, 32, 48}, {16, 32, 48}, {14, 31, 47}},
        {{128, 128, 128}, {255, 255, 254}, {133, 133, 133}},
        {{128, 128, 128}, {255, 255, 255}, {128, 128, 128}},
        {{255, 255, 255}, {64, 200, 254}, {255, 255, 255}},  // 255 under 64 or more stays
        {{0, 0, 0}, {95, 0, 31}, {0, 0, 0}},                 // 0 under below 96 stays
        {{1, 1, 1}, {31, 0, 20}, {0, 0, 0}},                 // 1 under below 32 becomes 0
        {{10, 10, 10}, {255, 0, 255}, {15, 8, 15}},          // 255 adds 5
        {{50, 50, 50}, {32, 96, 160}, {49, 51, 53}},
    };
    for (StampMode mode : {StampMode(4), StampMode(8)}) {
        for (const Case& c : cases) {
            auto stamp = Picture(4, 4);
            Set(*stamp, 0, 0, c.stamp);
            auto picture = Picture(32, 32);
            Fill(*picture, std::uint8_t(c.picture.b), std::uint8_t(c.picture.g),
                 std::uint8_t(c.picture.r));
            ApplyStamp(*stamp, *picture, mode);
            EXPECT_EQ(At(*picture, 0, 0), c.expected) << "mode " << int(mode);
            EXPECT_EQ(At(*picture, 1, 0), c.picture);
        }
    }
}

// Tiles start at the top-left corner as the picture is seen, whichever
// order its rows are stored in.
TEST(ApplyStamp, TiledWatermarkWrapsStampRowAndColumnCounters) {
    for (bool topDown : {false, true}) {
        StepCounter counter;
        auto stamp = Picture(100, 60);
        Set(*stamp, 37, 5, {0, 0, 0});
        Set(*stamp, 60, 59, {0, 0, 0});
        auto picture = WhitePicture(250, 130, topDown);
        ASSERT_EQ(picture->IsTopDown(), topDown);
        Fill(*picture, 100, 100, 100);
        ApplyStamp(*stamp, *picture, 8, counter.Step());
        EXPECT_EQ(counter.steps, 130) << "one step per picture row";

        std::set<std::pair<int, int>> expected;
        for (int x : {37, 137, 237})
            for (int y : {5, 65, 125}) expected.insert({x, y});
        for (int x : {60, 160})  // 260 lies beyond the 50-pixel last tile
            for (int y : {59, 119}) expected.insert({x, y});
        for (int y = 0; y < 130; ++y)
            for (int x = 0; x < 250; ++x) {
                int v = expected.count({x, y}) ? 98 : 100;
                ASSERT_EQ(Seen(*picture, x, y), (Bgr{v, v, v}))
                    << (topDown ? "top-down" : "bottom-up") << " at " << x << "," << y;
            }
    }
}

// The watermark rule for one pixel, as the user is promised it: a stamp
// pixel that is not all white moves each picture byte by (s / 32) - 2,
// limited to 0..255.
void ExpectedWatermark(const std::uint8_t* stamp, std::uint8_t* picture) {
    if (stamp[0] == 255 && stamp[1] == 255 && stamp[2] == 255) return;
    for (int k = 0; k < 3; ++k) {
        int v = picture[k] + stamp[k] / 32 - 2;
        picture[k] = std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

// The row loops must give exactly what the one-pixel rule gives: random
// pairs, and a tiled stamp too large to have its changes worked out in
// advance (2 x 3 x 1700 x 1700 bytes is over 16 MiB), so its rows are
// worked out one at a time.
TEST(ApplyStamp, OptimisedWatermarkMatchesThePerPixelRule) {
    struct Round {
        int sw, sh, pw, ph;
        StampMode firstMode;
    };
    std::mt19937 random(11);
    std::vector<Round> rounds;
    for (int round = 0; round < 6; ++round) {
        int sw = 4 + int(random() % 70), sh = 4 + int(random() % 40);
        int pw = std::max(32, sw + int(random() % 200));
        int ph = std::max(32, sh + int(random() % 90));
        rounds.push_back({sw, sh, pw, ph, 4});
    }
    rounds.push_back({1700, 1700, 1800, 1750, kTiledWatermark});
    for (const Round& round : rounds) {
        const int sw = round.sw, sh = round.sh, pw = round.pw, ph = round.ph;
        SCOPED_TRACE(std::to_string(sw) + "x" + std::to_string(sh) + " on " + std::to_string(pw) +
                     "x" + std::to_string(ph));
        auto stamp = Picture(sw, sh);
        for (int y = 0; y < sh; ++y) {
            std::uint8_t* row = stamp->RowAddress(y);
            for (int x = 0; x < sw; ++x)
                if (random() % 3)
                    for (int k = 0; k < 3; ++k) row[3 * x + k] = std::uint8_t(random());
        }
        auto picture = Picture(pw, ph);
        for (int y = 0; y < ph; ++y) {
            std::uint8_t* row = picture->RowAddress(y);
            for (int i = 0; i < 3 * pw; ++i) row[i] = std::uint8_t(random());
        }
        for (StampMode mode = round.firstMode; mode <= kTiledWatermark; ++mode) {
            auto result = Picture(pw, ph);
            auto reference = Picture(pw, ph);
            for (int y = 0; y < ph; ++y) {
                std::memcpy(result->RowAddress(y), picture->RowAddress(y), std::size_t(3 * pw));
                std::memcpy(reference->RowAddress(y), picture->RowAddress(y), std::size_t(3 * pw));
            }
            ApplyStamp(*stamp, *result, mode);
            int corner = mode % 4;
            int x0 = (corner == 1 || corner == 3) ? pw - sw : 0;
            int y0 = (corner == 2 || corner == 3) ? ph - sh : 0;
            if (mode == kTiledWatermark) {
                for (int y = 0; y < ph; ++y)
                    for (int x = 0; x < pw; ++x)
                        ExpectedWatermark(stamp->RowAddress(y % sh) + 3 * (x % sw),
                                          reference->RowAddress(y) + 3 * x);
            } else {
                for (int r = 0; r < sh; ++r)
                    for (int c = 0; c < sw; ++c)
                        ExpectedWatermark(stamp->RowAddress(r) + 3 * c,
                                          reference->RowAddress(y0 + r) + 3 * (x0 + c));
            }
            ASSERT_TRUE(Bytes(*result) == Bytes(*reference)) << "mode " << int(mode);
        }
    }
}

TEST(ApplyStamp, ModesAboveEightConvertTheStampAndStampNothing) {
    for (int mode : {9, 200, 255}) {
        StepCounter counter;
        auto stamp = Picture(8, 8, Depth8);
        stamp->SetPixelAt(1, 1, clBlack);
        auto picture = Picture(40, 40);
        EXPECT_EQ(ApplyStamp(*stamp, *picture, StampMode(mode), counter.Step()), std::nullopt);
        EXPECT_EQ(stamp->GetDepth(), Depth24);
        EXPECT_EQ(picture->PixelAt(1, 1), clWhite);
        EXPECT_EQ(counter.steps, 0);
    }
}

TEST(ApplyStamp, StampsInOtherFormatsAreConvertedFirstAndStayConverted) {
    for (PixelDepth depth : {Depth8, DepthDevice, Depth4, Depth16}) {
        auto stamp = Picture(8, 8, depth);
        stamp->SetPixelAt(2, 3, 0x0000FF);  // red
        auto picture = Picture(40, 40);
        ApplyStamp(*stamp, *picture, 0);
        EXPECT_EQ(stamp->GetDepth(), Depth24) << int(depth);
        EXPECT_EQ(At(*picture, 2, 3), (Bgr{0, 0, 255})) << int(depth);
        EXPECT_EQ(At(*picture, 3, 3), (Bgr{255, 255, 255}));
    }
}

TEST(ApplyStamp, SharedPictureShowsTheStampWithoutANewHandOver) {
    auto stamp = Picture(4, 4);
    Fill(*stamp, 0, 0, 0);
    auto picture = Picture(32, 32);
    TBitmap overview;
    overview.ShareImage(*picture);
    ApplyStamp(*stamp, *picture, 3);
    EXPECT_TRUE(overview.SharesImageWith(*picture));
    EXPECT_EQ(overview.PixelAt(31, 31), clBlack);
}

// A step that changes either raster's size or format stops the pass before
// its next row, in every kind of pass.
TEST(ApplyStamp, RasterChangedDuringAPassStopsTheWritesInsteadOfOverrunning) {
    struct Case {
        const char* name;
        StampMode mode;
        std::function<void(TBitmap& stamp, TBitmap& picture)> change;
    };
    const Case cases[] = {
        {"picture shorter", 3, [](TBitmap&, TBitmap& picture) { picture.SetHeight(5); }},
        {"picture narrower", 8, [](TBitmap&, TBitmap& picture) { picture.SetWidth(20); }},
        {"picture 32-bit", 6, [](TBitmap&, TBitmap& picture) { picture.SetDepth(Depth32); }},
        {"stamp narrower", 0, [](TBitmap& stamp, TBitmap&) { stamp.SetWidth(4); }},
        {"stamp taller", 8, [](TBitmap& stamp, TBitmap&) { stamp.SetHeight(12); }},
        {"stamp 8-bit", 5, [](TBitmap& stamp, TBitmap&) { stamp.SetDepth(Depth8); }},
    };
    for (const Case& c : cases) {
        StepCounter counter;
        auto stamp = Picture(10, 10);
        Fill(*stamp, 0, 0, 0);
        auto picture = Picture(40, 40);
        counter.during = [&] {
            if (counter.steps == 3) c.change(*stamp, *picture);
        };
        EXPECT_THROW(ApplyStamp(*stamp, *picture, c.mode, counter.Step()), BitmapError) << c.name;
        EXPECT_EQ(counter.steps, 3) << c.name;
    }
}

}  // namespace
}  // namespace sigillon
