// Loading and saving pictures by the file name's extension.
//
// ".jpg" (any letter case, the extension cut to 4 characters) means JPEG,
// ".bmp" means BMP. Loading any other extension is ignored; saving under any
// other extension fails, because silently writing nothing would lose the
// user's stamps. These routines show nothing: they say what happened and
// why, and the caller decides what a user sees.
#pragma once

#include <string>

#include "pictures/raster/bitmap.h"

namespace sigillon {

enum class PictureKind { None, Jpeg, Bmp };

// The quality JPEG files are saved at.
inline constexpr int kSavedJpegQuality = 85;

// The extension rule: from the last '.' after the last '/', '\' or ':'.
PictureKind PictureKindOf(const std::string& path);

// The extension as the rule compares it: cut to 4 characters, A to Z
// lowered; empty when the name has none.
std::string RuleExtension(const std::string& path);

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

// What a file routine did, and for a failure why, in the reader's or the
// system's own words ("BMP: 2 bits per pixel are not supported",
// "JPEG: cannot open a.jpg: Permission denied").
struct FileResult {
    FileOutcome outcome = FileOutcome::Done;
    std::string reason;

    bool operator==(FileOutcome other) const { return outcome == other; }
};

// WrongFormatMessage(path), followed by " (reason)" when the result has one.
std::string FailureMessage(const std::string& path, const FileResult& result);

// Loading leaves the picture untouched unless it returns Done.
FileResult LoadPictureFileQuiet(TBitmap& picture, const std::string& path);
FileResult SavePictureFileQuiet(const TBitmap& picture, const std::string& path);

}  // namespace sigillon
