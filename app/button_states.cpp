#include "app/button_states.h"

namespace sigillon {

EnabledStates EnabledStatesAfter(PictureEvent event, bool stampLoaded, bool pictureLoaded) {
    switch (event) {
        case PictureEvent::Start: return {false, true, false, false, false};
        case PictureEvent::PictureOpened: return {true, true, true, true, stampLoaded};
        // A test picture has no file to reload.
        case PictureEvent::TestPictureMade: return {false, true, true, true, stampLoaded};
        // Stamping needs a picture; an empty stamp is refused when pressed.
        case PictureEvent::StampOpened: return {{}, {}, {}, {}, pictureLoaded};
    }
    return {};
}

}  // namespace sigillon
