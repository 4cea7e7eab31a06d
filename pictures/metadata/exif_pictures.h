// The pictures an EXIF block carries besides its tags, and where they lie.
//
// A camera's EXIF block may hold the unstamped photo several times over:
// the EXIF thumbnail (IFD1, and any IFD linked after it), a JPEG named in
// IFD0, and the preview pictures makers keep in their maker notes. This
// walks the block's TIFF structure, and the maker notes it knows the layout
// of, to find each one, the fields that say it is there, and the bytes that
// everything which stays in the block still refers to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pictures/metadata/tiff_structure.h"

namespace sigillon {

struct EmbeddedPicture {
    std::string what;  // "EXIF thumbnail", "Nikon PreviewIFD", ...
    bool inMakerNote = false;
    std::size_t size = 0;            // bytes the block says it has
    std::vector<tiff::Range> bytes;  // where they lie, inside the block
    // Fields that say it is there (its length, its count, the link to its
    // IFD), each a number of `width` bytes at `at`: set to 0, the picture is
    // gone for every reader.
    struct Field {
        std::size_t at = 0, width = 0;
    };
    std::vector<Field> fields;
    std::vector<std::uint16_t> tags;  // tags whose values that changes (in its IFD)
    int width = 0, height = 0;        // from its JPEG header, when it has one
};

struct ExifLayout {
    tiff::Order order;
    tiff::Ifd ifd0;
    std::optional<tiff::Ifd> exifIfd;  // the EXIF sub-IFD, when there is one
    std::vector<EmbeddedPicture> pictures;
    // Bytes the tags that stay refer to: the header, every IFD that stays
    // and its values, and the maker note (its inside, when its layout is
    // known). A picture's bytes are blanked only outside these.
    tiff::RangeSet kept;
    std::optional<tiff::Range> makerNote;
    std::string maker;  // the maker-note layout walked, empty when none
};

// The layout of a block, or nothing (and *whyNot) when its header or IFD0
// cannot be read.
std::optional<ExifLayout> ReadExifLayout(const tiff::Bytes& block, std::string* whyNot = nullptr);

// Width and height from the frame header of JPEG data; {0, 0} when it has
// none.
std::pair<int, int> JpegSize(const std::uint8_t* data, std::size_t size);

}  // namespace sigillon
