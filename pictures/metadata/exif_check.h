// Whether an edited EXIF block reads as its original did, tag by tag, as
// Exiv2 reads both: every tag with the same type, count and bytes, except
// the tags the edit was meant to change. Callers hold HoldExiv2().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pictures/metadata/tiff_structure.h"

namespace sigillon {

struct AllowedExifChanges {
    bool copyright = false;                // Exif.Image.Copyright written
    bool orientation = false;              // Exif.Image.Orientation reset
    bool dimensions = false;               // Exif.Photo.PixelX/YDimension swapped
    bool pictures = false;                 // IFD1 and the IFDs after it gone
    std::vector<std::uint16_t> ifd0Tags;   // IFD0 tags that said a picture was there
    std::vector<std::uint16_t> makerTags;  // maker-note tags that said so
    // The maker note as one value (Exif.Photo.MakerNote) may differ only in
    // bytes written; when it was laid out anew, only its tags are compared.
    std::optional<tiff::Range> makerNote;
    tiff::RangeSet written;
    bool makerNoteMoved = false;
};

struct ExifComparison {
    std::size_t compared = 0;              // tags read and found equal or not
    std::vector<std::string> differences;  // the first few that are not, in words
    bool Same() const { return differences.empty(); }
};

ExifComparison CompareExif(const tiff::Bytes& before, const tiff::Bytes& after,
                           const AllowedExifChanges& allowed);

// The preview pictures Exiv2 finds in a block, as "W x H" (or a size in
// bytes); empty when it finds none or cannot read the block.
std::vector<std::string> PicturesExiv2Finds(const tiff::Bytes& block);

}  // namespace sigillon
