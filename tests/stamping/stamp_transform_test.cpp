#include "stamping/stamp_transform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace sigillon {
namespace {

std::shared_ptr<TBitmap> Filled(int width, int height, std::uint32_t bgr) {
    return TBitmap::FromRows(width, height, Depth24, [&](std::int32_t, std::uint8_t* row) {
        for (int x = 0; x < 3 * width; ++x) row[x] = std::uint8_t(bgr >> (8 * (x % 3)));
    });
}

TEST(RotateStamp, QuarterTurnsMovePixelsExactly) {
    std::mt19937 random(3);
    const int w = 7, h = 4;
    std::shared_ptr<const TBitmap> pixels =
        TBitmap::FromRows(w, h, Depth24, [&](std::int32_t, std::uint8_t* row) {
            for (int i = 0; i < 3 * w; ++i) row[i] = std::uint8_t(random());
        });
    std::vector<std::uint8_t> alpha(std::size_t(w * h));
    for (std::uint8_t& a : alpha) a = std::uint8_t(random());
    // Box pixel (x, y) shows stamp pixel (x0 + xx * x + xy * y, y0 + yx * x + yy * y),
    // turned anticlockwise as seen.
    struct Case {
        double degrees;
        int x0, xx, xy, y0, yx, yy;
    };
    const Case cases[] = {{90, w - 1, 0, -1, 0, 1, 0},
                          {-270, w - 1, 0, -1, 0, 1, 0},
                          {180, w - 1, -1, 0, h - 1, 0, -1},
                          {270, 0, 0, 1, h - 1, -1, 0},
                          {0, 0, 1, 0, 0, 0, 1}};
    for (bool withAlpha : {true, false})
        for (const Case& c : cases) {
            const StampImage turned = RotateStamp(
                StampImage{pixels, withAlpha ? alpha : std::vector<std::uint8_t>{}}, c.degrees);
            ASSERT_EQ(turned.Width() * turned.Height(), w * h) << c.degrees;
            EXPECT_EQ(turned.alpha.empty(), !withAlpha) << "white stays keyed";
            for (int y = 0; y < turned.Height(); ++y)
                for (int x = 0; x < turned.Width(); ++x) {
                    const int sx = c.x0 + c.xx * x + c.xy * y, sy = c.y0 + c.yx * x + c.yy * y;
                    ASSERT_EQ(std::memcmp(turned.pixels->RowAddress(y) + 3 * x,
                                          pixels->RowAddress(sy) + 3 * sx, 3),
                              0)
                        << c.degrees << " at " << x << "," << y;
                    ASSERT_TRUE(!withAlpha || turned.alpha[std::size_t(y * turned.Width() + x)] ==
                                                  alpha[std::size_t(sy * w + sx)]);
                }
        }
}

TEST(RotateStamp, OtherAnglesFadeEdgesInTheStampsOwnColour) {
    // An opaque red bar without alpha, and white ink on transparent black:
    // every pixel the turned stamp covers at all has exactly the ink's colour.
    auto ink = Filled(40, 12, 0);
    StampImage whiteInk{ink, std::vector<std::uint8_t>(40 * 12, 0)};
    for (int y = 2; y < 10; ++y) {
        std::memset(ink->RowAddress(y) + 6, 255, 3 * 28);
        std::memset(&whiteInk.alpha[std::size_t(y * 40 + 2)], 255, 28);
    }
    const StampImage red{Filled(40, 12, 0xFF0000), {}};
    struct Case {
        const StampImage* stamp;
        double degrees;
        int boxWidth, boxHeight;  // ceil(40 |cos| + 12 |sin|), ceil(40 |sin| + 12 |cos|)
        double inkArea;
        std::uint32_t ink;
    };
    for (const Case& c :
         {Case{&red, 30, 41, 31, 480, 0xFF0000}, Case{&red, 45, 37, 37, 480, 0xFF0000},
          Case{&red, -30, 41, 31, 480, 0xFF0000}, Case{&whiteInk, 45, 37, 37, 224, 0xFFFFFF}}) {
        SCOPED_TRACE(testing::Message() << c.degrees << " degrees, ink " << c.ink);
        const StampImage turned = RotateStamp(*c.stamp, c.degrees);
        ASSERT_EQ(turned.Width() * 100 + turned.Height(), c.boxWidth * 100 + c.boxHeight);
        const auto inkPixel = Filled(1, 1, c.ink);
        double area = 0;
        int topRow = -1, rightmostInTopRow = -1;
        for (int i = 0; i < c.boxWidth * c.boxHeight; ++i) {
            const int a = turned.alpha[std::size_t(i)], x = i % c.boxWidth, y = i / c.boxWidth;
            area += a / 255.0;
            if (a == 0) continue;
            if (topRow < 0) topRow = y;
            if (y == topRow) rightmostInTopRow = x;
            ASSERT_EQ(std::memcmp(turned.pixels->RowAddress(y) + 3 * x, inkPixel->RowAddress(0), 3),
                      0)
                << "a fringe at " << x << "," << y << " alpha " << a;
        }
        EXPECT_NEAR(area, c.inkArea, c.inkArea * 0.02) << "the ink keeps its area";
        EXPECT_EQ(turned.alpha[0], 0) << "the box's corners are transparent";
        // Anticlockwise the bar's right end rises, clockwise its left end.
        EXPECT_EQ(rightmostInTopRow > c.boxWidth / 2, c.degrees > 0) << rightmostInTopRow;
    }
}

}  // namespace
}  // namespace sigillon
