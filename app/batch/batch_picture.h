// A picture as the batch tool reads and writes it: pixels, the PNG's own
// alpha, and the metadata the file carried, so that a stamped copy keeps its
// camera data, colour profile and transparency.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "pictures/metadata/metadata.h"
#include "pictures/picture_files.h"

namespace sigillon::batch {

// The file types the batch tool reads and writes: the program's two, and
// PNG, by the same extension rule (".png" in any letter case).
enum class BatchKind { None, Jpeg, Bmp, Png };
BatchKind BatchKindOf(const std::string& path);

struct BatchPicture {
    std::unique_ptr<TBitmap> pixels;
    std::vector<std::uint8_t> alpha;  // a PNG's opacities, top row first; empty: opaque
    PictureMetadata metadata;
    std::vector<std::string> warnings;  // metadata dropped, and why
};

// What happens to the metadata between reading and writing.
struct MetadataSettings {
    bool keep = true;                     // false: --strip-metadata
    std::optional<std::string> copyright;  // written as EXIF and XMP rights
    bool autoOrient = true;               // turn the pixels as EXIF says, tag to 1
};

// Reads a picture. JPEG and BMP pixels are exactly what the program loads;
// metadata is read only when it will be kept. A picture whose EXIF says it
// is stored turned is turned upright here (autoOrient), its alpha with it.
FileResult LoadBatchPicture(const std::string& path, const MetadataSettings& settings,
                            BatchPicture& picture);

// Edits the metadata as the settings say (thumbnail dropped, copyright,
// orientation reset when the pixels were turned); problems become warnings.
void PrepareMetadata(BatchPicture& picture, const MetadataSettings& settings, bool turned);

// Writes the picture safely. PNG keeps the alpha and carries the ICC
// profile and EXIF; JPEG and BMP lay the alpha over white first; JPEG keeps
// all the metadata. A picture without metadata or alpha gives the very
// bytes the program would save.
FileResult SaveBatchPicture(BatchPicture& picture, const std::string& path);

}  // namespace sigillon::batch
