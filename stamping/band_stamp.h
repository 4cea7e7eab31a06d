// Stamping a picture that passes a band of rows at a time, as a file is
// read row by row: the bytes are those ApplyStamp gives the whole picture,
// the number of passes included.
//
// Each mode's rows are known from the sizes alone: the corner modes touch
// the stamp's height of rows at the top or the bottom, the tiled watermark
// every row, with stamp row = picture row modulo the stamp's height (the
// tiles start at the top-left pixel). The passes of --times are applied to
// each row one after the other, as whole passes would reach it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pictures/bitmap.h"
#include "stamping/compositing.h"
#include "stamping/stamp_rows.h"

namespace sigillon {

class BandStamp {
public:
    // stamp: Depth24, accepted by StampRefusal for a Depth24 picture of
    // width x height; it is only read, and must outlive this. Throws
    // BitmapError otherwise.
    BandStamp(const TBitmap& stamp, std::int32_t width, std::int32_t height, StampMode mode,
              int passes);

    // Stamps picture rows first .. first + count - 1 (24-bit rows, stride
    // bytes apart, top row first). Bands may come in any order and size.
    void Apply(std::int32_t first, std::uint8_t* rows, std::ptrdiff_t stride, std::int32_t count);

    // The picture rows the stamp changes: [FirstRow, EndRow).
    std::int32_t FirstRow() const { return top_; }
    std::int32_t EndRow() const { return bottom_; }

private:
    const TBitmap& stamp_;
    StampMode mode_;
    int passes_;
    std::int32_t width_;
    std::int32_t x_ = 0;       // the corner's left column
    std::int32_t top_ = 0;     // rows [top_, bottom_) are stamped
    std::int32_t bottom_ = 0;
    stamp_rows::DeltaRows deltas_;
};

}  // namespace sigillon
