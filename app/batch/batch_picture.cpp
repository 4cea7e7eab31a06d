#include "app/batch/batch_picture.h"

#include <new>
#include <system_error>

#include "pictures/jpeg/jpeg_image.h"
#include "pictures/metadata/metadata_edit.h"
#include "pictures/raster/orientation.h"
#include "pictures/png/png_file.h"
#include "pictures/files/safe_save.h"

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

void LoadJpeg(const std::string& path, bool withMetadata, BatchPicture& picture) {
    TJPEGImage jpeg;
    jpeg.LoadFromFile(path);
    auto pixels = std::make_unique<TBitmap>();
    pixels->ShareImage(jpeg.Bitmap());
    if (withMetadata) {
        picture.metadata = jpeg.Metadata();
        const auto& dropped = jpeg.ReadMetadataWarnings();
        picture.warnings.insert(picture.warnings.end(), dropped.begin(), dropped.end());
    }
    picture.pixels = std::move(pixels);
}

void SaveJpeg(const BatchPicture& picture, const std::string& path,
              std::vector<std::string>& warnings) {
    TJPEGImage jpeg;
    jpeg.Assign(*picture.pixels);
    jpeg.SetCompressionQuality(85);
    jpeg.SetOutputMetadata(picture.metadata);
    jpeg.Compress();
    const auto& left = jpeg.WriteMetadataWarnings();
    warnings.insert(warnings.end(), left.begin(), left.end());
    try {
        SaveFileSafely(path, jpeg.Data().data(), jpeg.Data().size(), "JPEG: ");
    } catch (const std::system_error& error) {
        throw BitmapError(std::string("JPEG: ") + error.what());
    }
}

FileResult Failure(const std::exception& error) { return {FileOutcome::Failed, error.what()}; }

}  // namespace

BatchKind BatchKindOf(const std::string& path) {
    // The program's rule, with the one more type.
    switch (PictureKindOf(path)) {
        case PictureKind::Jpeg: return BatchKind::Jpeg;
        case PictureKind::Bmp: return BatchKind::Bmp;
        case PictureKind::None: break;
    }
    return RuleExtension(path) == ".png" ? BatchKind::Png : BatchKind::None;
}

FileResult LoadBatchPicture(const std::string& path, const MetadataSettings& settings,
                            BatchPicture& picture) {
    picture = BatchPicture();
    const bool withMetadata = settings.keep || settings.autoOrient;
    try {
        switch (BatchKindOf(path)) {
            case BatchKind::None:
                return {FileOutcome::Failed,
                        "the name ends in no picture file type (.jpg, .bmp or .png)"};
            case BatchKind::Bmp: {
                picture.pixels = std::make_unique<TBitmap>();
                FileResult loaded = LoadPictureFileQuiet(*picture.pixels, path);
                if (loaded != FileOutcome::Done) return loaded;
                break;
            }
            case BatchKind::Jpeg: LoadJpeg(path, withMetadata, picture); break;
            case BatchKind::Png: {
                PngPicture png = ReadPngFile(path);
                picture.pixels = std::move(png.pixels);
                picture.alpha = std::move(png.alpha);
                if (withMetadata) picture.metadata = std::move(png.metadata);
                break;
            }
        }
        bool turned = false;
        if (settings.autoOrient && !picture.pixels->IsEmpty()) {
            const int orientation = ExifOrientation(picture.metadata);
            if (orientation != 1) {
                const std::int32_t w = picture.pixels->Width(), h = picture.pixels->Height();
                ApplyOrientation(*picture.pixels, orientation);
                if (!picture.alpha.empty())
                    picture.alpha = TurnAlpha(picture.alpha, w, h, orientation);
                turned = true;
            }
        }
        PrepareMetadata(picture, settings, turned);
        return {};
    } catch (const std::bad_alloc&) {
        return {FileOutcome::Failed, "out of memory"};
    } catch (const std::exception& error) {
        return Failure(error);
    }
}

void PrepareMetadata(BatchPicture& picture, const MetadataSettings& settings, bool turned) {
    if (!settings.keep) {
        // Nothing of the file's goes out, but a copyright asked for does.
        picture.metadata = PictureMetadata();
        if (!settings.copyright) return;
    }
    if (picture.metadata.Empty() && !settings.copyright) return;
    MetadataChanges changes;
    changes.copyright = settings.copyright;
    changes.resetOrientation = turned;
    std::vector<std::string> dropped = EditMetadata(picture.metadata, changes);
    picture.warnings.insert(picture.warnings.end(), dropped.begin(), dropped.end());
}

FileResult SaveBatchPicture(BatchPicture& picture, const std::string& path) {
    try {
        const BatchKind kind = BatchKindOf(path);
        if (kind == BatchKind::Png) {
            WritePngFile(path, *picture.pixels, picture.alpha, picture.metadata);
            return {};
        }
        if (kind == BatchKind::None)
            return {FileOutcome::Failed,
                    "the name ends in no picture file type (.jpg, .bmp or .png)"};
        if (!picture.alpha.empty()) {
            FlattenOnWhite(*picture.pixels, picture.alpha);
            picture.alpha.clear();
        }
        if (kind == BatchKind::Jpeg && !picture.metadata.Empty()) {
            SaveJpeg(picture, path, picture.warnings);
            return {};
        }
        // BMP files carry no metadata; without any, a JPEG is the program's.
        return SavePictureFileQuiet(*picture.pixels, path);
    } catch (const std::bad_alloc&) {
        return {FileOutcome::Failed, "out of memory"};
    } catch (const std::exception& error) {
        return Failure(error);
    }
}

}  // namespace sigillon::batch
