// The main window: a panel of command buttons along the top and, below it,
// the scrolling view dm that shows the current picture at full size.
//
// The current picture is the raster of dm; every command works on it in
// place and there is no second copy. The window owns the stamp picture
// (stampbmp) and the text stamp rendered last (textbmp).
#pragma once

#include <QString>
#include <cstdint>
#include <memory>

#include "app/button_states.h"
#include "app/program.h"
#include "app/toolkit/controls.h"
#include "app/toolkit/form.h"
#include "app/toolkit/picture_dialog.h"
#include "pictures/raster/bitmap.h"
#include "ui_usigillon.h"

namespace sigillon {

class Tfstamp;

class TFsigillon : public TForm, public Ui::TFsigillon {
    Q_OBJECT

public:
    explicit TFsigillon(QWidget* parent = nullptr);
    ~TFsigillon() override;

    // Picture commands.
    void btnopenClick();
    void btnreloadClick();
    void testclick();
    void btnsaveClick();
    void btnoverviewClick();
    void btnaboutClick();

    // Stamp controls.
    void btnmodeClick();
    void btncolorClick();
    void UpDown1Click(TUDBtnType button);
    void stamptextClick();
    void btnopenstampClick();
    void btnstampClick();
    void btnstamptextClick();

    // Displays a new picture: hands it to the overview, resets the window to
    // its standard size and the view to the top-left corner, then centres
    // the view and fits the window's height to a picture smaller than
    // minwidth. Every caller passes dm's own raster.
    void ShowPicture(TBitmap& picture);

    // True while a stamp is being composited. Its per-row event pumping
    // delivers the user's next clicks in the middle of it; commands that
    // would replace, resize or free a raster it uses are ignored then, and
    // a close request waits until it has ended.
    bool StampPassRunning() const { return stamping_; }

    const QString& picfile() const { return picfile_; }
    int minwidth() const { return minwidth_; }
    TBitmap& stampbmp() { return *stampbmp_; }
    TBitmap& textbmp() { return *textbmp_; }

    // The file dialogs: open picture, save picture, open stamp.
    TPictureDialog Opd1;
    TPictureDialog spd1;
    TPictureDialog opd2;

protected:
    void FormResize() override;
    void FormClose(TCloseAction& action) override;

private:
    void FormCreate();
    // The one place that enables and disables the command buttons.
    void UpdateEnabledStates(PictureEvent event);
    // Runs a command in the guard; every button reaches its handler here.
    void Bind(TSpeedButton* button, void (TFsigillon::*handler)());
    void SetTitleForFile(const QString& fileName);
    // Runs one stamp command's compositing under the stamp-pass guard, then
    // repaints both views and carries out a close that came meanwhile.
    template <class Composite>
    void RunStampPass(Composite&& composite);
    void RepaintViews();

    bool defined_ = false;  // the definition's controls exist
    QString picfile_;
    std::unique_ptr<TBitmap> stampbmp_;
    std::unique_ptr<TBitmap> textbmp_;
    std::int32_t minwidth_ = 0;
    bool stamping_ = false;
    bool closeDeferred_ = false;
};

// The glyph of a stamp mode cut out of the 288 x 32 mode strip held by
// image: cell mode (pixels 32 * mode to 32 * mode + 31 across), as a new
// 32 x 32 Depth8 raster that the caller owns.
std::unique_ptr<TBitmap> ModeGlyph(const TImage& image, int mode);

// The main window; set by whoever creates it (the program or a test).
extern TFsigillon* Fsigillon;

// The hidden window that renders text stamps; set likewise.
extern Tfstamp* fstamp;

}  // namespace sigillon
