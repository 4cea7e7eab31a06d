// The sizes a HEIF file's derived pictures claim, read from its boxes. A
// grid ("grid") or an overlay ("iovl") gives its canvas size in its own item
// data, not in a property, and libheif 1.15 allocates that canvas before it
// decodes a single tile, with no limit of its own: a file of a few hundred
// bytes can ask for gigabytes. So the reader looks first.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sigillon {

struct DerivedPicture {
    std::string type;  // "grid" or "iovl"
    std::uint32_t width = 0, height = 0;
    std::uint32_t tiles = 0;  // a grid's rows times columns; 0 for an overlay
};

// Every grid and overlay item of the file whose data can be found; items
// the boxes do not describe completely are left to libheif to refuse.
std::vector<DerivedPicture> DerivedPictures(std::span<const std::uint8_t> file);

}  // namespace sigillon
