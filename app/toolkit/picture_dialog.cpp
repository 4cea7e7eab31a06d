#include "app/toolkit/picture_dialog.h"

#include <algorithm>
#include <utility>

#include "app/toolkit/desktop.h"

namespace sigillon {

TPictureDialog::TPictureDialog(TDialogKind kind, QString title, std::vector<TFileType> filter,
                               QString defaultExt, bool overwritePrompt)
    : Kind(kind),
      Title(std::move(title)),
      Filter(std::move(filter)),
      DefaultExt(std::move(defaultExt)),
      OverwritePrompt(overwritePrompt) {}

bool TPictureDialog::Execute(QWidget* owner) {
    std::optional<TDialogAnswer> answer = Desktop().RunPictureDialog(*this, owner);
    if (!answer) return false;
    FileName = WithDefaultExtension(answer->fileName, DefaultExt);
    int types = std::max<int>(1, int(Filter.size()));
    FilterIndex = std::clamp(answer->filterIndex, 1, types);
    return true;
}

QString WithDefaultExtension(const QString& fileName, const QString& defaultExt) {
    if (fileName.isEmpty() || defaultExt.isEmpty()) return fileName;
    qsizetype slash = std::max(fileName.lastIndexOf('/'), fileName.lastIndexOf('\\'));
    if (fileName.indexOf('.', slash + 1) >= 0) return fileName;
    return fileName + '.' + defaultExt;
}

}  // namespace sigillon
