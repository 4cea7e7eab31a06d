// Turning a stamp and fading it (the batch tool's --rotate and --opacity),
// done once for each stamp and picture size, before it is placed: the
// compositor then burns the result in like any stamp with alpha, with no
// per-pixel geometry in its rows.
#pragma once

#include "stamping/placed_stamp.h"

namespace sigillon {

// The stamp with every alpha a made (a * percent + 50) / 100; a stamp
// without alpha gets one first (white 0, everything else 255). At 100 the
// stamp is returned as it is. Throws BitmapError for percent outside 1..100.
StampImage WithOpacity(const StampImage& stamp, int percent);

// The stamp turned degrees anticlockwise as seen, in the smallest box of
// whole pixels that holds it, centred; whatever of the box the stamp does
// not cover is transparent.
//
// Quarter turns (and 0) move pixels exactly and keep a stamp without alpha
// without it, white staying transparent. Other angles sample each box
// pixel's centre in the stamp, bilinear over its four nearest pixels, the
// ones beyond the stamp transparent, on premultiplied colours, so that the
// edges fade in the stamp's own colours rather than towards white. The
// result then has alpha; its colours are the premultiplied ones divided by
// their alpha, rounded, and white where the alpha rounds to 0. Throws
// BitmapError for an empty stamp or a result too large to hold.
StampImage RotateStamp(const StampImage& stamp, double degrees);

}  // namespace sigillon
