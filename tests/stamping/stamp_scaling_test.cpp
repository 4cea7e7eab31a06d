#include "stamping/stamp_scaling.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>

namespace sigillon {
namespace {

using Painter = std::function<void(int x, int y, std::uint8_t* bgr)>;

std::shared_ptr<TBitmap> Painted(int width, int height, const Painter& paint) {
    return TBitmap::FromRows(width, height, Depth24, [&](std::int32_t y, std::uint8_t* row) {
        for (int x = 0; x < width; ++x) paint(x, y, row + 3 * x);
    });
}

// A ring of ink on white, the shape of a letter's strokes.
std::shared_ptr<TBitmap> Ring(int size, std::uint8_t b = 0, std::uint8_t g = 0, std::uint8_t r = 0) {
    return Painted(size, size, [=](int x, int y, std::uint8_t* p) {
        int dx = 2 * x - size, dy = 2 * y - size;
        int r2 = dx * dx + dy * dy;
        bool ink = r2 < size * size * 3 / 4 && r2 > size * size / 3;
        p[0] = ink ? b : 255, p[1] = ink ? g : 255, p[2] = ink ? r : 255;
    });
}

TEST(StampScaling, WidthIsTheShareOfThePictureAndHeightKeepsTheAspect) {
    struct Case {
        int pictureWidth, percent, width;
    };
    for (Case c : {Case{1000, 25, 250}, Case{999, 10, 100}, Case{333, 50, 167}, Case{40, 1, 1},
                   Case{6000, 100, 6000}})
        EXPECT_EQ(ScaledWidth(c.pictureWidth, c.percent), c.width) << c.pictureWidth;

    StampImage stamp{Painted(200, 80, [](int, int, std::uint8_t* p) { std::memset(p, 0, 3); }), {}};
    for (auto [width, height] : {std::pair{100, 40}, {50, 20}, {33, 13}, {7, 3}, {400, 160}}) {
        StampImage scaled = ScaleStamp(stamp, width);
        EXPECT_EQ(scaled.Width(), width);
        EXPECT_EQ(scaled.Height(), height);
        EXPECT_EQ(scaled.pixels->GetDepth(), Depth24);
        EXPECT_EQ(scaled.alpha.size(), std::size_t(width * height));
    }
}

TEST(StampScaling, ScaleByChoosesThePictureSideTheShareIsOf) {
    // A 200 x 100 stamp at 10 %, on a landscape and a portrait picture.
    struct Case {
        int pictureWidth, pictureHeight;
        ScaleBy by;
        int width, height;
    };
    const Case cases[] = {
        {3000, 2000, ScaleBy::Width, 300, 150},   {2000, 3000, ScaleBy::Width, 200, 100},
        {3000, 2000, ScaleBy::Height, 400, 200},  {2000, 3000, ScaleBy::Height, 600, 300},
        {3000, 2000, ScaleBy::Shorter, 200, 100}, {2000, 3000, ScaleBy::Shorter, 200, 100},
        {3000, 2000, ScaleBy::Longer, 300, 150},  {2000, 3000, ScaleBy::Longer, 300, 150},
        {45, 5, ScaleBy::Height, 2, 1},           {5, 45, ScaleBy::Shorter, 1, 1},
    };
    for (const Case& c : cases) {
        const StampSize size = ScaledSize(200, 100, c.pictureWidth, c.pictureHeight, 10, c.by);
        EXPECT_EQ(size.width, c.width)
            << c.pictureWidth << "x" << c.pictureHeight << " " << int(c.by);
        EXPECT_EQ(size.height, c.height)
            << c.pictureWidth << "x" << c.pictureHeight << " " << int(c.by);
    }
    StampImage stamp{Painted(20, 10, [](int, int, std::uint8_t* p) { std::memset(p, 0, 3); }), {}};
    const StampImage scaled = ScaleStamp(stamp, 9, 7);
    EXPECT_EQ(scaled.Width() * 100 + scaled.Height(), 907) << "a given height is kept";
}

TEST(StampScaling, WhiteKeyedStampBecomesAlphaBeforeItIsShrunk) {
    StampImage keyed = WithAlpha({Ring(40), {}});
    ASSERT_EQ(keyed.alpha.size(), 1600u);
    EXPECT_EQ(keyed.alpha[0], 0) << "white corner";
    EXPECT_EQ(keyed.alpha[20 * 40 + 6], 255) << "on the ring";
}

// Shrinking black strokes keyed on white must not leave pale pixels: once
// stamped, nothing near an edge may be brighter than both the picture and
// the stamp's own colour.
TEST(StampScaling, ShrunkStampLeavesNoPaleFringe) {
    const int pictureSize = 64;
    for (int width : {37, 23, 11}) {
        for (StampMode mode : {StampMode(0), StampMode(4)}) {
            StampImage scaled = ScaleStamp({Ring(60), {}}, width);
            auto picture = Painted(pictureSize, pictureSize,
                                   [](int, int, std::uint8_t* p) { std::memset(p, 90, 3); });
            int partial = 0;
            for (std::uint8_t a : scaled.alpha) partial += a > 0 && a < 255;
            EXPECT_GT(partial, 0) << "the edges are soft";
            ASSERT_EQ(PlacementRefusal(width, scaled.Height(), pictureSize, pictureSize, true, mode,
                                       0),
                      std::nullopt);
            PlacedStamp placed(scaled, pictureSize, pictureSize, mode, 0);
            for (int y = 0; y < pictureSize; ++y) placed.StampRow(y, picture->RowAddress(y));
            for (int y = 0; y < pictureSize; ++y)
                for (int x = 0; x < 3 * pictureSize; ++x)
                    ASSERT_LE(picture->RowAddress(y)[x], 90)
                        << "width " << width << " mode " << int(mode) << " at byte " << x << ","
                        << y;
        }
    }
}

// A block of one colour inside a white border, shrunk and enlarged: every
// pixel that shows any of it shows exactly its colour, and those whose
// neighbourhood lies wholly inside it are opaque too.
TEST(StampScaling, FlatColourStaysExactlyThatColour) {
    const std::uint8_t colour[3] = {30, 160, 221};
    const int sw = 64, sh = 48, border = 8;
    auto stamp = Painted(sw, sh, [&](int x, int y, std::uint8_t* p) {
        bool inside = x >= border && x < sw - border && y >= border && y < sh - border;
        for (int k = 0; k < 3; ++k) p[k] = inside ? colour[k] : 255;
    });
    for (int width : {16, 23, 64, 100, 173}) {
        StampImage scaled = ScaleStamp({stamp, {}}, width);
        const double step = double(sw) / width;  // source pixels per target pixel
        const double reach = std::max(1.0, step) + 1;
        int opaque = 0;
        for (int y = 0; y < scaled.Height(); ++y)
            for (int x = 0; x < width; ++x) {
                const double cx = (x + 0.5) * step, cy = (y + 0.5) * double(sh) / scaled.Height();
                const bool deepInside = cx > border + reach && cx < sw - border - reach &&
                                        cy > border + reach && cy < sh - border - reach;
                const std::uint8_t a = scaled.alpha[std::size_t(y * width + x)];
                const std::uint8_t* p = scaled.pixels->RowAddress(y) + 3 * x;
                if (deepInside) {
                    ASSERT_EQ(a, 255) << "width " << width << " at " << x << "," << y;
                    ++opaque;
                }
                for (int k = 0; a > 0 && k < 3; ++k)
                    ASSERT_EQ(p[k], colour[k]) << "width " << width << " at " << x << "," << y;
            }
        EXPECT_GT(opaque, 0) << width;
    }
}

// Shrinking by a whole factor k averages k x k blocks, so the premultiplied
// ink of the result, times k * k, is the stamp's own, up to what rounding a
// colour and an alpha to whole values can move one pixel's ink: half a step
// of each, at most 1 in all.
TEST(StampScaling, ShrinkingByAWholeFactorKeepsTheInk) {
    std::mt19937 random(5);
    std::vector<std::uint8_t> noise(72 * 72);
    for (std::uint8_t& a : noise) a = std::uint8_t(random());
    auto speckled = Painted(72, 72, [&](int, int, std::uint8_t* p) {
        for (int k = 0; k < 3; ++k) p[k] = std::uint8_t(random());
    });
    const StampImage stamps[] = {{Ring(72, 40, 90, 200), {}}, {speckled, noise}};
    for (const StampImage& stamp : stamps) {
        const StampImage keyed = WithAlpha(stamp);
        double ink[4] = {};  // blue, green, red, alpha
        for (int y = 0; y < 72; ++y)
            for (int x = 0; x < 72; ++x) {
                const double a = keyed.alpha[std::size_t(y * 72 + x)];
                for (int k = 0; k < 3; ++k) ink[k] += stamp.pixels->RowAddress(y)[3 * x + k] * a / 255;
                ink[3] += a;
            }
        for (int factor : {2, 3, 4, 8}) {
            const int width = 72 / factor;
            StampImage scaled = ScaleStamp(stamp, width);
            ASSERT_EQ(scaled.Height(), width);
            double kept[4] = {};
            for (int y = 0; y < width; ++y)
                for (int x = 0; x < width; ++x) {
                    const double a = scaled.alpha[std::size_t(y * width + x)];
                    for (int k = 0; k < 3; ++k) kept[k] += scaled.pixels->RowAddress(y)[3 * x + k] * a / 255;
                    kept[3] += a;
                }
            const double pixels = double(width) * width;
            for (int k = 0; k < 4; ++k)
                EXPECT_LE(std::abs(kept[k] * factor * factor - ink[k]),
                          (k == 3 ? 0.5 : 1.0) * pixels * factor * factor)
                    << "factor " << factor << " channel " << k;
        }
    }
}

}  // namespace
}  // namespace sigillon
