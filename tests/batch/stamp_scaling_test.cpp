#include "app/batch/stamp_scaling.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sigillon::batch {
namespace {

// A black ring on white, the shape of a letter's strokes.
std::shared_ptr<TBitmap> Ring(int size) {
    return TBitmap::FromRows(size, size, Depth24, [size](std::int32_t y, std::uint8_t* row) {
        for (int x = 0; x < size; ++x) {
            int dx = 2 * x - size, dy = 2 * y - size;
            int r2 = dx * dx + dy * dy;
            bool ink = r2 < size * size * 3 / 4 && r2 > size * size / 3;
            std::memset(row + 3 * x, ink ? 0 : 255, 3);
        }
    });
}

TEST(StampScaling, WidthIsTheShareOfThePictureAndHeightKeepsTheAspect) {
    struct Case {
        int pictureWidth, percent, width;
    };
    for (Case c : {Case{1000, 25, 250}, Case{999, 10, 100}, Case{333, 50, 167}, Case{40, 1, 1},
                   Case{6000, 100, 6000}})
        EXPECT_EQ(ScaledWidth(c.pictureWidth, c.percent), c.width) << c.pictureWidth;

    StampImage stamp{TBitmap::FromRows(200, 80, Depth24,
                                       [](std::int32_t, std::uint8_t* row) {
                                           std::memset(row, 0, 600);
                                       }),
                     {}};
    for (auto [width, height] : {std::pair{100, 40}, {50, 20}, {33, 13}, {7, 3}, {400, 160}}) {
        StampImage scaled = ScaleStamp(stamp, width);
        EXPECT_EQ(scaled.Width(), width);
        EXPECT_EQ(scaled.Height(), height);
        EXPECT_EQ(scaled.pixels->GetDepth(), Depth24);
        EXPECT_EQ(scaled.alpha.size(), std::size_t(width * height));
    }
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
            auto picture = TBitmap::FromRows(pictureSize, pictureSize, Depth24,
                                             [](std::int32_t, std::uint8_t* row) {
                                                 std::memset(row, 90, 3 * pictureSize);
                                             });
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

}  // namespace
}  // namespace sigillon::batch
