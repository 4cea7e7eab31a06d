// What sigillon-batch takes from Qt GUI, as a module it loads only when a
// run needs it: text stamps (--text) and stamp resizing (--scale). Without
// them the tool loads no Qt at all, whose libraries alone would take more
// memory than a picture read row by row.
//
// The module and the tool meet through plain C: rasters of 24-bit rows
// (blue, green, red, top row first, no fill) and an optional alpha plane,
// allocated by the module and handed back to it to free.
#pragma once

#include <cstdint>

extern "C" {

struct SigillonRaster {
    std::int32_t width;
    std::int32_t height;
    std::uint8_t* bgr;    // width * height * 3 bytes
    std::uint8_t* alpha;  // width * height bytes, or null
};

struct SigillonQtModule {
    int version;  // kSigillonQtModuleVersion
    // The text stamp as the desktop program draws it: the text field's font,
    // text colour colour (an index of kTextColours), size factor size, on
    // white. 0 on success.
    int (*renderText)(const char* utf8, int colour, int size, SigillonRaster* out);
    // ScaleStamp: the stamp resized to width pixels, with alpha. 0 on success.
    int (*scaleStamp)(const SigillonRaster* stamp, std::int32_t width, SigillonRaster* out);
    void (*release)(SigillonRaster* raster);
    // Ends Qt before the program does, so that it gives back what it took
    // (fonts among them).
    void (*finish)();
};

// The one symbol the module exports.
const SigillonQtModule* sigillon_batch_qt_module();
}

inline constexpr int kSigillonQtModuleVersion = 1;
inline constexpr const char* kSigillonQtModuleName = "sigillon-batch-qt.so";
