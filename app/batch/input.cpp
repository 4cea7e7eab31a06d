#include "app/batch/input.h"

#include <cstdio>
#include <utility>

#include "pictures/formats.h"
#include "pictures/metadata/metadata_edit.h"
#include "pictures/raster/orientation.h"
#include "pictures/raster/test_picture.h"
#include "pictures/rows/held_rows.h"

namespace sigillon::batch {
namespace {

// The alpha plane turned like its picture: carried through the picture
// code's own turning as a gray picture, so both always agree.
std::vector<std::uint8_t> TurnAlpha(const std::vector<std::uint8_t>& alpha, std::int32_t width,
                                    std::int32_t height, int orientation) {
    auto plane = TBitmap::FromRows(width, height, Depth24, [&](std::int32_t y, std::uint8_t* row) {
        for (std::int32_t x = 0; x < width; ++x)
            row[3 * x] = row[3 * x + 1] = row[3 * x + 2] =
                alpha[std::size_t(y) * std::size_t(width) + std::size_t(x)];
    });
    ApplyOrientation(*plane, orientation);
    std::vector<std::uint8_t> turned(alpha.size());
    const std::int32_t w = plane->Width();
    for (std::int32_t y = 0; y < plane->Height(); ++y) {
        const std::uint8_t* row = plane->RowAddress(y);
        for (std::int32_t x = 0; x < w; ++x)
            turned[std::size_t(y) * std::size_t(w) + std::size_t(x)] = row[3 * x];
    }
    return turned;
}

// The format to read path with: the one its first bytes show, else the one
// its name says, so that a damaged file is refused in its format's words.
Expected<const PictureFormat*> FormatToRead(const std::string& path, Failure::Side side) {
    std::string problem;
    if (const PictureFormat* format = SniffFile(path, problem)) return format;
    if (const PictureFormat* format = FormatOfName(path)) return format;
    if (!problem.empty()) return FileFailure(side, path, "cannot open " + path + ": " + problem);
    std::string names;
    const auto formats = PictureFormats();
    for (std::size_t i = 0; i < formats.size(); ++i)
        names += (i == 0                    ? ""
                  : i + 1 == formats.size() ? " or "
                                            : ", ") +
                 std::string(formats[i].name);
    return FileFailure(side, path, "not a " + names + " file");
}

}  // namespace

Expected<OpenedInput> OpenInput(const std::string& path, bool testPicture,
                                const MetadataSettings& settings, bool acceptDamaged) {
    OpenedInput input;
    const ReadSettings read{settings.keep || settings.autoOrient, acceptDamaged};
    HeldPicture held;
    if (testPicture) {
        held.pixels = MakeTestPicture();
        input.how = "the test picture is made in memory";
    } else {
        Expected<const PictureFormat*> format = FormatToRead(path, Failure::Side::Input);
        if (!format) return format.error();
        RowReaderOpening opening;
        if (!(*format)->openRows) {
            opening.whyNot = std::string((*format)->name) + " files are read whole";
        } else {
            // A file the row reader refuses goes to the whole-picture reader,
            // which says why in its own words.
            try {
                opening = (*format)->openRows(path, read);
            } catch (const BitmapError& error) {
                opening.whyNot = std::string("the row reader refused it (") + error.what() + ")";
            }
        }
        if (opening.reader && !opening.upright && settings.autoOrient &&
            ExifOrientation(opening.metadata) != 1) {
            opening.reader.reset();
            opening.whyNot = "its EXIF orientation turns it, which takes the whole picture";
        }
        if (opening.reader) {
            input.rows = std::move(opening.reader);
            input.metadata = std::move(opening.metadata);
            input.warnings = std::move(opening.metadataDropped);
            input.byRows = true;
            input.how = std::move(opening.note);
            PrepareMetadata(input.metadata, input.warnings, settings, opening.upright);
            return input;
        }
        input.how = std::move(opening.whyNot);
        held = (*format)->readWhole(path, read);
        // The program saves an empty picture as an empty file; a batch
        // would report such a file as saved.
        if (held.pixels->IsEmpty())
            return FileFailure(Failure::Side::Input, path, "the file holds no picture");
    }

    // A picture its file turned already must not be turned again, but its
    // EXIF orientation must still become 1, or a viewer would turn it twice.
    bool turned = held.upright;
    if (settings.autoOrient && !held.upright && !held.pixels->IsEmpty()) {
        if (const int orientation = ExifOrientation(held.metadata); orientation != 1) {
            const std::int32_t w = held.pixels->Width(), h = held.pixels->Height();
            ApplyOrientation(*held.pixels, orientation);
            if (!held.alpha.empty()) held.alpha = TurnAlpha(held.alpha, w, h, orientation);
            turned = true;
        }
    }
    input.metadata = std::move(held.metadata);
    input.warnings = std::move(held.warnings);
    PrepareMetadata(input.metadata, input.warnings, settings, turned);
    input.rows = std::make_unique<HeldRowReader>(std::shared_ptr<TBitmap>(std::move(held.pixels)),
                                                 std::move(held.alpha));
    return input;
}

Expected<StampImage> LoadStamp(const std::string& path) {
    Expected<const PictureFormat*> format = FormatToRead(path, Failure::Side::Stamp);
    if (!format) return format.error();
    try {
        // Damage is never accepted in a stamp, which would carry it onto
        // every picture.
        HeldPicture held = (*format)->readWhole(path, {});
        if (!held.pixels->IsEmpty()) held.pixels->SetDepth(Depth24);
        return StampImage{std::move(held.pixels), std::move(held.alpha)};
    } catch (const std::bad_alloc&) {
        return FileFailure(Failure::Side::Stamp, path, "out of memory");
    } catch (const std::exception& error) {
        return FileFailure(Failure::Side::Stamp, path, error.what());
    }
}

void PrepareMetadata(PictureMetadata& metadata, std::vector<std::string>& warnings,
                     const MetadataSettings& settings, bool turned) {
    if (!settings.keep) {
        // Nothing of the file's goes out, but a copyright asked for does.
        metadata = PictureMetadata();
        if (!settings.copyright) return;
    }
    if (metadata.Empty() && !settings.copyright) return;
    MetadataChanges changes;
    changes.copyright = settings.copyright;
    changes.resetOrientation = turned;
    std::vector<std::string> dropped = EditMetadata(metadata, changes);
    warnings.insert(warnings.end(), dropped.begin(), dropped.end());
}

}  // namespace sigillon::batch
