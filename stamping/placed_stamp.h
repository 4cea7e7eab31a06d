// Burning a stamp into picture rows: the one compositor. The batch tool
// stamps row by row through it; the desktop program's ApplyStamp
// (compositing.h) runs it over a whole picture.
//
// Stamp modes: 0-3 solid stamp and 4-7 watermark, each in the corners
// top-left, top-right, bottom-left, bottom-right; 8 watermark tiled over the
// whole picture from its top-left corner; 9 and above stamp nothing. A
// corner stamp keeps the margin from both edges of its corner; tiles are
// the margin apart. A Placement says the same more freely: any of nine
// anchors with an offset inward from it, and tiles with their own gaps
// across and down; the mode then only chooses solid, watermark or tiled.
//
// Without alpha, white stamp pixels (all three bytes 255) are transparent
// and all others opaque: solid copies the stamp pixel, the watermark moves
// each picture byte by (stamp byte / 32) - 2, limited to 0..255. With
// alpha, for each channel with stamp value s, picture value p and alpha a
// (0 to 255), a = 0 changing nothing:
//   solid modes 0-3:      p' = (a*s + (255 - a)*p + 127) / 255
//   watermark modes 4-8:  d = (s >> 5) - 2, c = sign(d) * ((|d|*a + 127) / 255),
//                         p' = clamp(p + c, 0, 255)
// With a = 255 both are the rules without alpha, except that white is then
// an ordinary colour. A faded or turned stamp (stamp_transform.h) comes
// here with its alpha already changed, under the same rules.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "pictures/raster/bitmap.h"

namespace sigillon {

using StampMode = std::uint8_t;

inline constexpr StampMode kTiledWatermark = 8;

// A stamp to burn in, shared by every picture it goes on.
struct StampImage {
    std::shared_ptr<const TBitmap> pixels;  // Depth24
    // width * height alpha values, top row first; empty when the stamp has
    // none, and then white pixels are transparent and all others opaque.
    std::vector<std::uint8_t> alpha;

    std::int32_t Width() const { return pixels ? pixels->Width() : 0; }
    std::int32_t Height() const { return pixels ? pixels->Height() : 0; }
};

// Where a single stamp sits on the picture.
enum class Anchor : std::uint8_t {
    TopLeft,
    Top,
    TopRight,
    Left,
    Center,
    Right,
    BottomLeft,
    Bottom,
    BottomRight
};

struct Placement {
    StampMode mode = 0;
    Anchor anchor = Anchor::TopLeft;  // ignored when tiled
    // Pixels from the anchor towards the picture's middle; at a centred
    // side or the centre, right and down.
    std::int32_t offsetX = 0, offsetY = 0;
    std::int32_t gapX = 0, gapY = 0;  // between tiles, across and down
};

// The placement of a mode and margin: the mode's corner with the margin in
// from both its edges, tiles the margin apart.
Placement MarginPlacement(StampMode mode, std::int32_t margin);

// The top-left pixel of a single stamp of that size, which may lie outside
// the picture.
struct StampCorner {
    std::int64_t x, y;
};
StampCorner PlacedCorner(std::int32_t stampWidth, std::int32_t stampHeight,
                         std::int32_t pictureWidth, std::int32_t pictureHeight,
                         const Placement& placement);

// Why a stamp of these sizes cannot go on a picture: the one text the user
// is told, in the order the checks are made; none when it fits. A single
// stamp must lie wholly inside the picture where its placement puts it (so
// a corner stamp must fit with its margin); tiles need only fit themselves.
std::optional<std::string> PlacementRefusal(std::int32_t stampWidth, std::int32_t stampHeight,
                                            std::int32_t pictureWidth, std::int32_t pictureHeight,
                                            bool trueColour, const Placement& placement);
std::optional<std::string> PlacementRefusal(std::int32_t stampWidth, std::int32_t stampHeight,
                                            std::int32_t pictureWidth,
                                            std::int32_t pictureHeight, bool trueColour,
                                            StampMode mode, std::int32_t margin);

// One stamp placed on pictures of one size. Prepares the per-row changes
// once; afterwards it is only read, so several threads may share one.
class PlacedStamp {
public:
    // The stamp must have been accepted by PlacementRefusal for this size.
    PlacedStamp(StampImage stamp, std::int32_t pictureWidth, std::int32_t pictureHeight,
                const Placement& placement);
    PlacedStamp(StampImage stamp, std::int32_t pictureWidth, std::int32_t pictureHeight,
                StampMode mode, std::int32_t margin)
        : PlacedStamp(std::move(stamp), pictureWidth, pictureHeight,
                      MarginPlacement(mode, margin)) {}

    // The picture rows the stamp touches: first <= y < end.
    std::int32_t FirstRow() const { return firstRow_; }
    std::int32_t EndRow() const { return endRow_; }

    // Burns the stamp once into picture row y: pictureWidth Depth24 pixels.
    // Rows outside FirstRow()..EndRow() are left alone.
    void StampRow(std::int32_t y, std::uint8_t* row) const;

private:
    // Stamp row r, or -1 where picture row y shows no stamp.
    std::int32_t StampRowOf(std::int32_t y) const;
    void BurnSegment(std::int32_t stampRow, std::int32_t firstColumn, std::int32_t count,
                     std::uint8_t* picture) const;

    StampImage stamp_;
    std::int32_t pictureWidth_, pictureHeight_;
    StampMode mode_;
    std::int32_t gapX_, gapY_;    // between tiles
    std::int32_t x_ = 0, y_ = 0;  // the single stamp's top-left pixel
    std::int32_t firstRow_ = 0, endRow_ = 0;
    // Watermark modes: what each stamp byte adds to and subtracts from the
    // picture byte under it, 3 bytes a pixel, row after row.
    std::vector<std::uint8_t> add_, sub_;
};

}  // namespace sigillon
