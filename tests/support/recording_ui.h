// A UiServices for tests: records every message and counts event pumps.
// Installed for the lifetime of the object.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "pictures/ui_services.h"

namespace sigillon::testing {

class RecordingUi : public UiServices {
public:
    RecordingUi() : previous_(InstallUiServices(this)) {}
    ~RecordingUi() override { InstallUiServices(previous_); }

    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void ProcessMessages() override {
        ++pumps;
        if (onPump) onPump();
    }

    std::vector<std::string> messages;
    int pumps = 0;
    std::function<void()> onPump;  // runs inside each pump, like a nested event

private:
    UiServices* previous_;
};

}  // namespace sigillon::testing
