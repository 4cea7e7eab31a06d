#include "stamping/compositing.h"

#include <algorithm>
#include <cstring>

#include "stamping/stamp_rows.h"

namespace sigillon {
namespace {

using namespace stamp_rows;

// A nested command must never change a raster's size while a pass runs; if
// one did anyway, stop before writing outside the new rows.
void CheckUnchanged(const TBitmap& bitmap, std::int32_t width, std::int32_t height) {
    if (bitmap.Width() != width || bitmap.Height() != height || bitmap.GetDepth() != Depth24)
        throw BitmapError("a picture changed while it was being stamped");
}

}  // namespace

std::optional<std::string> StampRefusal(const TBitmap& stamp, const PictureShape& picture) {
    if (stamp.Width() < 4 || stamp.Height() < 4 || stamp.IsEmpty()) return "Select a stamp!";
    if (picture.width < 32 || picture.height < 32) return "Select a picture to stamp!";
    if (stamp.Width() > picture.width || stamp.Height() > picture.height)
        return "Stamp too large for this picture!";
    if (picture.depth != Depth24) return "The program handles only true color pictures (24bpp)!";
    return std::nullopt;
}

std::optional<std::string> StampRefusal(const TBitmap& stamp, const TBitmap& picture) {
    // A picture without storage has nothing to stamp, whatever its size.
    const bool empty = picture.IsEmpty();
    return StampRefusal(stamp, PictureShape{empty ? 0 : picture.Width(),
                                            empty ? 0 : picture.Height(), picture.GetDepth()});
}

std::optional<std::string> ApplyStamp(TBitmap& stamp, TBitmap& picture, StampMode mode,
                                      const RowStep& afterRow) {
    if (auto refusal = StampRefusal(stamp, picture)) return refusal;
    stamp.SetDepth(Depth24);
    CompositeStamp(stamp, picture, mode, afterRow);
    return std::nullopt;
}

void CompositeStamp(TBitmap& stamp, TBitmap& picture, StampMode mode, const RowStep& afterRow) {
    if (mode > kTiledWatermark) return;

    std::int32_t right = std::max(0, picture.Width() - stamp.Width());
    std::int32_t bottom = std::max(0, picture.Height() - stamp.Height());
    std::int32_t corner = mode % 4;  // top-left, top-right, bottom-left, bottom-right
    std::int32_t x = (corner == 1 || corner == 3) ? right : 0;
    std::int32_t y = (corner == 2 || corner == 3) ? bottom : 0;

    if (mode < 4)
        StampSolid(stamp, picture, x, y, afterRow);
    else if (mode < kTiledWatermark)
        StampWatermark(stamp, picture, x, y, true, afterRow);
    else
        StampWatermark(stamp, picture, 0, 0, false, afterRow);
}

void StampSolid(TBitmap& stamp, TBitmap& picture, std::int32_t x, std::int32_t y,
                const RowStep& afterRow) {
    const std::int32_t sw = stamp.Width(), sh = stamp.Height();
    const std::int32_t pw = picture.Width(), ph = picture.Height();
    for (std::int32_t r = 0; r < sh; ++r) {
        CheckUnchanged(stamp, sw, sh);
        CheckUnchanged(picture, pw, ph);
        SolidRow(stamp.RowAddress(r), sw, picture.RowAddress(y + r) + 3 * std::int64_t(x));
        if (afterRow) afterRow();
    }
}

void StampWatermark(TBitmap& stamp, TBitmap& picture, std::int32_t x, std::int32_t y,
                    bool corner, const RowStep& afterRow) {
    const std::int32_t sw = stamp.Width(), sh = stamp.Height();
    const std::int32_t pw = picture.Width(), ph = picture.Height();
    DeltaRows deltas(stamp, !corner);
    const std::uint8_t* add = nullptr;
    const std::uint8_t* sub = nullptr;

    if (corner) {
        for (std::int32_t r = 0; r < sh; ++r) {
            CheckUnchanged(stamp, sw, sh);
            CheckUnchanged(picture, pw, ph);
            deltas.Row(r, add, sub);
            std::uint8_t* p = picture.RowAddress(y + r) + 3 * std::int64_t(x);
            ApplyDeltas(p, add, sub, std::size_t(sw) * 3);
            if (afterRow) afterRow();
        }
        return;
    }

    // Tiled from the top-left pixel; tiles are cut off at the right and
    // bottom edges. The stamp row is a counter that wraps at the height.
    std::int32_t stampRow = 0;
    for (std::int32_t pr = 0; pr < ph; ++pr) {
        CheckUnchanged(stamp, sw, sh);
        CheckUnchanged(picture, pw, ph);
        deltas.Row(stampRow, add, sub);
        TiledRow(picture.RowAddress(pr), pw, add, sub, sw);
        if (++stampRow == sh) stampRow = 0;
        if (afterRow) afterRow();
    }
}

void WatermarkPixel(const std::uint8_t* stampRow, std::uint8_t* pictureRow,
                    std::int32_t stampColumn, std::int32_t pictureColumn) {
    const std::uint8_t* s = stampRow + 3 * std::int64_t(stampColumn);
    if (IsWhite(s)) return;
    std::uint8_t* p = pictureRow + 3 * std::int64_t(pictureColumn);
    for (int k = 0; k < 3; ++k) p[k] = std::uint8_t(std::clamp(p[k] + s[k] / 32 - 2, 0, 255));
}

}  // namespace sigillon
