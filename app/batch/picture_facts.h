// A look at a picture before its job, for what varies from picture to
// picture: the EXIF values its variables read, and its shape once turned
// upright, which picks a preset's "portrait" or "landscape" options.
#pragma once

#include <string>
#include <vector>

#include "app/batch/variables.h"

namespace sigillon::batch {

struct PictureLook {
    std::map<std::string, std::string> exif;  // the keys asked for that it holds
    bool portrait = false;  // taller than wide, upright; a square one is landscape
};

// Reads the file's header and metadata (the whole picture only for a
// format without a row reader); a file that cannot be read looks like a
// landscape picture without EXIF, and its job then says why it failed.
// autoOrient: the shape is the one the picture is turned to.
PictureLook LookAtPicture(const std::string& path, bool testPicture,
                          const std::vector<std::string>& exifKeys, bool autoOrient);

}  // namespace sigillon::batch
