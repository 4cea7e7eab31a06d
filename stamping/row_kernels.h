// The byte loops of the watermark, shared by every way of stamping rows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sigillon {

// A stamp pixel whose three bytes are all 255: transparent without alpha.
inline bool IsWhite(const std::uint8_t* pixel) {
    return pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255;
}

// The watermark's change of every byte of a stamp row (pixels pixels of 3
// bytes), split into a part to add and a part to subtract: white pixels
// change nothing.
void ComputeDeltas(const std::uint8_t* stampRow, std::int32_t pixels, std::uint8_t* add,
                   std::uint8_t* sub);

// picture[i] = clamp(picture[i] + add[i] - sub[i], 0, 255) for bytes bytes,
// where one of add[i] and sub[i] is 0.
void ApplyDeltas(std::uint8_t* picture, const std::uint8_t* add, const std::uint8_t* sub,
                 std::size_t bytes);

}  // namespace sigillon
