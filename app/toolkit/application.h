// The application-wide pieces of the toolkit layer: the application title,
// the guard that every event handler runs in, the plain message box and the
// one-pass event pump.
#pragma once

#include <QString>
#include <exception>
#include <string>

namespace sigillon {

// The title rule for a program file: its name without the directory, cut at
// the first full stop, every letter after the first in lower case.
QString ApplicationTitleFor(const QString& programPath);

// The application's title: shown in the plain message box and the error box.
const QString& ApplicationTitle();
void SetApplicationTitle(const QString& title);

// Shows an error that escaped a handler in the error box. Never throws.
void ShowEscapedError(const std::string& text) noexcept;

// Runs an event handler so that no exception ever unwinds into Qt: an
// escaped error is shown in the error box and the program goes on.
template <class Handler>
void Guard(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowEscapedError(e.what());
    } catch (...) {
        ShowEscapedError("An error of unknown kind occurred.");
    }
}

// Dispatches every pending event (input, repaint) and returns; never waits.
void ProcessMessages();

// The plain message box: modal, the text, one OK button, no icon, centred on
// the screen, titled with the application title.
void ShowPlainMessageBox(const QString& text);

// The error box: as the plain one, with the error icon.
void ShowErrorMessageBox(const QString& text);

}  // namespace sigillon
