#include "stamping/compositing.h"

#include "stamping/row_kernels.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sigillon {
namespace {

// A nested command must never change a raster's size while a pass runs; if
// one did anyway, stop before writing outside the new rows.
void CheckUnchanged(const TBitmap& bitmap, std::int32_t width, std::int32_t height) {
    if (bitmap.Width() != width || bitmap.Height() != height || bitmap.GetDepth() != Depth24)
        throw BitmapError("a picture changed while it was being stamped");
}

// Per-byte changes of the stamp rows. The tiled form reuses every stamp row
// many times, so it works them all out once before the pass; a stamp as
// large as a big photo would double the memory, so above this size, and for
// the corner form, which uses each row once, they are worked out row by row.
constexpr std::size_t kDeltaTableLimit = std::size_t(16) << 20;

class DeltaRows {
public:
    DeltaRows(TBitmap& stamp, bool reused)
        : stamp_(stamp), bytes_(std::size_t(stamp.Width()) * 3) {
        std::size_t rows = std::size_t(stamp.Height());
        whole_ = reused && 2 * bytes_ * rows <= kDeltaTableLimit;
        std::size_t held = whole_ ? rows : 1;
        add_.resize(bytes_ * held);
        sub_.resize(bytes_ * held);
        if (whole_) {
            for (std::int32_t r = 0; r < stamp.Height(); ++r)
                ComputeDeltas(stamp.RowAddress(r), stamp.Width(), &add_[bytes_ * r],
                              &sub_[bytes_ * r]);
        }
    }

    // The change rows for stamp row r: valid until the next call.
    void Row(std::int32_t r, const std::uint8_t*& add, const std::uint8_t*& sub) {
        if (whole_) {
            add = &add_[bytes_ * r];
            sub = &sub_[bytes_ * r];
            return;
        }
        ComputeDeltas(stamp_.RowAddress(r), stamp_.Width(), add_.data(), sub_.data());
        add = add_.data();
        sub = sub_.data();
    }

private:
    TBitmap& stamp_;
    std::size_t bytes_;
    bool whole_ = false;
    std::vector<std::uint8_t> add_, sub_;
};

}  // namespace

std::optional<std::string> StampRefusal(const TBitmap& stamp, const TBitmap& picture) {
    if (stamp.Width() < 4 || stamp.Height() < 4 || stamp.IsEmpty()) return "Select a stamp!";
    if (picture.Width() < 32 || picture.Height() < 32 || picture.IsEmpty())
        return "Select a picture to stamp!";
    if (stamp.Width() > picture.Width() || stamp.Height() > picture.Height())
        return "Stamp too large for this picture!";
    if (picture.GetDepth() != Depth24)
        return "The program handles only true color pictures (24bpp)!";
    return std::nullopt;
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
        const std::uint8_t* s = stamp.RowAddress(r);
        std::uint8_t* p = picture.RowAddress(y + r) + 3 * std::int64_t(x);
        for (std::int32_t c = 0; c < sw; ++c, s += 3, p += 3)
            if (!IsWhite(s)) std::memcpy(p, s, 3);
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
        std::uint8_t* p = picture.RowAddress(pr);
        for (std::int32_t pc = 0; pc < pw; pc += sw) {
            std::int32_t n = std::min(sw, pw - pc);
            ApplyDeltas(p + 3 * std::int64_t(pc), add, sub, std::size_t(n) * 3);
        }
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
