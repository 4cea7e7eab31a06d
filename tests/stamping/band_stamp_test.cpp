// The band stamper against whole passes of ApplyStamp: the same bytes for
// every mode, number of passes, size and cut of the picture into bands.
#include "stamping/band_stamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace sigillon {
namespace {

// Random bytes, with runs of 0 and 255 where the watermark clamps.
std::unique_ptr<TBitmap> Random(int width, int height, unsigned seed, bool whiteOften) {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(Depth24);
    picture->SetWidth(width);
    picture->SetHeight(height);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->RowAddress(y);
        for (int x = 0; x < width; ++x) {
            unsigned kind = random() % 8;
            for (int k = 0; k < 3; ++k) {
                std::uint8_t v = std::uint8_t(random());
                if (kind == 0) v = 255;
                if (kind == 1 && !whiteOften) v = std::uint8_t(random() % 3);
                if (kind == 2 && !whiteOften) v = std::uint8_t(253 + random() % 3);
                row[3 * x + k] = v;
            }
        }
    }
    return picture;
}

std::vector<std::uint8_t> Rows(const TBitmap& picture) {
    std::vector<std::uint8_t> rows;
    for (int y = 0; y < picture.Height(); ++y)
        rows.insert(rows.end(), picture.RowAddress(y), picture.RowAddress(y) + picture.Stride());
    return rows;
}

TEST(BandStamp, EveryModeAndNumberOfPassesGivesTheBytesOfWholePasses) {
    struct Size {
        int pw, ph, sw, sh;
    };
    const Size sizes[] = {{97, 61, 23, 13}, {37, 33, 4, 4}, {40, 40, 40, 40}, {33, 90, 32, 7}};
    int changed = 0;
    for (const Size& size : sizes) {
        for (int mode = 0; mode <= 9; ++mode) {
            for (int passes : {1, 2, 5}) {
                SCOPED_TRACE(std::to_string(size.pw) + " x " + std::to_string(size.ph) + ", mode " +
                             std::to_string(mode) + ", passes " + std::to_string(passes));
                auto original = Random(size.pw, size.ph, unsigned(mode * 7 + passes), false);
                auto stamp = Random(size.sw, size.sh, unsigned(size.sw + passes), true);
                auto whole = Random(size.pw, size.ph, unsigned(mode * 7 + passes), false);
                for (int pass = 0; pass < passes; ++pass) ApplyStamp(*stamp, *whole, StampMode(mode));
                const std::vector<std::uint8_t> expected = Rows(*whole);
                changed += expected != Rows(*original);

                const std::ptrdiff_t stride = original->Stride();
                for (int band : {1, 5, size.ph}) {
                    std::vector<std::uint8_t> rows = Rows(*original);
                    BandStamp stamper(*stamp, size.pw, size.ph, StampMode(mode), passes);
                    // Bands in a shuffled order: each is stamped by its rows alone.
                    std::vector<int> starts;
                    for (int y = 0; y < size.ph; y += band) starts.push_back(y);
                    std::shuffle(starts.begin(), starts.end(), std::mt19937(unsigned(band)));
                    for (int y : starts)
                        stamper.Apply(y, rows.data() + y * stride, stride, std::min(band, size.ph - y));
                    EXPECT_TRUE(rows == expected) << "bands of " << band;
                }
            }
        }
    }
    EXPECT_GE(changed, 4 * 9 * 3) << "every mode below 9 changes the picture";
}

TEST(BandStamp, RowsOfEachModeAreKnownFromTheSizes) {
    auto stamp = Random(20, 10, 1, true);
    struct Case {
        int mode, first, end;
    } cases[] = {{0, 0, 10}, {1, 0, 10}, {2, 90, 100}, {3, 90, 100}, {4, 0, 10},
                 {6, 90, 100}, {8, 0, 100}, {9, 0, 0}};
    for (const Case& c : cases) {
        BandStamp stamper(*stamp, 50, 100, StampMode(c.mode), 1);
        EXPECT_EQ(stamper.FirstRow(), c.first) << c.mode;
        EXPECT_EQ(stamper.EndRow(), c.end) << c.mode;
    }
}

TEST(BandStamp, AStampTheChecksRefuseIsRefused) {
    auto stamp = Random(20, 10, 1, true);
    EXPECT_THROW(BandStamp(*stamp, 19, 100, 0, 1), BitmapError);
    EXPECT_THROW(BandStamp(*stamp, 40, 31, 8, 1), BitmapError);
    TBitmap gray;
    gray.ShareImage(*stamp);
    gray.SetDepth(Depth8);
    EXPECT_THROW(BandStamp(gray, 50, 50, 8, 1), BitmapError) << "a stamp not converted";
}

}  // namespace
}  // namespace sigillon
