// Test pictures: a new Depth24 picture whose every pixel is set by a rule.
#pragma once

#include <cstdint>
#include <memory>

#include "pictures/bitmap.h"

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

}  // namespace sigillon::testing
