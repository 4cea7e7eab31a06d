#include "stamping/placed_stamp.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "stamping/row_kernels.h"

namespace sigillon {
namespace {

// Above this the per-row changes are worked out for each row as it is
// stamped instead of once: a stamp scaled to a large photo would otherwise
// hold several times the photo's rows.
constexpr std::size_t kDeltaTableLimit = std::size_t(16) << 20;

bool IsCorner(StampMode mode) { return mode < kTiledWatermark; }
bool IsSolid(StampMode mode) { return mode < 4; }

// The watermark's change of one byte, scaled by alpha, rounding halves away
// from zero.
int ScaledChange(std::uint8_t s, std::uint8_t a) {
    int d = (s >> 5) - 2;
    int magnitude = ((d < 0 ? -d : d) * a + 127) / 255;
    return d < 0 ? -magnitude : magnitude;
}

void ComputeAlphaDeltas(const std::uint8_t* stampRow, const std::uint8_t* alphaRow,
                        std::int32_t pixels, std::uint8_t* add, std::uint8_t* sub) {
    for (std::int32_t c = 0; c < pixels; ++c)
        for (int k = 0; k < 3; ++k) {
            int change = ScaledChange(stampRow[3 * c + k], alphaRow[c]);
            add[3 * c + k] = std::uint8_t(change > 0 ? change : 0);
            sub[3 * c + k] = std::uint8_t(change < 0 ? -change : 0);
        }
}

}  // namespace

Placement MarginPlacement(StampMode mode, std::int32_t margin) {
    static constexpr Anchor kCorners[] = {Anchor::TopLeft, Anchor::TopRight, Anchor::BottomLeft,
                                          Anchor::BottomRight};
    margin = std::max(0, margin);
    return {mode, kCorners[mode % 4], margin, margin, margin, margin};
}

StampCorner PlacedCorner(std::int32_t stampWidth, std::int32_t stampHeight,
                         std::int32_t pictureWidth, std::int32_t pictureHeight,
                         const Placement& placement) {
    // Anchors run left to right, then top to bottom: the column and row of
    // a 3 x 3 grid. The free room is split with the odd pixel right and
    // below.
    auto along = [](int third, std::int64_t stamp, std::int64_t picture, std::int64_t offset) {
        if (third == 0) return offset;
        if (third == 1) return (picture - stamp) / 2 + offset;
        return picture - stamp - offset;
    };
    const int anchor = int(placement.anchor);
    return {along(anchor % 3, stampWidth, pictureWidth, placement.offsetX),
            along(anchor / 3, stampHeight, pictureHeight, placement.offsetY)};
}

std::optional<std::string> PlacementRefusal(std::int32_t stampWidth, std::int32_t stampHeight,
                                            std::int32_t pictureWidth, std::int32_t pictureHeight,
                                            bool trueColour, const Placement& placement) {
    if (stampWidth < 4 || stampHeight < 4) return "Select a stamp!";
    if (pictureWidth < 32 || pictureHeight < 32) return "Select a picture to stamp!";
    // Tiles start at the top-left corner whatever their gaps; a single
    // stamp must lie wholly inside.
    bool fits = stampWidth <= pictureWidth && stampHeight <= pictureHeight;
    if (fits && IsCorner(placement.mode)) {
        const StampCorner at =
            PlacedCorner(stampWidth, stampHeight, pictureWidth, pictureHeight, placement);
        fits = at.x >= 0 && at.y >= 0 && at.x + stampWidth <= pictureWidth &&
               at.y + stampHeight <= pictureHeight;
    }
    if (!fits) return "Stamp too large for this picture!";
    if (!trueColour) return "The program handles only true color pictures (24bpp)!";
    return std::nullopt;
}

std::optional<std::string> PlacementRefusal(std::int32_t stampWidth, std::int32_t stampHeight,
                                            std::int32_t pictureWidth, std::int32_t pictureHeight,
                                            bool trueColour, StampMode mode, std::int32_t margin) {
    return PlacementRefusal(stampWidth, stampHeight, pictureWidth, pictureHeight, trueColour,
                            MarginPlacement(mode, margin));
}

PlacedStamp::PlacedStamp(StampImage stamp, std::int32_t pictureWidth, std::int32_t pictureHeight,
                         const Placement& placement)
    : stamp_(std::move(stamp)),
      pictureWidth_(pictureWidth),
      pictureHeight_(pictureHeight),
      mode_(placement.mode),
      gapX_(std::max(0, placement.gapX)),
      gapY_(std::max(0, placement.gapY)) {
    const std::int32_t sw = stamp_.Width(), sh = stamp_.Height();
    if (!stamp_.pixels || stamp_.pixels->GetDepth() != Depth24)
        throw BitmapError("a stamp to place must be a true-colour picture");
    if (!stamp_.alpha.empty() && stamp_.alpha.size() != std::size_t(sw) * std::size_t(sh))
        throw BitmapError("a stamp's alpha must hold one value for each pixel");
    if (mode_ > kTiledWatermark) return;  // stamps nothing: no rows

    if (IsCorner(mode_)) {
        const StampCorner at = PlacedCorner(sw, sh, pictureWidth_, pictureHeight_, placement);
        x_ = std::int32_t(std::clamp<std::int64_t>(at.x, 0, std::max(0, pictureWidth_ - sw)));
        y_ = std::int32_t(std::clamp<std::int64_t>(at.y, 0, std::max(0, pictureHeight_ - sh)));
        firstRow_ = std::min(y_, pictureHeight_);
        endRow_ = std::min(y_ + sh, pictureHeight_);
    } else {
        firstRow_ = 0;
        endRow_ = pictureHeight_;
    }

    const std::size_t rowBytes = std::size_t(sw) * 3;
    if (!IsSolid(mode_) && 2 * rowBytes * std::size_t(sh) <= kDeltaTableLimit) {
        add_.resize(rowBytes * std::size_t(sh));
        sub_.resize(rowBytes * std::size_t(sh));
        for (std::int32_t r = 0; r < sh; ++r) {
            const std::uint8_t* s = stamp_.pixels->RowAddress(r);
            std::uint8_t* add = &add_[rowBytes * std::size_t(r)];
            std::uint8_t* sub = &sub_[rowBytes * std::size_t(r)];
            if (stamp_.alpha.empty())
                ComputeDeltas(s, sw, add, sub);
            else
                ComputeAlphaDeltas(s, &stamp_.alpha[std::size_t(sw) * std::size_t(r)], sw, add,
                                   sub);
        }
    }
}

std::int32_t PlacedStamp::StampRowOf(std::int32_t y) const {
    if (y < firstRow_ || y >= endRow_) return -1;
    if (IsCorner(mode_)) return y - y_;
    std::int32_t period = stamp_.Height() + gapY_;
    std::int32_t r = y % period;
    return r < stamp_.Height() ? r : -1;
}

void PlacedStamp::StampRow(std::int32_t y, std::uint8_t* row) const {
    const std::int32_t r = StampRowOf(y);
    if (r < 0) return;
    const std::int32_t sw = stamp_.Width();
    if (IsCorner(mode_)) {
        BurnSegment(r, 0, std::min(sw, pictureWidth_ - x_), row + 3 * std::int64_t(x_));
        return;
    }
    // Tiled from the top-left pixel, gapX apart; the last tile is cut off
    // at the right edge.
    const std::int32_t period = sw + gapX_;
    for (std::int32_t pc = 0; pc < pictureWidth_; pc += period)
        BurnSegment(r, 0, std::min(sw, pictureWidth_ - pc), row + 3 * std::int64_t(pc));
}

void PlacedStamp::BurnSegment(std::int32_t stampRow, std::int32_t firstColumn,
                              std::int32_t count, std::uint8_t* picture) const {
    const std::int32_t sw = stamp_.Width();
    const std::uint8_t* s = stamp_.pixels->RowAddress(stampRow) + 3 * std::int64_t(firstColumn);
    const std::uint8_t* alpha =
        stamp_.alpha.empty() ? nullptr
                             : &stamp_.alpha[std::size_t(sw) * std::size_t(stampRow) +
                                             std::size_t(firstColumn)];
    if (IsSolid(mode_)) {
        for (std::int32_t c = 0; c < count; ++c, s += 3, picture += 3) {
            if (!alpha) {
                if (!IsWhite(s)) std::memcpy(picture, s, 3);
                continue;
            }
            const int a = alpha[c];
            if (a == 0) continue;
            for (int k = 0; k < 3; ++k)
                picture[k] = std::uint8_t((a * s[k] + (255 - a) * picture[k] + 127) / 255);
        }
        return;
    }
    const std::size_t rowBytes = std::size_t(sw) * 3;
    const std::size_t bytes = std::size_t(count) * 3;
    const std::size_t skip = std::size_t(firstColumn) * 3;
    if (!add_.empty()) {
        const std::size_t at = rowBytes * std::size_t(stampRow) + skip;
        ApplyDeltas(picture, &add_[at], &sub_[at], bytes);
        return;
    }
    // A stamp too large to hold its changes: worked out for this row.
    thread_local std::vector<std::uint8_t> add, sub;
    add.resize(bytes);
    sub.resize(bytes);
    if (alpha)
        ComputeAlphaDeltas(s, alpha, count, add.data(), sub.data());
    else
        ComputeDeltas(s, count, add.data(), sub.data());
    ApplyDeltas(picture, add.data(), sub.data(), bytes);
}

}  // namespace sigillon
