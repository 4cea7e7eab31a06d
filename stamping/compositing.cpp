#include "stamping/compositing.h"

#include <memory>

namespace sigillon {
namespace {

// A nested command must never change a raster's size while a pass runs; if
// one did anyway, stop before writing outside the new rows.
void CheckUnchanged(const TBitmap& bitmap, std::int32_t width, std::int32_t height) {
    if (bitmap.Width() != width || bitmap.Height() != height || bitmap.GetDepth() != Depth24)
        throw BitmapError("a picture changed while it was being stamped");
}

}  // namespace

std::optional<std::string> StampRefusal(const TBitmap& stamp, const TBitmap& picture) {
    const bool stampHeld = !stamp.IsEmpty(), pictureHeld = !picture.IsEmpty();
    return PlacementRefusal(stampHeld ? stamp.Width() : 0, stampHeld ? stamp.Height() : 0,
                            pictureHeld ? picture.Width() : 0, pictureHeld ? picture.Height() : 0,
                            picture.GetDepth() == Depth24, 0, 0);
}

std::optional<std::string> ApplyStamp(TBitmap& stamp, TBitmap& picture, StampMode mode,
                                      const RowStep& afterRow) {
    if (auto refusal = StampRefusal(stamp, picture)) return refusal;
    stamp.SetDepth(Depth24);

    // The placed stamp shares the stamp's rows rather than copying them; the
    // caller's stamp stays converted.
    auto shared = std::make_shared<TBitmap>();
    shared->ShareImage(stamp);
    const std::int32_t sw = stamp.Width(), sh = stamp.Height();
    const std::int32_t pw = picture.Width(), ph = picture.Height();
    const PlacedStamp placed({std::move(shared), {}}, pw, ph, mode, 0);
    for (std::int32_t y = placed.FirstRow(); y < placed.EndRow(); ++y) {
        CheckUnchanged(stamp, sw, sh);
        CheckUnchanged(picture, pw, ph);
        placed.StampRow(y, picture.RowAddress(y));
        if (afterRow) afterRow();
    }
    return std::nullopt;
}

}  // namespace sigillon
