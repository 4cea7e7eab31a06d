#include "app/picture_commands.h"

#include <QString>

#include "app/toolkit/desktop.h"
#include "pictures/picture_files.h"

namespace sigillon {
namespace {

void Show(const std::string& text) { Desktop().ShowMessage(QString::fromStdString(text)); }

}  // namespace

void LoadPictureFile(TBitmap& picture, const std::string& path) {
    // The user is told the one message the program promises; the reason is
    // for the batch tool's longer lines.
    if (LoadPictureFileQuiet(picture, path) == FileOutcome::Failed) Show(WrongFormatMessage(path));
}

void SavePictureFile(const TBitmap& picture, const std::string& path) {
    if (SavePictureFileQuiet(picture, path) == FileOutcome::Failed) Show(WrongFormatMessage(path));
}

bool StampFits(const TBitmap& stamp, const TBitmap& picture) {
    std::optional<std::string> refusal = StampRefusal(stamp, picture);
    if (refusal) Show(*refusal);
    return !refusal;
}

void StampPicture(TBitmap& stamp, TBitmap& picture, StampMode mode) {
    if (!StampFits(stamp, picture)) return;
    // Checked above, so the pass itself refuses nothing.
    ApplyStamp(stamp, picture, mode, [] { Desktop().ProcessMessages(); });
}

}  // namespace sigillon
