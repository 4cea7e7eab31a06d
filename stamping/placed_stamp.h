// Stamping row by row, as the batch tool does: a stamp that may carry its
// own alpha, placed with a margin, applied to one picture row at a time so
// that a picture never has to be held whole.
//
// Without alpha and without a margin the result is exactly ApplyStamp's.
// With alpha, for each channel with stamp value s, picture value p and
// alpha a (0 to 255), a = 0 changing nothing:
//   solid modes 0-3:      p' = (a*s + (255 - a)*p + 127) / 255
//   watermark modes 4-8:  d = (s >> 5) - 2, c = sign(d) * ((|d|*a + 127) / 255),
//                         p' = clamp(p + c, 0, 255)
// With a = 255 both are the rules without alpha, except that white is then
// an ordinary colour.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "stamping/compositing.h"

namespace sigillon {

// A stamp as the batch tool burns it in.
struct StampImage {
    std::shared_ptr<const TBitmap> pixels;  // Depth24
    // width * height alpha values, top row first; empty when the stamp has
    // none, and then white pixels are transparent and all others opaque.
    std::vector<std::uint8_t> alpha;

    std::int32_t Width() const { return pixels ? pixels->Width() : 0; }
    std::int32_t Height() const { return pixels ? pixels->Height() : 0; }
};

// The refusal ApplyStamp would give for these sizes, with the margin
// counted: a corner stamp must fit with its margin between it and both edges
// of its corner; tiles need only fit themselves.
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
                StampMode mode, std::int32_t margin);

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
    std::int32_t margin_;
    std::int32_t x_ = 0, y_ = 0;  // the corner stamp's top-left pixel
    std::int32_t firstRow_ = 0, endRow_ = 0;
    // Watermark modes: what each stamp byte adds to and subtracts from the
    // picture byte under it, 3 bytes a pixel, row after row.
    std::vector<std::uint8_t> add_, sub_;
};

}  // namespace sigillon
