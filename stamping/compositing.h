// The desktop program's stamping: a whole picture raster stamped in place by
// the one compositor (placed_stamp.h, which describes the modes), with no
// margin and no alpha.
//
// The pass runs a caller's step after every row it writes (the desktop
// program pumps its events there, so the windows repaint during a long
// pass). It asks for every row address afresh after the step and holds none
// across it, since the step may run other code.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "pictures/raster/bitmap.h"
#include "stamping/placed_stamp.h"

namespace sigillon {

// Runs after every row a pass has written.
using RowStep = std::function<void()>;

// PlacementRefusal for these rasters: a raster without storage counts as no
// stamp or no picture. Changes neither raster.
std::optional<std::string> StampRefusal(const TBitmap& stamp, const TBitmap& picture);

// Checks, converts the stamp to Depth24 in place and stamps it by the mode;
// returns the refusal, touching nothing, when the stamp does not fit. The
// step runs once per stamp row in a corner mode, once per picture row in the
// tiled mode, never for modes above 8. Throws BitmapError when a step has
// changed either raster's size or format. The caller repaints its views
// afterwards, whatever happened.
std::optional<std::string> ApplyStamp(TBitmap& stamp, TBitmap& picture, StampMode mode,
                                      const RowStep& afterRow = {});

}  // namespace sigillon
