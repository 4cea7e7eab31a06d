// The metadata path as the batch tool takes it, for hostile bytes: read from
// a JPEG file's segments, or taken as an EXIF block or an XMP packet; edited;
// written into a small JPEG file. Shared by the fuzz target and the test
// that replays what it found.
//
// Byte 0 chooses: bits 0-1 the source (0 and 3 a JPEG file, 1 an EXIF
// block, 2 an XMP packet), bit 2 set a copyright, bit 3 keep the pictures of the photo,
// bit 4 reset the orientation. The rest is the source's bytes.
// fuzz/make-seeds.py writes the seeds, among them EXIF blocks whose maker
// notes hold previews, for the in-place editor.
#pragma once

#include <algorithm>
#include <cstdio>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pictures/jpeg/jpeg_image.h"
#include "pictures/jpeg/jpeg_metadata.h"
#include "pictures/metadata/exif_pictures.h"
#include "pictures/metadata/metadata_edit.h"

namespace sigillon::fuzzing {

// False when the path broke a promise: an orientation outside 1 to 8; one
// not reset when asked, unless a warning says it was left; a picture of
// the photo left in the EXIF block when pictures were to go; or a file
// whose metadata does not read back as written although nothing was left
// out.
inline bool MetadataPathHolds(const std::uint8_t* data, std::size_t size) {
    // Which promise broke, for a fault found where only the log is kept.
    auto broken = [](const char* promise) {
        std::fprintf(stderr, "metadata path broke its promise: %s\n", promise);
        return false;
    };
    if (size == 0) return true;
    const std::uint8_t mode = data[0];
    const std::uint8_t* bytes = data + 1;
    const std::size_t count = size - 1;
    PictureMetadata m;
    switch (mode & 3) {
        case 1:
            m.exif.assign(bytes, bytes + count);
            break;
        case 2:
            m.xmp.assign(reinterpret_cast<const char*>(bytes), count);
            break;
        default:
            m = ReadJpegMetadata(bytes, count);
            break;
    }
    MetadataChanges changes;
    if (mode & 4) changes.copyright = "\xC2\xA9 2026 Fuzz <&>";
    changes.dropPictures = !(mode & 8);
    changes.resetOrientation = (mode & 16) != 0;

    const int orientation = ExifOrientation(m);
    if (orientation < 1 || orientation > 8) return broken("an orientation from 1 to 8");
    const std::vector<std::string> warnings = EditMetadata(m, changes);
    const bool orientationLeft = std::any_of(warnings.begin(), warnings.end(), [](const auto& w) {
        return w.find("the orientation") != std::string::npos;
    });
    if (changes.resetOrientation && ExifOrientation(m) != 1 && !orientationLeft)
        return broken("the orientation reset or a warning saying why not");
    if (changes.dropPictures) {
        const std::optional<ExifLayout> layout = ReadExifLayout(m.exif);
        if (layout && !layout->pictures.empty()) return broken("no picture left in the EXIF block");
    }

    TBitmap picture;
    picture.SetDepth(Depth24);
    picture.SetWidth(8);
    picture.SetHeight(8);
    TJPEGImage jpeg;
    jpeg.Assign(picture);
    jpeg.SetOutputMetadata(m);
    jpeg.Compress();
    if (jpeg.WriteMetadataWarnings().empty() && !(jpeg.Metadata() == m))
        return broken("the metadata written reads back as it was");
    return true;
}

}  // namespace sigillon::fuzzing
