#include "pictures/metadata/metadata_edit.h"

#include <exiv2/exiv2.hpp>

#include "pictures/metadata/exiv2_hold.h"
#include "pictures/metadata/metadata_parts.h"

namespace sigillon {

std::unique_lock<std::mutex> HoldExiv2() {
    static std::mutex lock;
    std::unique_lock<std::mutex> hold(lock);
    static bool done = false;
    if (!done) {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        done = true;
    }
    return hold;
}

std::vector<std::string> EditMetadata(PictureMetadata& m, const MetadataChanges& changes,
                                      MetadataReport* report) {
    std::vector<std::string> warnings;
    MetadataReport local;
    MetadataReport& r = report ? *report : local;
    r = MetadataReport();
    const auto hold = HoldExiv2();
    // Whether the turn was by a quarter, as the orientation said before it
    // was reset.
    long was = 0;
    try {
        if (changes.resetOrientation && !m.exif.empty() && m.exif.size() <= kMaxExifBytes)
            was = ExifOrientationValue(m.exif);
    } catch (...) {
        was = 0;
    }
    EditExif(m, changes, warnings, r);
    EditXmp(m, changes, was >= 5 && was <= 8, warnings, r);
    EditPhotoshop(m, changes, warnings, r);
    // Namespaces a packet brought along stay registered otherwise, and a
    // long run over many files would keep them all.
    Exiv2::XmpProperties::unregisterNs();
    return warnings;
}

int ExifOrientation(const PictureMetadata& m) {
    if (m.exif.empty() || m.exif.size() > kMaxExifBytes) return 1;
    const auto hold = HoldExiv2();
    long value = 0;
    try {
        value = ExifOrientationValue(m.exif);
    } catch (...) {
        return 1;
    }
    return value >= 1 && value <= 8 ? int(value) : 1;
}

}  // namespace sigillon
