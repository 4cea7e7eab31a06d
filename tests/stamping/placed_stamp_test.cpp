#include "stamping/placed_stamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "stamping/stamp_transform.h"

namespace sigillon {
namespace {

std::shared_ptr<TBitmap> RandomRaster(int width, int height, std::mt19937& random,
                                      int whiteShare = 0) {
    auto picture = std::make_shared<TBitmap>();
    picture->SetDepth(Depth24);
    picture->SetWidth(width);
    picture->SetHeight(height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->RowAddress(y);
        for (int x = 0; x < width; ++x) {
            bool white = whiteShare && int(random() % 100) < whiteShare;
            for (int k = 0; k < 3; ++k) row[3 * x + k] = white ? 255 : std::uint8_t(random());
        }
    }
    return picture;
}

std::vector<std::uint8_t> Rows(const TBitmap& picture) {
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.RowAddress(y);
        bytes.insert(bytes.end(), row, row + 3 * picture.Width());
    }
    return bytes;
}

std::shared_ptr<TBitmap> Copy(const TBitmap& picture) {
    auto copy = std::make_shared<TBitmap>();
    copy->SetDepth(Depth24);
    copy->SetWidth(picture.Width());
    copy->SetHeight(picture.Height());
    for (int y = 0; y < picture.Height(); ++y)
        std::memcpy(copy->RowAddress(y), picture.RowAddress(y), std::size_t(picture.Width()) * 3);
    return copy;
}

void StampAllRows(const PlacedStamp& placed, TBitmap& picture) {
    for (int y = 0; y < picture.Height(); ++y) placed.StampRow(y, picture.RowAddress(y));
}

// The stated rules, pixel by pixel, with the placement worked out here;
// --opacity makes every alpha (a * percent + 50) / 100, white's 0 without alpha.
void ReferenceStamp(const TBitmap& stamp, const std::vector<std::uint8_t>& alpha, TBitmap& picture,
                    StampMode mode, int margin, int percent = 100) {
    const int sw = stamp.Width(), sh = stamp.Height();
    const int pw = picture.Width(), ph = picture.Height();
    const int corner = mode % 4;
    const int x0 = (corner == 1 || corner == 3) ? pw - sw - margin : margin;
    const int y0 = (corner == 2 || corner == 3) ? ph - sh - margin : margin;
    for (int y = 0; y < ph; ++y)
        for (int x = 0; x < pw; ++x) {
            int sx, sy;
            if (mode == 8) {
                sx = x % (sw + margin);
                sy = y % (sh + margin);
            } else {
                sx = x - x0;
                sy = y - y0;
            }
            if (sx < 0 || sy < 0 || sx >= sw || sy >= sh) continue;
            const std::uint8_t* s = stamp.RowAddress(sy) + 3 * sx;
            std::uint8_t* p = picture.RowAddress(y) + 3 * x;
            bool white = s[0] == 255 && s[1] == 255 && s[2] == 255;
            int a = alpha.empty() ? (white ? 0 : 255) : alpha[std::size_t(sy * sw + sx)];
            a = (a * percent + 50) / 100;
            if (a == 0) continue;
            for (int k = 0; k < 3; ++k) {
                if (mode < 4) {
                    p[k] = std::uint8_t((a * s[k] + (255 - a) * p[k] + 127) / 255);
                } else {
                    int d = s[k] / 32 - 2;
                    int c = (std::abs(d) * a + 127) / 255;
                    int v = p[k] + (d < 0 ? -c : c);
                    p[k] = std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
                }
            }
        }
}

TEST(PlacedStamp, AlphaOpacityAndMarginFollowThePerPixelRule) {
    std::mt19937 random(22);
    const std::uint8_t chosen[] = {0, 1, 127, 128, 254, 255};
    const int percents[] = {100, 99, 50, 37, 2, 1};
    for (int round = 0; round < 6; ++round) {
        const int sw = 4 + int(random() % 40), sh = 4 + int(random() % 20);
        const int margin = int(random() % 9);
        const int pw = std::max(32, sw + margin + int(random() % 120));
        const int ph = std::max(32, sh + margin + int(random() % 60));
        auto stamp = RandomRaster(sw, sh, random, 20);  // white is ordinary with alpha
        auto picture = RandomRaster(pw, ph, random);
        std::vector<std::uint8_t> alpha(std::size_t(sw * sh));
        // Half the rounds random alpha, half only the values at the edges of
        // the rounding.
        for (std::uint8_t& a : alpha)
            a = round % 2 ? std::uint8_t(random()) : chosen[random() % std::size(chosen)];
        for (int variant = 0; variant < 12; ++variant) {  // with alpha and without, each opacity
            const bool withAlpha = variant < 6;
            const int percent = percents[variant % 6];
            for (StampMode mode = 0; mode <= 8; ++mode) {
                SCOPED_TRACE(testing::Message()
                             << "round " << round << " mode " << int(mode) << " margin " << margin
                             << " alpha " << withAlpha << " opacity " << percent);
                const std::vector<std::uint8_t> used = withAlpha ? alpha : std::vector<std::uint8_t>{};
                ASSERT_EQ(PlacementRefusal(sw, sh, pw, ph, true, mode, margin), std::nullopt);
                auto expected = Copy(*picture);
                ReferenceStamp(*stamp, used, *expected, mode, margin, percent);
                auto result = Copy(*picture);
                StampAllRows(PlacedStamp(WithOpacity({stamp, used}, percent), pw, ph, mode, margin),
                             *result);
                EXPECT_EQ(Rows(*result), Rows(*expected));
            }
        }
    }
}

TEST(PlacedStamp, AlphaAtTheEdgesOfTheRounding) {
    // One stamp pixel over a grey picture, every alpha that decides a
    // rounding: a solid black and white, a watermark of the largest change.
    struct Case {
        StampMode mode;
        std::uint8_t stamp, alpha, picture, expected;
    };
    const Case cases[] = {
        {0, 0, 0, 100, 100},     {0, 0, 1, 100, 100},   // (25500 + 127) / 255 = 100
        {0, 0, 127, 100, 50},    {0, 0, 128, 100, 50},  // 12800 + 127 = 12927 / 255 = 50
        {0, 0, 254, 100, 0},     {0, 0, 255, 100, 0},
        {0, 255, 255, 100, 255},  // white is an ordinary colour with alpha
        {4, 255, 0, 100, 100},   {4, 255, 1, 100, 100},  // 5 x 1 + 127 < 255
        {4, 255, 127, 100, 102}, {4, 255, 128, 100, 103},  // 635 + 127 = 762 -> 2; 767 -> 3
        {4, 255, 255, 100, 105}, {4, 0, 128, 100, 99},     // -2: (256 + 127) / 255 = 1
        {4, 0, 127, 100, 99},    {4, 0, 63, 100, 100},     // (126 + 127) / 255 = 0
        {8, 255, 255, 253, 255}, {8, 0, 255, 1, 0},        // clamped at both ends
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " stamp " << int(c.stamp)
                                        << " alpha " << int(c.alpha));
        auto stamp = std::make_shared<TBitmap>();
        stamp->SetDepth(Depth24);
        stamp->SetWidth(4);
        stamp->SetHeight(4);
        std::memset(stamp->RowAddress(0), c.stamp, 3);
        std::vector<std::uint8_t> alpha(16, 0);
        alpha[0] = c.alpha;
        auto picture = std::make_shared<TBitmap>();
        picture->SetDepth(Depth24);
        picture->SetWidth(32);
        picture->SetHeight(32);
        for (int y = 0; y < 32; ++y) std::memset(picture->RowAddress(y), c.picture, 96);
        StampAllRows(PlacedStamp({stamp, alpha}, 32, 32, c.mode, 0), *picture);
        EXPECT_EQ(picture->RowAddress(0)[0], c.expected);
        EXPECT_EQ(picture->RowAddress(0)[3], c.picture) << "alpha 0 leaves the picture";
    }
}

