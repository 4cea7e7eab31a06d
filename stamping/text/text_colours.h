// The seven text colours the program's colour button cycles through, in its
// order, with the names the batch tool's --color takes. No Qt here, so the
// batch tool's library can use the table without the text renderer.
#pragma once

#include "pictures/raster/bitmap.h"

namespace sigillon {

struct TextColour {
    const char* name;
    TColor value;  // 0x00BBGGRR
};

inline constexpr TextColour kTextColours[7] = {
    {"black", 0x00000000},  {"grey", 0x00808080},  {"blue", 0x00FF0000},   {"red", 0x000000FF},
    {"yellow", 0x0000FFFF}, {"green", 0x00008000}, {"purple", 0x00800080},
};

}  // namespace sigillon
