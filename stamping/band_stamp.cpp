#include "stamping/band_stamp.h"

#include <algorithm>

namespace sigillon {

using namespace stamp_rows;

namespace {

const TBitmap& Fitting(const TBitmap& stamp, std::int32_t width, std::int32_t height) {
    if (stamp.GetDepth() != Depth24 || StampRefusal(stamp, PictureShape{width, height, Depth24}))
        throw BitmapError("the stamp does not fit a picture of " + std::to_string(width) + " x " +
                          std::to_string(height) + " pixels");
    return stamp;
}

}  // namespace

BandStamp::BandStamp(const TBitmap& stamp, std::int32_t width, std::int32_t height,
                     StampMode mode, int passes)
    : stamp_(Fitting(stamp, width, height)), mode_(mode), passes_(passes), width_(width),
      deltas_(stamp, mode == kTiledWatermark) {
    if (mode > kTiledWatermark || passes <= 0) return;  // nothing is stamped
    if (mode == kTiledWatermark) {
        bottom_ = height;
        return;
    }
    // The corner: as ApplyStamp places it.
    const std::int32_t corner = mode % 4;  // top-left, top-right, bottom-left, bottom-right
    x_ = (corner == 1 || corner == 3) ? width - stamp.Width() : 0;
    top_ = (corner == 2 || corner == 3) ? height - stamp.Height() : 0;
    bottom_ = top_ + stamp.Height();
}

void BandStamp::Apply(std::int32_t first, std::uint8_t* rows, std::ptrdiff_t stride,
                      std::int32_t count) {
    const std::int32_t sw = stamp_.Width(), sh = stamp_.Height();
    const std::int32_t begin = std::max(first, top_);
    const std::int32_t end = std::min(first + count, bottom_);
    const std::uint8_t* add = nullptr;
    const std::uint8_t* sub = nullptr;
    for (std::int32_t y = begin; y < end; ++y) {
        std::uint8_t* row = rows + std::ptrdiff_t(y - first) * stride;
        if (mode_ == kTiledWatermark) {
            deltas_.Row(y % sh, add, sub);
            // Every pass clamps its own result, as whole passes do.
            for (int pass = 0; pass < passes_; ++pass) TiledRow(row, width_, add, sub, sw);
        } else if (mode_ >= 4) {
            deltas_.Row(y - top_, add, sub);
            for (int pass = 0; pass < passes_; ++pass)
                ApplyDeltas(row + 3 * std::int64_t(x_), add, sub, std::size_t(sw) * 3);
        } else {
            // Copying the same pixels again changes nothing, so one pass
            // gives what any number of solid passes give.
            SolidRow(stamp_.RowAddress(y - top_), sw, row + 3 * std::int64_t(x_));
        }
    }
}

}  // namespace sigillon
