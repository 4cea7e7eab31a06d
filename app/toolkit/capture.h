// Capturing a window's image into a raster.
#pragma once

#include <memory>

#include "pictures/bitmap.h"

class QWidget;

namespace sigillon {

// A new DepthDevice raster of the window's client size, filled with the
// window's colour, into which the window and its controls are painted as on
// the screen. The window need not be visible. The caller owns the raster;
// a window of no area gives an empty one.
std::unique_ptr<TBitmap> CaptureWindowImage(QWidget& window);

}  // namespace sigillon
