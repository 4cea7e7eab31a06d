// BMP files held in memory: the byte-level reader and writer behind
// TBitmap::ReadBmpFile and TBitmap::WriteBmpFile. Also used for the artwork
// compiled into the program and by the fuzz target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pictures/raster/bitmap.h"

namespace sigillon {

// Replaces the picture with the BMP file in data; no bytes at all make the
// picture empty. Throws BitmapError, leaving the picture untouched, on a file
// it does not accept.
void ReadBmpData(TBitmap& picture, const std::uint8_t* data, std::size_t size);

// The whole file for the picture in its own format; no bytes for an empty
// picture.
std::vector<std::uint8_t> EncodeBmp(const TBitmap& picture);

}  // namespace sigillon
