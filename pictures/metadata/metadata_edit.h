// Changes to a picture's metadata before it is written out again with a
// stamp (library sigillon_metadata, which only the batch tool links).
//
// What changes is only what must: the copyright is written, the orientation
// reset when the pixels were turned, and every embedded picture that still
// shows the photo unstamped is removed. Every other tag reads back as it
// was: the EXIF block is edited where its bytes lie (pictures/metadata/
// exif_in_place.h), and after each write Exiv2 reads the old block and the
// new one tag by tag; a block that does not read back so is written anew by
// Exiv2 and checked again, and failing that kept as it was, or dropped when
// keeping it would keep a picture of the photo. Each such case is named in
// the returned warnings, and so is every picture removed besides the EXIF
// thumbnail. Hostile or broken metadata never stops a picture from being
// written. The ICC profile is never touched. A block nothing needs to change
// in keeps its bytes exactly. Safe to call from several threads.
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
    // Pictures that show the photo as it was before it was stamped: the
    // EXIF thumbnail (IFD1 and any IFD after it, and the picture they point
    // to), a JPEG named in IFD0, the preview pictures of the maker notes
    // pictures/metadata/exif_pictures.cpp knows, the XMP thumbnails and
    // Google's original picture and depth map (main and extended XMP), the
    // Photoshop thumbnail resources and the IPTC object preview.
    bool dropPictures = true;
    // The pixels were turned upright: the orientation becomes 1 (in EXIF and
    // in XMP's tiff:Orientation), and for the turns by a quarter EXIF's pixel
    // width and height change places.
    bool resetOrientation = false;
};

// What EditMetadata did beyond its warnings.
struct MetadataReport {
    enum class Exif {
        None,       // there was no block and none was made
        Unchanged,  // nothing in it needed to change
        InPlace,    // edited where its bytes lie
        Rewritten,  // written anew by Exiv2
        Kept,       // kept as it was, although something should have changed
        Dropped,
        Made,  // made anew for the copyright
    } exif = Exif::None;
    std::size_t exifTagsCompared = 0;  // tags read back and found equal
    std::size_t xmpPropertiesCompared = 0;
    std::vector<std::string> picturesRemoved;  // each named, the EXIF thumbnail too
};

// Applies the changes to m.exif, m.xmp, m.extendedXmp and m.photoshop (the
// Photoshop segments are laid out again only when a resource or IPTC
// dataset was taken out). Returns one sentence for each block dropped or
// left unchanged, naming it and why, and for each picture removed besides
// the EXIF thumbnail.
std::vector<std::string> EditMetadata(PictureMetadata& m, const MetadataChanges& changes,
                                      MetadataReport* report = nullptr);

// Exif.Image.Orientation, 1 to 8: how the stored pixels must be turned to
// show the picture upright. 1 when the tag is absent or invalid, or the
// EXIF block cannot be read.
int ExifOrientation(const PictureMetadata& m);

}  // namespace sigillon
