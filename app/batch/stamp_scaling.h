// Resizing a stamp to a share of each picture's width (--scale).
//
// Shrinking a stamp keyed on white would blend its letters with the white
// around them into pale pixels, which the stamp rule takes as opaque: a
// fringe. So a stamp without alpha is turned into one first (white
// transparent, everything else opaque), and the resize works on
// premultiplied pixels with an area filter, so that edge pixels come out as
// the stamp's own colours with partial alpha.
#pragma once

#include <cstdint>

#include "stamping/placed_stamp.h"

namespace sigillon::batch {

// The width a stamp gets on a picture: percent % of the picture's width,
// rounded, at least 1.
std::int32_t ScaledWidth(std::int32_t pictureWidth, int percent);

// The stamp resized to width pixels, its height keeping the aspect (rounded,
// at least 1); the result always has alpha. Resizes with Qt GUI
// (stamp_scaling_qt.cpp), which the tool loads only for --scale.
StampImage ScaleStamp(const StampImage& stamp, std::int32_t width);

// The stamp with white made transparent and everything else opaque; a stamp
// that has alpha already is returned as it is.
StampImage WithAlpha(const StampImage& stamp);

}  // namespace sigillon::batch
