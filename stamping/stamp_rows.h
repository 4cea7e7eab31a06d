// The row kernels of the stamp passes, shared by the whole-picture passes
// (compositing.cpp) and the band stamper (band_stamp.cpp), so that both
// give the same bytes. Internal to stamping/.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pictures/bitmap.h"

namespace sigillon::stamp_rows {

// White stamp pixels (all three bytes 255) are transparent in every mode.
inline bool IsWhite(const std::uint8_t* pixel) {
    return pixel[0] == 255 && pixel[1] == 255 && pixel[2] == 255;
}

// Copies the stamp row's pixels that are not white over the picture's,
// pixels wide, starting at the picture's byte at.
void SolidRow(const std::uint8_t* stampRow, std::int32_t pixels, std::uint8_t* at);

// The watermark moves a picture byte by (s / 32) - 2, between -2 and +5.
// Split into a part to add and a part to subtract, both applied with
// saturation, it becomes two saturating byte operations per byte: the
// result is exactly the clamped signed sum.
void ComputeDeltas(const std::uint8_t* stampRow, std::int32_t pixels, std::uint8_t* add,
                   std::uint8_t* sub);
void ApplyDeltas(std::uint8_t* picture, const std::uint8_t* add, const std::uint8_t* sub,
                 std::size_t bytes);

// One tiled row: the change rows of one stamp row (sw pixels wide) applied
// from the picture row's left edge, tile after tile, cut at pw pixels.
void TiledRow(std::uint8_t* pictureRow, std::int32_t pw, const std::uint8_t* add,
              const std::uint8_t* sub, std::int32_t sw);

// Per-byte changes of the stamp rows. The tiled form reuses every stamp row
// many times, so it works them all out once before the pass; a stamp as
// large as a big photo would double the memory, so above a size, and for
// the corner form, which uses each row once, they are worked out row by
// row. The stamp is only read.
class DeltaRows {
public:
    DeltaRows(const TBitmap& stamp, bool reused);

    // The change rows for stamp row r: valid until the next call.
    void Row(std::int32_t r, const std::uint8_t*& add, const std::uint8_t*& sub);

private:
    const TBitmap& stamp_;
    std::size_t bytes_;
    bool whole_ = false;
    std::vector<std::uint8_t> add_, sub_;
};

}  // namespace sigillon::stamp_rows
