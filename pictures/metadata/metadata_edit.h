// Changes to a picture's EXIF block and XMP packet before it is written out
// again, made with Exiv2 (library sigillon_metadata, which only the batch
// tool links).
//
// Hostile or broken metadata never stops a picture from being written: a
// block Exiv2 cannot read or write back, or one larger than the limits
// below, is dropped and named in the returned warnings. The ICC profile is
// never touched. A block nothing needs to change in keeps its bytes
// exactly. Safe to call from several threads.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "pictures/metadata/metadata.h"

namespace sigillon {

// Larger blocks are not handed to the parser at all.
inline constexpr std::size_t kMaxExifBytes = std::size_t(1) << 20;
inline constexpr std::size_t kMaxXmpBytes = std::size_t(16) << 20;

struct MetadataChanges {
    // Written as Exif.Image.Copyright and Xmp.dc.rights (replacing what was
    // there), creating the EXIF block and the XMP packet if there are none.
    std::optional<std::string> copyright;
    // The EXIF thumbnail (IFD1 and the picture it points to), the XMP
    // thumbnails and the Photoshop thumbnail resources show the picture as
    // it was before it was stamped.
    bool dropThumbnail = true;
    // The pixels were turned upright: the orientation becomes 1 (in EXIF and
    // in XMP's tiff:Orientation), and for the turns by a quarter EXIF's pixel
    // width and height change places.
    bool resetOrientation = false;
};

// Applies the changes to m.exif, m.xmp and m.photoshop (m.extendedXmp is
// dropped with the main packet when that is dropped; the Photoshop segments,
// whose resource blocks Exiv2 locates, are laid out again only when a
// thumbnail was taken out). Returns one sentence for each block dropped,
// naming it and why.
std::vector<std::string> EditMetadata(PictureMetadata& m, const MetadataChanges& changes);

// Exif.Image.Orientation, 1 to 8: how the stored pixels must be turned to
// show the picture upright. 1 when the tag is absent or invalid, or the
// EXIF block cannot be read.
int ExifOrientation(const PictureMetadata& m);

}  // namespace sigillon
