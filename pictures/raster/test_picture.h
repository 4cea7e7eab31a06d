// The built-in 768 x 600 true-colour test picture: a gray ramp across the
// top band, colour ramps and cross-fades in the two bands below.
#pragma once

#include <memory>

#include "pictures/raster/bitmap.h"

namespace sigillon {

// A new Depth24 picture each call; the caller owns it.
std::unique_ptr<TBitmap> MakeTestPicture();

}  // namespace sigillon
