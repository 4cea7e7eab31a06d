#include "stamping/stamp_transform.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <tuple>

#include "tests/support/pictures.h"

namespace sigillon {
namespace {

TEST(RotateStamp, QuarterTurnsMovePixelsExactly) {
    std::mt19937 random(3);
    const int w = 7, h = 4;
    std::vector<std::uint8_t> alpha;
    std::shared_ptr<const TBitmap> pixels =
        testing::MakeTrueColourPicture(w, h, [&](int, int, std::uint8_t* p) {
            for (int k = 0; k < 3; ++k) p[k] = std::uint8_t(random());
            alpha.push_back(std::uint8_t(random()));
        });
    // Box pixel (x, y) shows stamp pixel (x0 + xx * x + xy * y, y0 + yx * x + yy * y),
    // turned anticlockwise as seen.
    for (bool withAlpha : {true, false})
        for (const auto& [degrees, x0, xx, xy, y0, yx, yy] : {std::array{90, w - 1, 0, -1, 0, 1, 0},
                                                              {-270, w - 1, 0, -1, 0, 1, 0},
                                                              {180, w - 1, -1, 0, h - 1, 0, -1},
                                                              {270, 0, 0, 1, h - 1, -1, 0},
                                                              {0, 0, 1, 0, 0, 0, 1}}) {
            const StampImage turned =
                RotateStamp({pixels, withAlpha ? alpha : std::vector<std::uint8_t>{}}, degrees);
            ASSERT_EQ(turned.Width() * 100 + turned.Height(), xx ? w * 100 + h : h * 100 + w);
            EXPECT_EQ(turned.alpha.empty(), !withAlpha) << "white stays keyed";
            for (int i = 0; i < w * h; ++i) {
                const int x = i % turned.Width(), y = i / turned.Width();
                const int sx = x0 + xx * x + xy * y, sy = y0 + yx * x + yy * y;
                ASSERT_EQ(turned.pixels->PixelAt(x, y), pixels->PixelAt(sx, sy))
                    << degrees << " at " << x << "," << y;
                ASSERT_TRUE(!withAlpha ||
                            turned.alpha[std::size_t(i)] == alpha[std::size_t(sy * w + sx)]);
            }
        }
}

// White ink on transparent red, or without alpha a red frame round a keyed
// white hole: all the turned stamp covers at all is the ink's colour, and the
// ink keeps its area in a box of ceil(40 |cos| + 12 |sin|) x ceil(40 |sin| + 12 |cos|).
TEST(RotateStamp, OtherAnglesFadeEdgesInTheStampsOwnColour) {
    std::vector<std::uint8_t> alpha;
    std::shared_ptr<const TBitmap> pixels =
        testing::MakeTrueColourPicture(40, 12, [&](int x, int y, std::uint8_t* p) {
            const bool in = x >= 2 && x < 30 && y >= 2 && y < 10;
            std::memcpy(p, in ? "\xFF\xFF\xFF" : "\0\0\xFF", 3);
            alpha.push_back(in ? 255 : 0);
        });
    const TColor red = RGBColor(255, 0, 0);
    for (auto [withAlpha, degrees, boxWidth, boxHeight, area, colour] :
         {std::tuple{false, 30.0, 41, 31, 256.0, red},
          {false, 45.0, 37, 37, 256.0, red},
          {false, -30.0, 41, 31, 256.0, red},
          {true, 45.0, 37, 37, 224.0, clWhite}}) {
        SCOPED_TRACE(::testing::Message() << degrees << " degrees, ink " << colour);
        const StampImage turned =
            RotateStamp({pixels, withAlpha ? alpha : std::vector<std::uint8_t>{}}, degrees);
        ASSERT_EQ(turned.Width() * 100 + turned.Height(), boxWidth * 100 + boxHeight);
        double inked = 0;
        int firstInked = -1;  // its x: the top row's left end
        for (int i = 0; i < boxWidth * boxHeight; ++i) {
            const int a = turned.alpha[std::size_t(i)], x = i % boxWidth, y = i / boxWidth;
            inked += a / 255.0;
            if (a == 0) continue;
            if (firstInked < 0) firstInked = x;
            ASSERT_EQ(turned.pixels->PixelAt(x, y), colour) << "a fringe at " << x << "," << y;
        }
        EXPECT_NEAR(inked, area, area * 0.02);
        EXPECT_EQ(firstInked > boxWidth / 2, degrees > 0) << "anticlockwise the right end rises";
    }
}

}  // namespace
}  // namespace sigillon
