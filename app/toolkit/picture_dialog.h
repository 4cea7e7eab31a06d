// The picture file dialogs: open and save, each remembering the file name
// and the file type confirmed last.
#pragma once

#include <QString>
#include <vector>

class QWidget;

namespace sigillon {

struct TFileType {
    QString description;  // "JPG (*.jpg)"
    QString pattern;      // "*.jpg"
};

enum class TDialogKind { Open, Save };

class TPictureDialog {
public:
    TPictureDialog(TDialogKind kind, QString title, std::vector<TFileType> filter,
                   QString defaultExt, bool overwritePrompt);

    // Runs the dialog. On confirmation the file name (with the default
    // extension added to a name typed without one) and the chosen file type
    // are kept for the next use, and the result is true. A cancelled dialog
    // keeps its previous file name and type.
    bool Execute(QWidget* owner);

    TDialogKind Kind;
    QString Title;
    std::vector<TFileType> Filter;
    QString DefaultExt;    // without the dot; empty for none
    bool OverwritePrompt;  // ask before replacing an existing file
    QString FileName;      // full path; empty the first time
    int FilterIndex = 1;   // 1-based; the first type the first time
};

// A name typed without an extension gets the default one.
QString WithDefaultExtension(const QString& fileName, const QString& defaultExt);

}  // namespace sigillon
