// Burning a stamp raster into a picture raster, in place.
//
// Stamp modes: 0-3 solid stamp and 4-7 watermark, each in the corners
// top-left, top-right, bottom-left, bottom-right; 8 watermark tiled over the
// whole picture from its top-left corner; 9 and above stamp nothing. White
// stamp pixels (all three bytes 255) are transparent in every mode.
//
// The passes run a caller's step after every row they write (the desktop
// program pumps its events there, so the windows repaint during a long
// pass). They ask for every row address afresh after the step and hold none
// across it, since the step may run other code.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "pictures/raster/bitmap.h"

namespace sigillon {

using StampMode = std::uint8_t;

inline constexpr StampMode kTiledWatermark = 8;

// Runs after every row a pass has written.
using RowStep = std::function<void()>;

// Why a stamp cannot go on a picture: the one text the user is told, in
// the order the checks are made; none when it fits. Changes neither raster.
std::optional<std::string> StampRefusal(const TBitmap& stamp, const TBitmap& picture);

// Checks, converts the stamp to Depth24 in place and composites it by the
// mode; returns the refusal, touching nothing, when the stamp does not fit.
// The caller repaints its views afterwards, whatever happened.
std::optional<std::string> ApplyStamp(TBitmap& stamp, TBitmap& picture, StampMode mode,
                                      const RowStep& afterRow = {});

// The compositing of ApplyStamp without its checks, for a Depth24 stamp
// that StampRefusal accepted: a caller that stamps one picture many times
// checks once.
void CompositeStamp(TBitmap& stamp, TBitmap& picture, StampMode mode,
                    const RowStep& afterRow = {});

// Both rasters Depth24, the stamp wholly inside the picture at (x, y).
void StampSolid(TBitmap& stamp, TBitmap& picture, std::int32_t x, std::int32_t y,
                const RowStep& afterRow = {});

// Corner form when corner is true; otherwise tiled over the whole picture
// from its top-left pixel, x and y ignored.
void StampWatermark(TBitmap& stamp, TBitmap& picture, std::int32_t x, std::int32_t y,
                    bool corner, const RowStep& afterRow = {});

// The watermark rule for one pixel: a stamp pixel that is not white moves
// each picture byte by (stamp byte / 32) - 2, limited to 0..255.
void WatermarkPixel(const std::uint8_t* stampRow, std::uint8_t* pictureRow,
                    std::int32_t stampColumn, std::int32_t pictureColumn);

}  // namespace sigillon
