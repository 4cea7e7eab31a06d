// The overview window: the whole current picture stretched into a small
// tool window. Its picture shares the main view's image record, so stamps
// written into the main picture's rows show here once it repaints. A click
// on the picture snaps the client area to the picture's proportions.
#pragma once

#include "app/sizing.h"
#include "app/toolkit/form.h"
#include "pictures/raster/bitmap.h"
#include "ui_uoverview.h"

namespace sigillon {

class Tfoverview : public TForm, public Ui::Tfoverview {
    Q_OBJECT

public:
    explicit Tfoverview(QWidget* parent = nullptr);

    // Shows the picture (sharing its pixels) and snaps to its proportions;
    // an absent or empty picture changes nothing.
    void TakePicture(const TBitmap* picture);

    // The snap, also run by a click on the picture.
    void im2Click();

    // Width / height of the last picture taken; 1 until the first.
    AspectRatioValue AspectRatio = 1.0L;

protected:
    void FormResize() override;

private:
    void FormCreate();

    bool defined_ = false;
};

// The overview window; set by whoever creates it (the program or a test).
extern Tfoverview* foverview;

}  // namespace sigillon
