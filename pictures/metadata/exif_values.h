// Values of a picture's EXIF tags as text, for the batch tool's variables
// in names, text stamps and copyrights ({artist}, {exif:KEY}, ...).
#pragma once

#include <map>
#include <string>
#include <vector>

#include "pictures/metadata/metadata.h"

namespace sigillon {

// Whether Exiv2 knows key as an EXIF key ("Exif.Photo.ExposureTime", or a
// tag by number, "Exif.Image.0x013b").
bool IsExifKey(const std::string& key);

// The keys among those asked for that the picture's EXIF block holds, each
// with its value as Exiv2 writes it ("1/200" for an exposure time), without
// the trailing NULs and spaces some cameras pad their strings with. A
// block Exiv2 cannot read holds none. Safe to call from several threads.
std::map<std::string, std::string> ReadExifValues(const PictureMetadata& metadata,
                                                  const std::vector<std::string>& keys);

}  // namespace sigillon
