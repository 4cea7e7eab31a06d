#include "pictures/picture_files.h"

#include <new>

#include "pictures/jpeg/jpeg_image.h"
#include "pictures/files/safe_save.h"

namespace sigillon {
namespace {

// Folder separators of the paths the rule was made for, besides ours.
constexpr const char* kDelimiters = "/\\:";

void LoadJpeg(TBitmap& picture, const std::string& path) {
    TJPEGImage jpeg;
    jpeg.LoadFromFile(path);
    // Sharing comes last, so a failure above leaves the picture as it was.
    picture.ShareImage(jpeg.Bitmap());
}

void SaveJpeg(const TBitmap& picture, const std::string& path) {
    TJPEGImage jpeg;
    jpeg.Assign(picture);
    jpeg.SetCompressionQuality(kSavedJpegQuality);
    // Encoded whole before the file is touched.
    jpeg.Compress();
    SaveFileSafely(path, jpeg.Data().data(), jpeg.Data().size(), "JPEG: ");
}

}  // namespace

std::string RuleExtension(const std::string& path) {
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos) return {};
    std::size_t delimiter = path.find_last_of(kDelimiters);
    if (delimiter != std::string::npos && dot < delimiter) return {};

    // Only A to Z are lowered: other bytes of a name stay as they are.
    std::string extension = path.substr(dot, 4);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return extension;
}

PictureKind PictureKindOf(const std::string& path) {
    const std::string extension = RuleExtension(path);
    if (extension == ".jpg") return PictureKind::Jpeg;
    if (extension == ".bmp") return PictureKind::Bmp;
    return PictureKind::None;
}

std::string FileNamePart(const std::string& path) {
    std::size_t delimiter = path.find_last_of(kDelimiters);
    return delimiter == std::string::npos ? path : path.substr(delimiter + 1);
}

std::string WrongFormatMessage(const std::string& path) { return path + " - Error: wrong format"; }

std::string FailureMessage(const std::string& path, const FileResult& result) {
    std::string message = WrongFormatMessage(path);
    if (!result.reason.empty()) message += " (" + result.reason + ")";
    return message;
}

FileResult LoadPictureFileQuiet(TBitmap& picture, const std::string& path) {
    PictureKind kind = PictureKindOf(path);
    if (kind == PictureKind::None) return {FileOutcome::Ignored, {}};
    try {
        if (kind == PictureKind::Jpeg) LoadJpeg(picture, path);
        if (kind == PictureKind::Bmp) picture.ReadBmpFile(path);
        return {};
    } catch (const std::bad_alloc&) {
        return {FileOutcome::Failed, "out of memory"};
    } catch (const std::exception& error) {
        return {FileOutcome::Failed, error.what()};
    } catch (...) {
        return {FileOutcome::Failed, {}};
    }
}

FileResult SavePictureFileQuiet(const TBitmap& picture, const std::string& path) {
    if (path.empty()) return {FileOutcome::Ignored, {}};
    PictureKind kind = PictureKindOf(path);
    // Writing nothing under a name the user chose would pass for a save.
    if (kind == PictureKind::None)
        return {FileOutcome::Failed, "the name ends in no picture file type (.jpg or .bmp)"};
    try {
        if (kind == PictureKind::Jpeg) SaveJpeg(picture, path);
        if (kind == PictureKind::Bmp) picture.WriteBmpFile(path);
        return {};
    } catch (const std::bad_alloc&) {
        return {FileOutcome::Failed, "out of memory"};
    } catch (const std::exception& error) {
        return {FileOutcome::Failed, error.what()};
    } catch (...) {
        return {FileOutcome::Failed, {}};
    }
}

}  // namespace sigillon
