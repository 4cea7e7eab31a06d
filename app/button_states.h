// Which command buttons of the main window are enabled: the one table that
// decides it. Only the events below change an enabled state; every other
// command leaves them as they are.
#pragma once

#include <optional>

namespace sigillon {

enum class PictureEvent {
    Start,            // the window was just created
    PictureOpened,    // the open dialog was confirmed (whether or not the load worked)
    TestPictureMade,  // the test picture is shown
    StampOpened,      // the stamp dialog was confirmed (whether or not the load worked)
};

// A state for each button; none where the event leaves the button alone.
struct EnabledStates {
    std::optional<bool> reload, overview, save, stampText, stamp;
    bool operator==(const EnabledStates&) const = default;
};

// stampLoaded: the stamp picture is not empty; pictureLoaded: the view's
// picture is not empty.
EnabledStates EnabledStatesAfter(PictureEvent event, bool stampLoaded, bool pictureLoaded);

}  // namespace sigillon
