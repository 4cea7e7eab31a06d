// An input of the batch tool made ready for its rows to be pumped: its file
// known by its content, read row by row where the file allows and whole
// otherwise (turned upright when its EXIF says so), with the metadata that
// will go out with it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/failure.h"
#include "pictures/metadata/metadata.h"
#include "pictures/rows/picture_rows.h"
#include "stamping/placed_stamp.h"

namespace sigillon::batch {

// What happens to the metadata between reading and writing.
struct MetadataSettings {
    bool keep = true;                      // false: --strip-metadata
    std::optional<std::string> copyright;  // written as EXIF and XMP rights
    bool autoOrient = true;                // turn the pixels as EXIF says, tag to 1
};

struct OpenedInput {
    std::unique_ptr<PictureRowReader> rows;
    PictureMetadata metadata;         // as it will be written
    std::vector<std::string> warnings;  // metadata dropped, and why; damage accepted
    bool byRows = false;
    // For --verbose: the row reader's note, or why the picture is held whole.
    std::string how;
};

// Opens the input, or the test picture. A file whose first bytes are no
// format's is read by the format its name says, whose reader then says in
// its own words what is wrong. A damaged JPEG file is refused at its first
// damaged row unless acceptDamaged (ReadSettings, pictures/formats.h).
// Throws BitmapError for a file that cannot be read.
Expected<OpenedInput> OpenInput(const std::string& path, bool testPicture,
                                const MetadataSettings& settings, bool acceptDamaged = false);

// A stamp picture, read whole by its content: Depth24, with its alpha
// when the file has one. Its own metadata and orientation are not used.
Expected<StampImage> LoadStamp(const std::string& path);

// Edits the metadata as the settings say (thumbnail dropped, copyright,
// orientation reset when the pixels were turned); problems become warnings.
void PrepareMetadata(PictureMetadata& metadata, std::vector<std::string>& warnings,
                     const MetadataSettings& settings, bool turned);

}  // namespace sigillon::batch