TEST(PlacedStamp, MarginMovesCornersInAndSpacesTiles) {
    struct Case {
        StampMode mode;
        int margin;
        int x, y;  // where the stamp's top-left pixel lands on a 40 x 36 picture
    };
    const Case cases[] = {
        {0, 5, 5, 5}, {1, 5, 40 - 4 - 5, 5}, {2, 3, 3, 36 - 4 - 3}, {3, 2, 34, 30},
        {4, 7, 7, 7}, {7, 0, 36, 32},
    };
    for (const Case& c : cases) {
        auto stamp = std::make_shared<TBitmap>();
        stamp->SetDepth(Depth24);
        stamp->SetWidth(4);
        stamp->SetHeight(4);
        std::memset(stamp->RowAddress(0), 0, 3);  // top-left pixel black, the rest white
        auto picture = std::make_shared<TBitmap>();
        picture->SetDepth(Depth24);
        picture->SetWidth(40);
        picture->SetHeight(36);
        PlacedStamp placed({stamp, {}}, 40, 36, c.mode, c.margin);
        EXPECT_EQ(placed.FirstRow(), c.y) << int(c.mode);
        EXPECT_EQ(placed.EndRow(), c.y + 4) << int(c.mode);
        StampAllRows(placed, *picture);
        for (int y = 0; y < 36; ++y)
            for (int x = 0; x < 40; ++x)
                ASSERT_EQ(picture->PixelAt(x, y) != clWhite, x == c.x && y == c.y)
                    << "mode " << int(c.mode) << " at " << x << "," << y;
    }
    // Tiles 4 + 6 pixels apart from the top-left: columns and rows 0, 10, 20, 30.
    auto stamp = std::make_shared<TBitmap>();
    stamp->SetDepth(Depth24);
    stamp->SetWidth(4);
    stamp->SetHeight(4);
    std::memset(stamp->RowAddress(0), 0, 3);
    auto picture = std::make_shared<TBitmap>();
    picture->SetDepth(Depth24);
    picture->SetWidth(40);
    picture->SetHeight(36);
    StampAllRows(PlacedStamp({stamp, {}}, 40, 36, 8, 6), *picture);
    for (int y = 0; y < 36; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(picture->PixelAt(x, y) != clWhite, x % 10 == 0 && y % 10 == 0)
                << x << "," << y;
}

// Where a stamp whose every pixel shows lands on a white picture: the
// rectangle of changed pixels, or tiles marked by their top-left pixel.
std::vector<bool> Marked(const Placement& placement, int sw, int sh, int pw, int ph, bool dot) {
    auto picture = TBitmap::FromRows(pw, ph, Depth24, [&](std::int32_t, std::uint8_t* row) {
        std::memset(row, 255, std::size_t(3 * pw));
    });
    auto stamp = TBitmap::FromRows(sw, sh, Depth24, [&](std::int32_t y, std::uint8_t* row) {
        std::memset(row, 255, std::size_t(3 * sw));
        if (!dot || y == 0) std::memset(row, 0, std::size_t(dot ? 3 : 3 * sw));
    });
    StampAllRows(PlacedStamp({std::move(stamp), {}}, pw, ph, placement), *picture);
    std::vector<bool> marked;
    for (int i = 0; i < pw * ph; ++i) marked.push_back(picture->PixelAt(i % pw, i / pw) != clWhite);
    return marked;
}

TEST(PlacedStamp, AnchorsAndOffsetsOnOddSizes) {
    // A 6 x 5 stamp on 41 x 37: the free room is 35 x 32, its odd pixel
    // right and below when centred.
    struct Case {
        Anchor anchor;
        int offsetX, offsetY;
        int x, y;  // where the stamp lands; x < 0: refused
    };
    const Case cases[] = {
        {Anchor::TopLeft, 3, 2, 3, 2},       {Anchor::Top, 0, 0, 17, 0},
        {Anchor::TopRight, 1, 1, 34, 1},     {Anchor::Left, 0, 0, 0, 16},
        {Anchor::Center, 0, 0, 17, 16},      {Anchor::Center, -3, 4, 14, 20},
        {Anchor::Right, 2, 0, 33, 16},       {Anchor::BottomLeft, 0, 0, 0, 32},
        {Anchor::Bottom, 5, 1, 22, 31},      {Anchor::BottomRight, 0, 0, 35, 32},
        {Anchor::Left, 35, 0, 35, 16},       {Anchor::Center, 18, -16, 35, 0},
        {Anchor::Left, 36, 0, -1, 0},        {Anchor::Center, 19, 0, -1, 0},
        {Anchor::BottomRight, -1, 0, -1, 0}, {Anchor::Top, 0, -1, -1, 0},
        {Anchor::Bottom, 0, 33, -1, 0},      {Anchor::TopLeft, 0, 33, -1, 0},
    };
    for (const Case& c : cases)
        for (StampMode mode : {StampMode(0), StampMode(7)}) {
            SCOPED_TRACE(testing::Message() << "anchor " << int(c.anchor) << " offset " << c.offsetX
                                            << "," << c.offsetY << " mode " << int(mode));
            const Placement placement{mode, c.anchor, c.offsetX, c.offsetY, 0, 0};
            ASSERT_EQ(PlacementRefusal(6, 5, 41, 37, true, placement),
                      c.x < 0 ? std::optional<std::string>("Stamp too large for this picture!")
                              : std::nullopt);
            if (c.x < 0) continue;
            const std::vector<bool> marked = Marked(placement, 6, 5, 41, 37, false);
            for (int i = 0; i < 41 * 37; ++i)
                ASSERT_EQ(marked[std::size_t(i)], i % 41 - c.x >= 0 && i % 41 - c.x < 6 &&
                                                      i / 41 - c.y >= 0 && i / 41 - c.y < 5)
                    << i % 41 << "," << i / 41;
        }
}

TEST(PlacedStamp, TilesGapsApartAcrossAndDownWhateverTheAnchor) {
    for (auto [gapX, gapY] : {std::pair{0, 0}, {3, 5}, {9, 0}, {0, 31}, {40, 2}}) {
        const Placement placement{kTiledWatermark, Anchor::Center, 7, 7, gapX, gapY};
        const std::vector<bool> marked = Marked(placement, 4, 4, 43, 37, true);
        for (int i = 0; i < 43 * 37; ++i)
            ASSERT_EQ(marked[std::size_t(i)], i % 43 % (4 + gapX) == 0 && i / 43 % (4 + gapY) == 0)
                << "gaps " << gapX << "," << gapY << " at " << i % 43 << "," << i / 43;
    }
}

TEST(PlacementRefusal, CountsTheMarginForCornersOnly) {
    struct Case {
        int sw, sh, pw, ph;
        bool trueColour;
        StampMode mode;
        int margin;
        const char* says;  // nullptr: fits
    };
    const Case cases[] = {
        {3, 10, 40, 40, true, 0, 0, "Select a stamp!"},
        {10, 10, 31, 40, true, 0, 0, "Select a picture to stamp!"},
        {30, 10, 40, 40, true, 0, 10, nullptr},
        {30, 10, 40, 40, true, 1, 11, "Stamp too large for this picture!"},
        {10, 30, 40, 40, true, 6, 11, "Stamp too large for this picture!"},
        {40, 40, 40, 40, true, 8, 25, nullptr},  // tiles need only fit themselves
        {41, 10, 40, 40, true, 8, 0, "Stamp too large for this picture!"},
        {10, 10, 40, 40, false, 0, 0, "The program handles only true color pictures (24bpp)!"},
    };
    for (const Case& c : cases) {
        auto refusal = PlacementRefusal(c.sw, c.sh, c.pw, c.ph, c.trueColour, c.mode, c.margin);
        if (c.says)
            EXPECT_EQ(refusal, c.says) << c.sw << "x" << c.sh << " margin " << c.margin;
        else
            EXPECT_EQ(refusal, std::nullopt) << c.sw << "x" << c.sh << " margin " << c.margin;
    }
}

}  // namespace
}  // namespace sigillon
