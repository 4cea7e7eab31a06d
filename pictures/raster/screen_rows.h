// Reading the rows of a picture as 32-bit colours 0xFFRRGGBB, the form a
// 32-bit screen image holds, whatever the picture's format and storage
// order. The painters convert only what they show, a band at a time.
#pragma once

#include <array>
#include <cstdint>

#include "pictures/raster/bitmap.h"

namespace sigillon {

// The screen form of a colour: 0xFFRRGGBB.
inline constexpr std::uint32_t ScreenColor(TColor c) {
    return 0xFF000000u | (std::uint32_t(RedOf(c)) << 16) | (std::uint32_t(GreenOf(c)) << 8) |
           BlueOf(c);
}

// Reads the rows of one picture as screen colours, whatever its format and
// storage order. The picture must not change while a reader is in use.
class RowReader {
public:
    explicit RowReader(const TBitmap& picture);

    // Columns x0 .. x0 + count - 1 of row y, all inside the picture.
    void ReadSpan(std::int32_t y, std::int32_t x0, std::int32_t count, std::uint32_t* out) const;
    // The listed columns of row y, all inside the picture.
    void ReadColumns(std::int32_t y, const std::int32_t* columns, std::int32_t count,
                     std::uint32_t* out) const;

private:
    // The layouts read without a per-pixel decision; Other goes through
    // the picture's own pixel reading.
    enum class Layout { Bgr24, Bgrx32, Index8, Index4, Index1, Other };
    std::uint32_t ReadOne(const std::uint8_t* row, std::int32_t x) const;

    const TBitmap& picture_;
    Layout layout_;
    std::array<std::uint32_t, 256> palette_{};
};

}  // namespace sigillon
