#include "app/usigillon.h"

#include <QCoreApplication>

#include "app/Uabout.h"
#include "app/picture_commands.h"
#include "app/sizing.h"
#include "app/toolkit/application.h"
#include "app/uoverview.h"
#include "app/ustamp.h"
#include "pictures/picture_files.h"
#include "pictures/raster/test_picture.h"
#include "stamping/compositing.h"
#include "stamping/text/text_colours.h"

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
    if (stamping_) {
        // The pass still writes into the view's raster and reads a stamp;
        // the window closes as soon as it has ended.
        closeDeferred_ = true;
        action = TCloseAction::caNone;
        return;
    }
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
    if (stamping_) return;
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
    if (stamping_ || picfile_.isEmpty()) return;
    LoadPictureFile(dm->Picture(), PathOf(picfile_));
    ShowPicture(dm->Picture());
}

void TFsigillon::testclick() {
    if (stamping_) return;
    std::unique_ptr<TBitmap> test = MakeTestPicture();
    dm->Picture().ShareImage(*test);
    test.reset();
    picfile_ = "test";
    SetTitleForFile(picfile_);
    ShowPicture(dm->Picture());
    UpdateEnabledStates(PictureEvent::TestPictureMade);
}

void TFsigillon::btnsaveClick() {
    // A half-stamped picture is not worth a file.
    if (stamping_) return;
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

void TFsigillon::btnmodeClick() {
    std::uint8_t mode = std::uint8_t(std::uint8_t(btnmode->Tag()) + 1);
    if (mode == 9) mode = 0;
    btnmode->setTag(mode);
    std::unique_ptr<TBitmap> glyph = ModeGlyph(*Image1, mode);
    btnmode->SetGlyph(*glyph);
    bool solid = mode < 4;
    btnmode->setToolTip(solid ? "solid stamp" : "watermark");
    btnstamptext->setText(solid ? "Stamp" : "Watermark");
    btnstamp->setText(solid ? "Stamp" : "Watermark");
}

void TFsigillon::btncolorClick() {
    std::uint8_t index = std::uint8_t(std::uint8_t(btncolor->Tag()) + 1);
    if (index == 7) index = 0;
    btncolor->setTag(index);
    stamptext->SetFontColor(kTextColours[index].value);
}

void TFsigillon::UpDown1Click(TUDBtnType) {
    Label1->SetCaption("size " + QString::number(UpDown1->Position()));
}

void TFsigillon::stamptextClick() {
    if (stamptext->text().isEmpty()) stamptext->setText(QStringLiteral("\u00A9"));
}

void TFsigillon::btnopenstampClick() {
    if (stamping_) return;
    if (!opd2.Execute(this)) return;
    LoadPictureFile(*stampbmp_, PathOf(opd2.FileName));
    UpdateEnabledStates(PictureEvent::StampOpened);
}

void TFsigillon::btnstampClick() {
    if (stamping_) return;
    RunStampPass([this] { StampPicture(*stampbmp_, dm->Picture(), StampMode(btnmode->Tag())); });
}

void TFsigillon::btnstamptextClick() {
    if (stamping_ || !fstamp) return;
    TextStampInput input;
    input.font = stamptext->font();
    input.colour = ToQColor(stamptext->FontColor());
    input.background = stamptext->Color();
    input.text = stamptext->text();
    input.sizeFactor = UpDown1->Position();
    // The new raster replaces the last one only once it exists, so a failed
    // render keeps the previous press's.
    textbmp_ = fstamp->RenderTextStamp(input);
    RunStampPass([this] { StampPicture(*textbmp_, dm->Picture(), StampMode(btnmode->Tag())); });
}

template <class Composite>
void TFsigillon::RunStampPass(Composite&& composite) {
    stamping_ = true;
    try {
        composite();
    } catch (...) {
        stamping_ = false;
        RepaintViews();
        if (closeDeferred_) close();
        throw;
    }
    stamping_ = false;
    RepaintViews();
    if (closeDeferred_) close();
}

// Stamps are written straight into the rows, which tells no view; both
// views show the same image and repaint it now.
void TFsigillon::RepaintViews() {
    dm->update();
    if (foverview) foverview->im2->update();
}

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
