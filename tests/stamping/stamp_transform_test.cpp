#include "stamping/stamp_transform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

namespace sigillon {
namespace {

std::shared_ptr<TBitmap> Filled(int width, int height, std::uint8_t b, std::uint8_t g,
                                std::uint8_t r) {
    return TBitmap::FromRows(width, height, Depth24, [&](std::int32_t, std::uint8_t* row) {
        for (int x = 0; x < width; ++x) row[3 * x] = b, row[3 * x + 1] = g, row[3 * x + 2] = r;
    });
}

TEST(RotateStamp, QuarterTurnsMovePixelsExactly) {
    std::mt19937 random(3);
    const int w = 7, h = 4;
    StampImage stamp{TBitmap::FromRows(w, h, Depth24, [&](std::int32_t, std::uint8_t* row) {
                         for (int i = 0; i < 3 * w; ++i) row[i] = std::uint8_t(random());
                     }),
                     std::vector<std::uint8_t>(std::size_t(w * h))};
    for (std::uint8_t& a : stamp.alpha) a = std::uint8_t(random());
    // Where box pixel (x, y) comes from in the stamp, seen turned anticlockwise.
    struct Case {
        double degrees;
        int boxWidth;
        int (*sx)(int x, int y);
        int (*sy)(int x, int y);
    };
    const Case cases[] = {
        {90, h, [](int, int y) { return w - 1 - y; }, [](int x, int) { return x; }},
        {-270, h, [](int, int y) { return w - 1 - y; }, [](int x, int) { return x; }},
        {180, w, [](int x, int) { return w - 1 - x; }, [](int, int y) { return h - 1 - y; }},
        {270, h, [](int, int y) { return y; }, [](int x, int) { return h - 1 - x; }},
        {360, w, [](int x, int) { return x; }, [](int, int y) { return y; }},
    };
    for (bool withAlpha : {true, false})
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << c.degrees << " degrees, alpha " << withAlpha);
            const StampImage given{stamp.pixels, withAlpha ? stamp.alpha : std::vector<std::uint8_t>{}};
            const StampImage turned = RotateStamp(given, c.degrees);
            ASSERT_EQ(turned.Width(), c.boxWidth);
            ASSERT_EQ(turned.Width() * turned.Height(), w * h);
            EXPECT_EQ(turned.alpha.empty(), !withAlpha) << "a quarter turn keeps white keyed";
            for (int y = 0; y < turned.Height(); ++y)
                for (int x = 0; x < turned.Width(); ++x) {
                    const int sx = c.sx(x, y), sy = c.sy(x, y);
                    ASSERT_EQ(std::memcmp(turned.pixels->RowAddress(y) + 3 * x,
                                          stamp.pixels->RowAddress(sy) + 3 * sx, 3),
                              0)
                        << x << "," << y;
                    if (withAlpha) {
                        ASSERT_EQ(turned.alpha[std::size_t(y * turned.Width() + x)],
                                  stamp.alpha[std::size_t(sy * w + sx)]);
                    }
                }
        }
}

TEST(RotateStamp, OtherAnglesFadeEdgesInTheStampsOwnColour) {
    // An opaque red bar without alpha, and white ink on transparent black:
    // every pixel the turned stamp covers at all keeps the ink's colour.
    StampImage red{Filled(40, 12, 0, 0, 255), {}};
    StampImage white{Filled(40, 12, 255, 255, 255), std::vector<std::uint8_t>(40 * 12, 255)};
    auto ink = Filled(40, 12, 0, 0, 0);
    StampImage whiteInk{ink, std::vector<std::uint8_t>(40 * 12, 0)};
    for (int y = 2; y < 10; ++y) {
        std::memset(ink->RowAddress(y) + 6, 255, 3 * 28);
        std::memset(&whiteInk.alpha[std::size_t(y * 40 + 2)], 255, 28);
    }
    struct Case {
        const StampImage* stamp;
        double degrees;
        int boxWidth, boxHeight;  // ceil(40 |cos| + 12 |sin|), ceil(40 |sin| + 12 |cos|)
        double inkArea;
        std::uint8_t ink[3];
    };
    const Case cases[] = {
        {&red, 30, 41, 31, 480, {0, 0, 255}},     {&red, 45, 37, 37, 480, {0, 0, 255}},
        {&red, -30, 41, 31, 480, {0, 0, 255}},    {&white, 30, 41, 31, 480, {255, 255, 255}},
        {&whiteInk, 45, 37, 37, 224, {255, 255, 255}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.degrees << " degrees, ink " << int(c.ink[0]));
        const StampImage turned = RotateStamp(*c.stamp, c.degrees);
        ASSERT_EQ(turned.Width(), c.boxWidth);
        ASSERT_EQ(turned.Height(), c.boxHeight);
        ASSERT_EQ(turned.alpha.size(), std::size_t(c.boxWidth * c.boxHeight));
        double area = 0;
        int topRow = -1, rightmostInTopRow = -1;
        for (int y = 0; y < turned.Height(); ++y)
            for (int x = 0; x < turned.Width(); ++x) {
                const int a = turned.alpha[std::size_t(y * turned.Width() + x)];
                area += a / 255.0;
                if (a == 0) continue;
                if (topRow < 0) topRow = y;
                if (y == topRow) rightmostInTopRow = x;
                ASSERT_EQ(std::memcmp(turned.pixels->RowAddress(y) + 3 * x, c.ink, 3), 0)
                    << "a fringe at " << x << "," << y << " alpha " << a;
            }
        EXPECT_NEAR(area, c.inkArea, c.inkArea * 0.02) << "the ink keeps its area";
        EXPECT_EQ(turned.alpha[0], 0) << "the box's corners are transparent";
        // Anticlockwise, the bar's right end rises: the topmost ink is right
        // of the middle; clockwise, left of it.
        EXPECT_EQ(rightmostInTopRow > c.boxWidth / 2, c.degrees > 0) << rightmostInTopRow;
    }

    // Burnt in solid over grey, every byte lies between the ink's and the
    // picture's: nothing paler or darker than both.
    const StampImage turned = RotateStamp(red, 30);
    auto picture = Filled(64, 48, 128, 128, 128);
    PlacedStamp placed(turned, 64, 48, {0, Anchor::Center, 0, 0, 0, 0});
    for (int y = 0; y < 48; ++y) placed.StampRow(y, picture->RowAddress(y));
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            const std::uint8_t* p = picture->RowAddress(y) + 3 * x;
            ASSERT_TRUE(p[0] <= 128 && p[1] <= 128 && p[2] >= 128) << x << "," << y;
        }
}

}  // namespace
}  // namespace sigillon
