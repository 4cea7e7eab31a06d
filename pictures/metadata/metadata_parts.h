// The parts of EditMetadata, one file each. Callers hold HoldExiv2().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pictures/metadata/metadata_edit.h"

namespace sigillon {

using Warnings = std::vector<std::string>;

void EditExif(PictureMetadata& m, const MetadataChanges& changes, Warnings& warnings,
              MetadataReport& report);
// quarterTurn: the pixels were turned by a quarter, so the pixel width and
// height change places along with the orientation.
void EditXmp(PictureMetadata& m, const MetadataChanges& changes, bool quarterTurn,
             Warnings& warnings, MetadataReport& report);
void EditPhotoshop(PictureMetadata& m, const MetadataChanges& changes, Warnings& warnings,
                   MetadataReport& report);

// The value of Exif.Image.Orientation when it holds one number, else 0.
long ExifOrientationValue(const std::vector<std::uint8_t>& exif);

}  // namespace sigillon
