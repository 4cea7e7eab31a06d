// Resizing a stamp to a share of each picture's width (the batch tool's
// --scale).
//
// Shrinking a stamp keyed on white would blend its letters with the white
// around them into pale pixels, which the stamp rule takes as opaque: a
// fringe. So a stamp without alpha is turned into one first (white
// transparent, everything else opaque), and the resize works on
// premultiplied pixels, so that edge pixels come out as the stamp's own
// colours with partial alpha.
//
// The filter, along each axis on its own: shrinking, every target pixel is
// the average of the source pixels it covers, each weighted by the exact
// share of it that lies under the target pixel (a box over the covered
// area); enlarging, it is the bilinear blend of the two source pixels
// around its centre, the edge pixels repeated beyond the border.
#pragma once

#include <cstdint>

#include "stamping/placed_stamp.h"

namespace sigillon {

// The width a stamp gets on a picture: percent % of the picture's width,
// rounded, at least 1.
std::int32_t ScaledWidth(std::int32_t pictureWidth, int percent);

// Which side of the picture --scale takes its share of: the stamp's width
// is that share of the picture's width, of its shorter or of its longer
// side; or its height is that share of the picture's height. Shorter and
// longer give a stamp of the same size on a picture upright and turned.
enum class ScaleBy { Width, Height, Shorter, Longer };

struct StampSize {
    std::int32_t width, height;
};

// The size a stamp gets on a picture: percent % of the side chosen,
// rounded, at least 1, the other side keeping the stamp's aspect (rounded,
// at least 1).
StampSize ScaledSize(std::int32_t stampWidth, std::int32_t stampHeight, std::int32_t pictureWidth,
                     std::int32_t pictureHeight, int percent, ScaleBy by);

// The stamp resized to width x height pixels; a height of 0 keeps the
// aspect (rounded, at least 1). The result always has alpha; its colours are the filtered
// premultiplied ones divided by their alpha, rounded, and white where the
// alpha rounds to 0. Throws BitmapError for a stamp that is empty or not
// Depth24, a width below 1 and a result too large to hold.
StampImage ScaleStamp(const StampImage& stamp, std::int32_t width, std::int32_t height = 0);

// The stamp with white made transparent and everything else opaque; a stamp
// that has alpha already is returned as it is.
StampImage WithAlpha(const StampImage& stamp);

}  // namespace sigillon
