#include "app/usigillon.h"

#include <QCoreApplication>

#include "app/Uabout.h"
#include "app/sizing.h"
#include "app/toolkit/application.h"
#include "app/uoverview.h"
#include "pictures/picture_files.h"
#include "pictures/test_picture.h"

namespace sigillon {

TFsigillon* Fsigillon = nullptr;
Tfstamp* fstamp = nullptr;

namespace {

std::string PathOf(const QString& fileName) { return fileName.toStdString(); }

}  // namespace

TFsigillon::TFsigillon(QWidget* parent)
    : TForm(parent),
      Opd1(TDialogKind::Open, "邮票以打开图片",
           {{"JPG (*.jpg)", "*.jpg"}, {"BMP (*.bmp)", "*.bmp"}, {"所有文件 (*.*)", "*.*"}}, "jpg",
           false),
      spd1(TDialogKind::Save, "保存为图片...",
           {{"JPG (*.jpg)", "*.jpg"}, {"BMP (*.bmp)", "*.bmp"}, {"All Files (*.*)", "*.*"}}, "jpg",
           true),
      opd2(TDialogKind::Open, "打开一张邮票",
           {{"BMP (*.bmp)", "*.bmp"}, {"JPG (*.jpg)", "*.jpg"}, {"所有文件 (*.*)", "*.*"}}, "",
           false),
      stampbmp_(std::make_unique<TBitmap>()),
      textbmp_(std::make_unique<TBitmap>()) {
    setupUi(this);
    FinishDefinition();
    defined_ = true;

    Bind(btnopen, &TFsigillon::btnopenClick);
    Bind(btnreload, &TFsigillon::btnreloadClick);
    Bind(btntest, &TFsigillon::testclick);
    Bind(btnoverview, &TFsigillon::btnoverviewClick);
    Bind(btnsave, &TFsigillon::btnsaveClick);
    Bind(btnabout, &TFsigillon::btnaboutClick);
    Bind(btnmode, &TFsigillon::btnmodeClick);
    Bind(btncolor, &TFsigillon::btncolorClick);
    Bind(btnopenstamp, &TFsigillon::btnopenstampClick);
    Bind(btnstamp, &TFsigillon::btnstampClick);
    Bind(btnstamptext, &TFsigillon::btnstamptextClick);
    UpDown1->OnClick = [this](TUDBtnType button) { UpDown1Click(button); };
    stamptext->OnClick = [this] { stamptextClick(); };

    Guard([this] { FormCreate(); });
}

TFsigillon::~TFsigillon() = default;

void TFsigillon::Bind(TSpeedButton* button, void (TFsigillon::*handler)()) {
    connect(button, &QAbstractButton::clicked, this,
            [this, handler] { Guard([this, handler] { (this->*handler)(); }); });
}

void TFsigillon::FormCreate() {
    SetCaption(kProgramTitle);
    minwidth_ = btnabout->x() + btnabout->width() + 20;
    ClientSize standard = StandardClientSize(minwidth_);
    SetClientSize(standard.width, standard.height);

    dm->resize(dm->width(), 0);
    dm->Picture().SetWidth(0);
    dm->Picture().SetHeight(0);

    textbmp_ = std::make_unique<TBitmap>();
    stampbmp_ = std::make_unique<TBitmap>();

    std::unique_ptr<TBitmap> glyph = ModeGlyph(*Image1, 0);
    btnmode->SetGlyph(*glyph);
    btnmode->setToolTip("solid stamp");
    UpdateEnabledStates(PictureEvent::Start);
}

void TFsigillon::FormResize() {
    if (!defined_) return;
    ClientSize least =
        MainWindowMinimum({ClientWidth(), ClientHeight()}, minwidth_, Panel1->height());
    if (least.width != ClientWidth()) SetClientWidth(least.width);
    if (least.height != ClientHeight()) SetClientHeight(least.height);
}

void TFsigillon::FormClose(TCloseAction& action) {
    // The rasters' storage goes now; the fields stay valid, empty rasters.
    stampbmp_ = std::make_unique<TBitmap>();
    textbmp_ = std::make_unique<TBitmap>();
    action = TCloseAction::caHide;
    QCoreApplication::quit();
}

void TFsigillon::ShowPicture(TBitmap& picture) {
    if (foverview) foverview->TakePicture(&picture);
    ClientSize standard = StandardClientSize(minwidth_);
    SetClientSize(standard.width, standard.height);
    ScrollBox1->SetHorzPosition(0);
    ScrollBox1->SetVertPosition(0);
    dm->move(0, 0);
    // Sharing the raster with itself changes no pixel; the notification
    // makes the view take the picture's size and repaint.
    dm->Picture().ShareImage(picture);
    if (picture.Width() < minwidth_) {
        if (std::optional<int> left = CentredLeft(ScrollBox1->width(), dm->width()))
            dm->move(*left, 0);
        if (std::optional<int> height =
                FittedClientHeight(dm->height(), Panel1->height(), minwidth_))
            SetClientHeight(*height);
    }
}

void TFsigillon::SetTitleForFile(const QString& fileName) {
    SetCaption(kProgramTitle + " - " + QString::fromStdString(FileNamePart(PathOf(fileName))));
}

void TFsigillon::UpdateEnabledStates(PictureEvent event) {
    EnabledStates states =
        EnabledStatesAfter(event, !stampbmp_->IsEmpty(), !dm->Picture().IsEmpty());
    auto apply = [](QWidget* control, std::optional<bool> enabled) {
        if (enabled) control->setEnabled(*enabled);
    };
    apply(btnreload, states.reload);
    apply(btnoverview, states.overview);
    apply(btnsave, states.save);
    apply(btnstamptext, states.stampText);
    apply(btnstamp, states.stamp);
}

void TFsigillon::btnopenClick() {
    Opd1.FileName.clear();
    Opd1.Title = "Select the picture to stamp";
    if (!Opd1.Execute(this)) return;
    // A failed load has shown its message; the window goes on as after a
    // successful one and shows the picture as the load left it.
    LoadPictureFile(dm->Picture(), PathOf(Opd1.FileName));
    picfile_ = Opd1.FileName;
    SetTitleForFile(picfile_);
    ShowPicture(dm->Picture());
    UpdateEnabledStates(PictureEvent::PictureOpened);
}

void TFsigillon::btnreloadClick() {
    if (picfile_.isEmpty()) return;
    LoadPictureFile(dm->Picture(), PathOf(picfile_));
    ShowPicture(dm->Picture());
}

void TFsigillon::testclick() {
    std::unique_ptr<TBitmap> test = MakeTestPicture();
    dm->Picture().ShareImage(*test);
    test.reset();
    picfile_ = "test";
    SetTitleForFile(picfile_);
    ShowPicture(dm->Picture());
    UpdateEnabledStates(PictureEvent::TestPictureMade);
}

void TFsigillon::btnsaveClick() {
    if (!spd1.Execute(this)) return;
    picfile_ = spd1.FileName;
    SavePictureFile(dm->Picture(), PathOf(picfile_));
    SetTitleForFile(picfile_);
}

void TFsigillon::btnoverviewClick() {
    if (!foverview) return;
    foverview->setVisible(!foverview->isVisible());
    if (foverview->isVisible()) foverview->TakePicture(&dm->Picture());
}

void TFsigillon::btnaboutClick() {
    if (fabout) fabout->ShowModal();
}

// The stamp controls are placed and in their initial state; the stamp
// commands give them their work.
void TFsigillon::btnmodeClick() {}
void TFsigillon::btncolorClick() {}
void TFsigillon::UpDown1Click(TUDBtnType) {}
void TFsigillon::stamptextClick() {}
void TFsigillon::btnopenstampClick() {}
void TFsigillon::btnstampClick() {}
void TFsigillon::btnstamptextClick() {}

std::unique_ptr<TBitmap> ModeGlyph(const TImage& image, int mode) {
    auto glyph = std::make_unique<TBitmap>();
    glyph->SetWidth(32);
    glyph->SetHeight(32);
    glyph->SetDepth(Depth8);
    const TBitmap& strip = image.Picture();
    for (int x = 0; x < 32; ++x)
        for (int y = 0; y < 32; ++y) glyph->SetPixelAt(x, y, strip.PixelAt(32 * mode + x, y));
    return glyph;
}

}  // namespace sigillon
