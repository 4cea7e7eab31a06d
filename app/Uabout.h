// The about window: a fixed modal dialog with the logo, the web address
// (a click hands it to the browser) and a read-only text on the program.
// OK and Esc close it; Enter does not.
#pragma once

#include "app/toolkit/form.h"
#include "ui_Uabout.h"

namespace sigillon {

class Tfabout : public TForm, public Ui::Tfabout {
    Q_OBJECT

public:
    explicit Tfabout(QWidget* parent = nullptr);

    void OkbtnClick();
    void urlClick();

protected:
    void FormShow() override;
    void FormKeyPress(char16_t& key) override;
};

// The about window; set by whoever creates it (the program or a test).
extern Tfabout* fabout;

}  // namespace sigillon
