// Burning a stamp raster into a picture raster, in place.
//
// Stamp modes: 0-3 solid stamp and 4-7 watermark, each in the corners
// top-left, top-right, bottom-left, bottom-right; 8 watermark tiled over the
// whole picture from its top-left corner; 9 and above stamp nothing. White
// stamp pixels (all three bytes 255) are transparent in every mode.
//
// The stamp code pumps window events once after every row it writes, through
// Ui().ProcessMessages(), so the windows repaint during a long pass. It asks
// for every row address afresh after the pump and holds none across it.
#pragma once

#include <cstdint>

#include "pictures/bitmap.h"

namespace sigillon {

using StampMode = std::uint8_t;

inline constexpr StampMode kTiledWatermark = 8;

// Validates a stamp against a picture; on refusal shows exactly one message
// and returns false. Changes neither raster.
bool StampFits(const TBitmap& stamp, const TBitmap& picture);

// Validates, converts the stamp to Depth24 in place and composites it by the
// mode. The caller repaints its views afterwards, whatever happened.
void ApplyStamp(TBitmap& stamp, TBitmap& picture, StampMode mode);

// Both rasters Depth24, the stamp wholly inside the picture at (x, y).
void StampSolid(TBitmap& stamp, TBitmap& picture, std::int32_t x, std::int32_t y);

// Corner form when corner is true; otherwise tiled over the whole picture
// from its top-left pixel, x and y ignored.
void StampWatermark(TBitmap& stamp, TBitmap& picture, std::int32_t x, std::int32_t y,
                    bool corner);

// The watermark rule for one pixel: a stamp pixel that is not white moves
// each picture byte by (stamp byte / 32) - 2, limited to 0..255.
void WatermarkPixel(const std::uint8_t* stampRow, std::uint8_t* pictureRow,
                    std::int32_t stampColumn, std::int32_t pictureColumn);

}  // namespace sigillon
