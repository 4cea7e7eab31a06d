#include "app/Uabout.h"

#include <QPalette>

#include "app/program.h"
#include "app/toolkit/application.h"
#include "app/toolkit/design.h"
#include "app/toolkit/desktop.h"

namespace sigillon {

Tfabout* fabout = nullptr;

Tfabout::Tfabout(QWidget* parent) : TForm(parent) {
    setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    FinishDefinition();
    setFixedSize(536, 486);
    SetCentredOnFirstShow(true);
    SetKeyPreview(true);

    Memo1->setPlainText(LoadResourceText(":/text/about.txt"));
    QPalette face = Memo1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    Memo1->setPalette(face);

    connect(Okbtn, &QPushButton::clicked, this, [this] { Guard([this] { OkbtnClick(); }); });
    url->OnClick = [this] { urlClick(); };
}

void Tfabout::FormShow() {
    SetCaption(kProgramTitle);
    Memo1->setFocus();
}

void Tfabout::FormKeyPress(char16_t& key) {
    if (key == 27) {
        key = 0;
        close();
    }
}

void Tfabout::OkbtnClick() { close(); }

void Tfabout::urlClick() { Desktop().ShellOpen(url->text()); }

}  // namespace sigillon
