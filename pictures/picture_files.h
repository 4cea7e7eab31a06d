// Loading and saving pictures by the file name's extension.
//
// ".jpg" (any letter case, the extension cut to 4 characters) means JPEG,
// ".bmp" means BMP. Loading any other extension is silently ignored; saving
// under any other extension is refused with the message, because silently
// writing nothing would lose the user's stamps.
#pragma once

#include <string>

#include "pictures/bitmap.h"

namespace sigillon {

enum class PictureKind { None, Jpeg, Bmp };

// The extension rule: from the last '.' after the last '/', '\' or ':'.
PictureKind PictureKindOf(const std::string& path);

// The text after the last '/', '\' or ':' of a path.
std::string FileNamePart(const std::string& path);

// The one message every failure shows: the path followed by
// " - Error: wrong format".
std::string WrongFormatMessage(const std::string& path);

enum class FileOutcome {
    Done,     // the file was read or written
    Ignored,  // empty path, or an extension that loading ignores
    Failed,   // anything went wrong; nothing was changed
};

// Quiet forms: no message, the outcome tells. Loading leaves the picture
// untouched unless it returns Done.
FileOutcome LoadPictureFileQuiet(TBitmap& picture, const std::string& path);
FileOutcome SavePictureFileQuiet(const TBitmap& picture, const std::string& path);

// The program's forms: a failure shows WrongFormatMessage(path) through
// Ui().ShowMessage and the routine returns normally.
void LoadPictureFile(TBitmap& picture, const std::string& path);
void SavePictureFile(const TBitmap& picture, const std::string& path);

}  // namespace sigillon
