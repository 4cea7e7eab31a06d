#include "app/uoverview.h"

#include <QPalette>

#include "app/program.h"

namespace sigillon {

Tfoverview* foverview = nullptr;

Tfoverview::Tfoverview(QWidget* parent) : TForm(parent) {
    setupUi(this);
    setWindowFlags(Qt::Tool);
    move(633, 1);
    // White wherever no picture is drawn.
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::white);
    setPalette(background);
    setAutoFillBackground(true);
    FinishDefinition();
    im2->OnClick = [this] { im2Click(); };
    defined_ = true;
    FormCreate();
}

void Tfoverview::FormCreate() {
    SetCaption(Caption() + " - " + kProgramTitle);
    AspectRatio = 1.0L;
}

void Tfoverview::TakePicture(const TBitmap* picture) {
    if (!picture || picture->Width() == 0 || picture->Height() == 0) return;
    im2->Picture().ShareImage(*picture);
    AspectRatio = AspectRatioOf(picture->Width(), picture->Height());
    im2Click();
}

void Tfoverview::im2Click() {
    ClientSize snapped = SnapToAspect({ClientWidth(), ClientHeight()}, AspectRatio);
    SetClientSize(snapped.width, snapped.height);
}

void Tfoverview::FormResize() {
    if (!defined_) return;
    ClientSize least = OverviewMinimum({ClientWidth(), ClientHeight()});
    if (least.width != ClientWidth()) SetClientWidth(least.width);
    if (least.height != ClientHeight()) SetClientHeight(least.height);
}

}  // namespace sigillon
