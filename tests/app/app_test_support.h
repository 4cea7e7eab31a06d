// What the window tests share: a desktop that answers dialogs from a
// script, pictures written to a private folder, and the windows of the
// program created in their order.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Uabout.h"
#include "app/toolkit/desktop.h"
#include "app/toolkit/picture_dialog.h"
#include "app/uoverview.h"
#include "app/usigillon.h"
#include "pictures/raster/bitmap.h"

namespace sigillon::testing {

// Answers every picture dialog from a queue and records what the dialog
// looked like when it opened; records message boxes, error boxes and shell
// requests, and counts event dispatches without dispatching.
//
// With realDialogs on, the picture dialogs are Qt's own, as in the program,
// for a test that drives them (WhenFileDialogOpens) like a user.
class ScriptedDesktop : public TDesktopServices {
public:
    ScriptedDesktop() : previous_(InstallDesktopServices(this)) {}
    ~ScriptedDesktop() override { InstallDesktopServices(previous_); }

    struct Shown {
        TDialogKind kind;
        QString title;
        QString fileName;
        int filterIndex;
        QString defaultExt;
        bool overwritePrompt;
        std::vector<QString> descriptions;
    };

    // A confirmed answer: the name the user typed and the type chosen.
    void Confirm(const QString& fileName, int filterIndex = 1) {
        answers.push_back(TDialogAnswer{fileName, filterIndex});
    }
    void Cancel() { answers.push_back(std::nullopt); }

    std::optional<TDialogAnswer> RunPictureDialog(const TPictureDialog& dialog,
                                                  QWidget* owner) override {
        Shown shown{dialog.Kind,      dialog.Title,      dialog.FileName, dialog.FilterIndex,
                    dialog.DefaultExt, dialog.OverwritePrompt, {}};
        for (const TFileType& type : dialog.Filter) shown.descriptions.push_back(type.description);
        dialogs.push_back(shown);
        if (realDialogs) return RealDesktop().RunPictureDialog(dialog, owner);
        if (answers.empty()) {
            ADD_FAILURE() << "a dialog opened that the test did not expect: "
                          << dialog.Title.toStdString();
            return std::nullopt;
        }
        std::optional<TDialogAnswer> answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void ShowMessage(const QString& text) override { messages.push_back(text.toStdString()); }
    void ShowErrorBox(const QString& text) override { errors.push_back(text); }
    void ProcessMessages() override {
        ++pumps;
        if (onPump) onPump();
    }
    void ShellOpen(const QString& target) override { opened.push_back(target); }

    std::deque<std::optional<TDialogAnswer>> answers;
    std::vector<Shown> dialogs;
    std::vector<std::string> messages;
    std::vector<QString> errors;
    std::vector<QString> opened;
    int pumps = 0;
    std::function<void()> onPump;  // runs inside each dispatch, like a nested event
    bool realDialogs = false;

private:
    TDesktopServices* previous_;
};

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// Runs steps on Qt's file dialog once it is open; a dialog that stays open
// is rejected after a while and fails the test.
void WhenFileDialogOpens(std::function<void(QFileDialog&)> steps);

// A Depth24 picture whose pixel (x, y) has blue x, green y, red 0x40 (the
// low bytes), so every place in it can be recognised.
std::unique_ptr<TBitmap> MakeRampPicture(int width, int height);

// The program's windows, created in the program's order with the main
// window shown, plus a scripted desktop, a recording message box and a
// private folder for picture files.
class ProgramWindows : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Writes a picture as a BMP file in the private folder; returns its path.
    QString WritePicture(const QString& name, int width, int height);
    QString PathIn(const QString& name) const { return folder.filePath(name); }

    // Opens a file through btnopen with the scripted dialog.
    void OpenThroughDialog(const QString& path);

    // Pumps events until the windows have settled.
    static void Settle();

    QTemporaryDir folder;
    ScriptedDesktop desktop;
    std::unique_ptr<TFsigillon> mainWindow;
    std::unique_ptr<Tfabout> aboutWindow;
    std::unique_ptr<Tfoverview> overviewWindow;
};

}  // namespace sigillon::testing
