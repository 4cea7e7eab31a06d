// The program's forms of the file and stamp routines: what the core reports
// as an outcome or a refusal, the user sees in the plain message box, and a
// stamp pass dispatches window events after every row so both views repaint
// while it runs.
#pragma once

#include <string>

#include "pictures/raster/bitmap.h"
#include "stamping/compositing.h"

namespace sigillon {

// A failed load or save shows "<path> - Error: wrong format" and returns
// normally; a failed load leaves the picture as it was.
void LoadPictureFile(TBitmap& picture, const std::string& path);
void SavePictureFile(const TBitmap& picture, const std::string& path);

// Shows the refusal, if any, and says whether the stamp fits.
bool StampFits(const TBitmap& stamp, const TBitmap& picture);

// Checks with StampFits, then stamps by the mode, dispatching events after
// every row written.
void StampPicture(TBitmap& stamp, TBitmap& picture, StampMode mode);

}  // namespace sigillon
