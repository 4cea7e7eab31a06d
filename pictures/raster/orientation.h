// Turning a picture's stored pixels upright, as an EXIF orientation says
// they must be shown.
#pragma once

#include "pictures/raster/bitmap.h"

namespace sigillon {

// Rearranges the pixels for EXIF orientation 1 to 8: 1 leaves them, 2
// mirrors left and right, 3 turns by a half, 4 mirrors top and bottom, 5
// mirrors along the diagonal from the top left, 6 turns a quarter
// clockwise, 7 mirrors along the other diagonal, 8 turns a quarter
// anticlockwise; 5 to 8 swap width and height. The picture gets a new
// record of the same format (palette, masks and BMP fields kept, the pixels
// per metre swapped with the sides). Pictures of 8, 16, 24 or 32 bits per
// pixel; others, and any other orientation, are refused with BitmapError
// and left as they were.
void ApplyOrientation(TBitmap& picture, int orientation);

}  // namespace sigillon
