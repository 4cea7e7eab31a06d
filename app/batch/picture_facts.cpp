#include "app/batch/picture_facts.h"

#include <exception>

#include "pictures/formats.h"
#include "pictures/metadata/exif_values.h"
#include "pictures/metadata/metadata_edit.h"
#include "pictures/raster/test_picture.h"

namespace sigillon::batch {

PictureLook LookAtPicture(const std::string& path, bool testPicture,
                          const std::vector<std::string>& exifKeys, bool autoOrient) {
    PictureLook look;
    std::int32_t width = 0, height = 0;
    PictureMetadata metadata;
    try {
        if (testPicture) {
            auto picture = MakeTestPicture();
            width = picture->Width();
            height = picture->Height();
        } else {
            std::string problem;
            const PictureFormat* format = SniffFile(path, problem);
            if (!format) return look;
            const ReadSettings read{true, true};
            RowReaderOpening opening;
            if (format->openRows) opening = format->openRows(path, read);
            if (opening.reader) {
                width = opening.reader->Width();
                height = opening.reader->Height();
                metadata = std::move(opening.metadata);
            } else {
                HeldPicture held = format->readWhole(path, read);
                width = held.pixels->Width();
                height = held.pixels->Height();
                metadata = std::move(held.metadata);
            }
        }
    } catch (const std::exception&) {
        return look;
    }
    // Orientations 5 to 8 turn the picture by a quarter.
    if (autoOrient && ExifOrientation(metadata) >= 5) std::swap(width, height);
    look.portrait = height > width;
    look.exif = ReadExifValues(metadata, exifKeys);
    return look;
}

}  // namespace sigillon::batch
