// What the picture layer throws when it refuses a picture or a file fails:
// its raster operations, codecs and file routines alike. The text names the
// format and the fault ("BMP: colour table larger than 256 entries"); the
// quiet file routines and the batch tool pass it on to the user as it is.
#pragma once

#include <stdexcept>

namespace sigillon {

class BitmapError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace sigillon
