// Test pictures: a new Depth24 picture whose every pixel is set by a rule;
// and what a nearest-colour conversion must give, worked out here by trying
// every palette entry.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <sstream>
#include <vector>

#include "pictures/raster/bitmap.h"

namespace sigillon::testing {

// rule(x, y, pixel) writes the blue, green and red bytes of pixel (x, y).
template <class Rule>
std::unique_ptr<TBitmap> MakeTrueColourPicture(int width, int height, Rule rule) {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(Depth24);
    picture->SetWidth(width);
    picture->SetHeight(height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->RowAddress(y);
        for (int x = 0; x < width; ++x) rule(x, y, row + 3 * x);
    }
    return picture;
}

// Squared distance of two 0x00BBGGRR colours, channel by channel.
inline long ColourDistance(TColor a, TColor b) {
    long sum = 0;
    for (int shift : {0, 8, 16}) {
        long d = long((a >> shift) & 0xFF) - long((b >> shift) & 0xFF);
        sum += d * d;
    }
    return sum;
}

// Whether got is an entry of the palette that no other entry beats as the
// nearest to wanted. Of entries equally near, any will do.
inline ::testing::AssertionResult IsNearestInPalette(const std::vector<TColor>& palette,
                                                     TColor wanted, TColor got) {
    bool listed = false;
    long best = -1;
    for (TColor entry : palette) {
        listed = listed || entry == got;
        long d = ColourDistance(entry, wanted);
        if (best < 0 || d < best) best = d;
    }
    std::ostringstream why;
    why << std::hex << "0x" << got << " for 0x" << wanted;
    if (!listed) return ::testing::AssertionFailure() << why.str() << ": not in the palette";
    if (ColourDistance(got, wanted) != best)
        return ::testing::AssertionFailure() << why.str() << ": a palette entry is nearer";
    return ::testing::AssertionSuccess();
}

}  // namespace sigillon::testing
