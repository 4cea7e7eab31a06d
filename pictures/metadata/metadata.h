// What a picture file carries besides its pixels. The batch tool keeps it
// byte for byte from the file it read to the file it writes, so that a
// stamped copy loses neither its camera data nor its colour profile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sigillon {

// Largest payload of one JPEG marker segment (its 16-bit length counts
// itself): the unit the repeated segments below are cut into.
inline constexpr std::size_t kMaxJpegSegmentPayload = 65533;

struct PictureMetadata {
    std::vector<std::uint8_t> icc;   // the whole ICC profile
    std::vector<std::uint8_t> exif;  // the EXIF block from its TIFF header ("II*\0" or "MM\0*") on
    std::string xmp;                 // the main XMP packet
    // Segments carried as they are: extended XMP (JPEG APP1, after its
    // signature) and Photoshop/IPTC (JPEG APP13, whole payload).
    std::vector<std::vector<std::uint8_t>> extendedXmp;
    std::vector<std::vector<std::uint8_t>> photoshop;

    bool Empty() const {
        return icc.empty() && exif.empty() && xmp.empty() && extendedXmp.empty() &&
               photoshop.empty();
    }
    bool operator==(const PictureMetadata&) const = default;
};

}  // namespace sigillon
