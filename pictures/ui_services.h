// The two services of the window toolkit that the picture and stamp code
// need: a plain message to the user and one pass of event pumping.
//
// The desktop program installs its toolkit's versions at start-up; the batch
// tool installs one that writes to standard error; tests install one that
// records. Nothing below this interface knows about widgets.
#pragma once

#include <string>

namespace sigillon {

class UiServices {
public:
    virtual ~UiServices() = default;
    // Shows text in a plain message box and returns when the user closed it.
    // May be called from several threads at once by the batch tool.
    virtual void ShowMessage(const std::string& text) = 0;
    // Dispatches every pending window event, then returns without waiting.
    virtual void ProcessMessages() = 0;
};

// The installed services; without an installed one, messages go to standard
// error and pumping does nothing.
UiServices& Ui();

// Installs services (nullptr restores the default) and returns the previous
// ones. Call it before any picture work starts, not while one runs.
UiServices* InstallUiServices(UiServices* services);

}  // namespace sigillon
