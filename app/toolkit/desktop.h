// What the windows ask of the person at the desktop and of the desktop
// itself: running a picture file dialog, the plain message box and the error
// box, a pass of event dispatching, and handing a web address to the shell. The program uses the real ones; tests install a
// script that answers instead of a person.
#pragma once

#include <QString>
#include <chrono>
#include <optional>

class QWidget;

namespace sigillon {

class TPictureDialog;

// What the user confirmed in a picture dialog.
struct TDialogAnswer {
    QString fileName;     // full path as typed or chosen
    int filterIndex = 1;  // 1-based index of the file type chosen
};

class TDesktopServices {
public:
    virtual ~TDesktopServices() = default;
    // Runs the dialog with its title, file types, file name and type as set;
    // nothing when the user cancels. Does not change the dialog: remembering
    // the answer is the dialog's own job.
    virtual std::optional<TDialogAnswer> RunPictureDialog(const TPictureDialog& dialog,
                                                          QWidget* owner) = 0;
    // The plain message box; returns when the user closed it.
    virtual void ShowMessage(const QString& text) = 0;
    virtual void ShowErrorBox(const QString& text) = 0;
    // Dispatches pending window events once so the windows repaint during a
    // long stamp pass; asked after every row the pass writes.
    virtual void ProcessMessages() = 0;
    // Asks the platform shell to open a document or web address; the outcome
    // is not examined.
    virtual void ShellOpen(const QString& target) = 0;
};

// The installed services; the real desktop when none is installed.
TDesktopServices& Desktop();

// Installs services (nullptr restores the real desktop); returns the previous.
TDesktopServices* InstallDesktopServices(TDesktopServices* services);

// The real desktop: Qt's own (non-native) file dialog with a preview pane,
// the error message box, QDesktopServices.
class RealDesktop final : public TDesktopServices {
public:
    std::optional<TDialogAnswer> RunPictureDialog(const TPictureDialog& dialog,
                                                  QWidget* owner) override;
    void ShowMessage(const QString& text) override;
    void ShowErrorBox(const QString& text) override;
    // Dispatches at most once a millisecond, however often it is asked.
    void ProcessMessages() override;
    void ShellOpen(const QString& target) override;

private:
    std::chrono::steady_clock::time_point lastPump_{};
};

}  // namespace sigillon
