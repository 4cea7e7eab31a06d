// The toolkit layer's behaviour that the windows rely on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontInfo>
#include <QImage>
#include <QListView>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <stdexcept>

#include "app/toolkit/application.h"
#include "app/toolkit/controls.h"
#include "app/toolkit/design.h"
#include "app/toolkit/desktop.h"
#include "app/toolkit/form.h"
#include "app/toolkit/image.h"
#include "app/toolkit/picture_preview.h"
#include "app/toolkit/raster_paint.h"
#include "app/toolkit/speed_button.h"
#include "pictures/picture_files.h"
#include "tests/app/app_test_support.h"

namespace sigillon {
namespace {

using testing::MakeRampPicture;
using testing::PaintCounter;
using testing::ScriptedDesktop;
using testing::WhenFileDialogOpens;

QImage Canvas(int width, int height) {
    QImage canvas(width, height, QImage::Format_RGB32);
    canvas.fill(QColor(255, 0, 255));
    return canvas;
}

TEST(PaintPicture, PaintsOnlyTheExposedPartAtFullSize) {
    std::unique_ptr<TBitmap> picture = MakeRampPicture(40, 30);
    QImage canvas = Canvas(50, 40);
    {
        QPainter painter(&canvas);
        PaintPicture(painter, *picture, QRect(35, 20, 10, 15));  // reaches past the picture
    }
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 50; ++x) {
            bool exposed = x >= 35 && x < 40 && y >= 20 && y < 30;
            QRgb expected = exposed ? ScreenColor(picture->PixelAt(x, y)) : qRgb(255, 0, 255);
            ASSERT_EQ(canvas.pixel(x, y), expected) << x << "," << y;
        }
}

TEST(PaintPicture, StretchSamplesNearestWithoutBlending) {
    std::unique_ptr<TBitmap> picture = MakeRampPicture(10, 10);
    QImage canvas = Canvas(3, 3);
    {
        QPainter painter(&canvas);
        PaintPictureStretched(painter, *picture, QSize(3, 3), QRect(0, 0, 3, 3));
    }
    const int taken[] = {0, 3, 6};  // floor(i * 10 / 3)
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(canvas.pixel(x, y), ScreenColor(picture->PixelAt(taken[x], taken[y])));

    // Enlarged, every pixel is repeated; only the exposed rows are drawn.
    QImage big = Canvas(20, 20);
    {
        QPainter painter(&big);
        PaintPictureStretched(painter, *picture, QSize(20, 20), QRect(0, 4, 20, 2));
    }
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            QRgb expected = (y == 4 || y == 5) ? ScreenColor(picture->PixelAt(x / 2, y / 2))
                                                : qRgb(255, 0, 255);
            ASSERT_EQ(big.pixel(x, y), expected) << x << "," << y;
        }
}

TEST(Image, AutoSizeFollowsNonEmptyPicturesAndRepaintsOnChange) {
    QWidget window;
    window.resize(300, 200);
    TImage image(&window);
    image.setGeometry(0, 0, 145, 97);
    image.setAutoSize(true);
    window.show();
    PaintCounter counter;
    image.installEventFilter(&counter);
    QApplication::processEvents();

    image.Picture().SetWidth(0);  // an empty picture leaves the size alone
    EXPECT_EQ(image.size(), QSize(145, 97));

    int before = counter.paints;
    std::unique_ptr<TBitmap> picture = MakeRampPicture(60, 20);
    image.Picture().ShareImage(*picture);
    EXPECT_EQ(image.size(), QSize(60, 20));
    QApplication::processEvents();
    EXPECT_GT(counter.paints, before);

    // Rows written straight into the picture send no notification.
    before = counter.paints;
    image.Picture().RowAddress(0)[0] = 0;
    QApplication::processEvents();
    EXPECT_EQ(counter.paints, before);
    image.update();
    QApplication::processEvents();
    EXPECT_GT(counter.paints, before);
}

TEST(Image, ShowsThePictureAndReportsClicks) {
    TImage image;
    std::unique_ptr<TBitmap> picture = MakeRampPicture(16, 8);
    image.Picture().ShareImage(*picture);
    image.resize(16, 8);
    QImage shot = image.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.pixel(5, 3), ScreenColor(picture->PixelAt(5, 3)));

    image.setStretch(true);
    image.resize(32, 16);
    shot = image.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.pixel(11, 7), ScreenColor(picture->PixelAt(5, 3)));

    int clicks = 0;
    image.OnClick = [&] { ++clicks; };
    QTest::mouseClick(&image, Qt::LeftButton, {}, QPoint(3, 3));
    EXPECT_EQ(clicks, 1);
}

TEST(SpeedButton, KeepsItsOwnGlyphWithTheBottomLeftColourSeeThrough) {
    auto glyph = std::make_unique<TBitmap>();
    glyph->SetDepth(Depth24);
    glyph->SetWidth(4);
    glyph->SetHeight(3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) glyph->SetPixelAt(x, y, 0x000000FF);  // red
    glyph->SetPixelAt(1, 1, 0x00FF0000);                                 // one blue pixel

    TSpeedButton button;
    button.SetGlyph(*glyph);
    glyph.reset();
    ASSERT_EQ(button.Glyph().size(), QSize(4, 3));
    EXPECT_EQ(qAlpha(button.Glyph().pixel(0, 2)), 0);
    EXPECT_EQ(qAlpha(button.Glyph().pixel(3, 0)), 0);
    EXPECT_EQ(button.Glyph().pixel(1, 1), qRgb(0, 0, 255));

    // A 1-bit glyph: white is see-through whatever its corner holds.
    TBitmap mono;
    mono.SetDepth(Depth1);
    mono.SetWidth(2);
    mono.SetHeight(2);
    mono.SetPixelAt(0, 1, clBlack);
    button.SetGlyph(mono);
    EXPECT_EQ(qAlpha(button.Glyph().pixel(1, 0)), 0);
    EXPECT_EQ(button.Glyph().pixel(0, 1), qRgb(0, 0, 0));

    button.SetGlyph(TBitmap());
    EXPECT_TRUE(button.Glyph().isNull());
}

TEST(SpeedButton, DisabledDrawsGreyed) {
    TBitmap glyph;
    glyph.SetDepth(Depth24);
    glyph.SetWidth(20);
    glyph.SetHeight(20);
    for (int y = 0; y < 19; ++y)
        for (int x = 1; x < 20; ++x) glyph.SetPixelAt(x, y, 0x00FF0000);  // blue, white corner
    TSpeedButton button;
    button.resize(60, 60);
    button.SetGlyph(glyph);
    auto countBlue = [&] {
        QImage shot = button.grab().toImage().convertToFormat(QImage::Format_RGB32);
        int blue = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) blue += shot.pixel(x, y) == qRgb(0, 0, 255);
        return blue;
    };
    EXPECT_EQ(countBlue(), 19 * 19);
    button.setEnabled(false);
    EXPECT_EQ(countBlue(), 0);
}

TEST(SpeedButton, TagIsASigned32BitNumber) {
    TSpeedButton button;
    EXPECT_EQ(button.Tag(), 0);
    button.setTag(INT32_MIN);
    EXPECT_EQ(button.Tag(), INT32_MIN);
    EXPECT_EQ(button.focusPolicy(), Qt::NoFocus);
}

TEST(UpDown, StaysInRangeAndReportsOnlyChanges) {
    TUpDown upDown;
    upDown.setOrientation(Qt::Horizontal);
    upDown.setMin(1);
    upDown.setMax(9);
    upDown.setPosition(3);
    std::vector<int> reported;
    upDown.OnClick = [&](TUDBtnType) { reported.push_back(upDown.Position()); };

    for (int i = 0; i < 7; ++i) upDown.NextButton()->click();
    EXPECT_EQ(upDown.Position(), 9);
    EXPECT_EQ(reported, (std::vector<int>{4, 5, 6, 7, 8, 9}));

    reported.clear();
    for (int i = 0; i < 10; ++i) upDown.PrevButton()->click();
    EXPECT_EQ(upDown.Position(), 1);
    EXPECT_EQ(reported.size(), 8u);
    upDown.Press(TUDBtnType::btPrev);
    EXPECT_EQ(upDown.Position(), 1);  // no wrap-around
    EXPECT_EQ(reported.size(), 8u);

    upDown.setWrap(true);
    upDown.Press(TUDBtnType::btPrev);
    EXPECT_EQ(upDown.Position(), 9);
    // The right arrow increases in a horizontal control.
    EXPECT_EQ(upDown.NextButton()->arrowType(), Qt::RightArrow);
}

TEST(Edit, RefusesThe65thCharacterAndKeepsTextUnselected) {
    TEdit edit;
    edit.setMaxLength(64);
    edit.show();
    QTest::keyClicks(&edit, QString(65, 'x'));
    EXPECT_EQ(edit.text().size(), 64);

    QFocusEvent focus(QEvent::FocusIn, Qt::TabFocusReason);
    QApplication::sendEvent(&edit, &focus);
    EXPECT_FALSE(edit.hasSelectedText());
    // What a plain line edit would do on the same event.
    QLineEdit plain("abc");
    QApplication::sendEvent(&plain, &focus);
    EXPECT_TRUE(plain.hasSelectedText());

    edit.SetFontColor(0x00FF0000);
    EXPECT_EQ(edit.FontColor(), 0x00FF0000u);
    EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(0, 0, 255));
}

// A click is a left press and release both inside the field; a drag that
// leaves the field (selecting its text, say) is none.
TEST(Edit, ReportsOnlyPressAndReleaseInside) {
    struct Case {
        const char* name;
        Qt::MouseButton button;
        bool press;
        QPoint release;  // relative to the 120 x 24 field
        int clicks;
    };
    const Case cases[] = {
        {"click", Qt::LeftButton, true, {10, 10}, 1},
        {"drag within the field", Qt::LeftButton, true, {110, 20}, 1},
        {"drag out to the right", Qt::LeftButton, true, {200, 10}, 0},
        {"drag out above", Qt::LeftButton, true, {10, -5}, 0},
        {"drag out below", Qt::LeftButton, true, {10, 24}, 0},
        {"release without a press", Qt::LeftButton, false, {10, 10}, 0},
        {"right button", Qt::RightButton, true, {10, 10}, 0},
    };
    for (const Case& c : cases) {
        TEdit edit;
        edit.resize(120, 24);
        edit.show();
        int clicks = 0;
        edit.OnClick = [&] { ++clicks; };
        if (c.press) QTest::mousePress(&edit, c.button, {}, QPoint(5, 5));
        QTest::mouseRelease(&edit, c.button, {}, c.release);
        EXPECT_EQ(clicks, c.clicks) << c.name;
        // The next click counts whatever came before.
        QTest::mouseClick(&edit, Qt::LeftButton, {}, QPoint(20, 10));
        EXPECT_EQ(clicks, c.clicks + 1) << c.name;
    }
}

TEST(Guard, ShowsEscapedErrorsInTheErrorBoxAndGoesOn) {
    ScriptedDesktop desktop;
    Guard([] { throw std::runtime_error("broken handler"); });
    Guard([] { throw 42; });
    ASSERT_EQ(desktop.errors.size(), 2u);
    EXPECT_EQ(desktop.errors[0], "broken handler");
    EXPECT_EQ(desktop.errors[1], "An error of unknown kind occurred.");

    // Handlers reached through the controls run in the guard too.
    TImage image;
    image.resize(10, 10);
    image.OnClick = [] { throw std::runtime_error("image click"); };
    QTest::mouseClick(&image, Qt::LeftButton, {}, QPoint(2, 2));
    TUpDown upDown;
    upDown.setMax(5);
    upDown.OnClick = [](TUDBtnType) { throw std::runtime_error("arrow"); };
    upDown.NextButton()->click();
    ASSERT_EQ(desktop.errors.size(), 4u);
    EXPECT_EQ(desktop.errors[2], "image click");
    EXPECT_EQ(desktop.errors[3], "arrow");
    EXPECT_EQ(upDown.Position(), 1);
}

// A form that records its notifications.
class ProbeForm : public TForm {
public:
    int resizes = 0;
    TCloseAction onClose = TCloseAction::caHide;
    std::vector<char16_t> keys;
    bool throwOnResize = false;
    using TForm::FinishDefinition;

protected:
    void FormResize() override {
        ++resizes;
        if (throwOnResize) throw std::runtime_error("resize");
    }
    void FormClose(TCloseAction& action) override { action = onClose; }
    void FormKeyPress(char16_t& key) override {
        keys.push_back(key);
        if (key == 'q') key = 0;
    }
};

TEST(Form, EverySizeChangeIsNotifiedEvenWhileHidden) {
    ProbeForm form;
    form.SetClientSize(200, 100);
    EXPECT_EQ(form.resizes, 1);
    EXPECT_EQ(form.ClientWidth(), 200);
    form.SetClientHeight(100);  // no change, no notification
    EXPECT_EQ(form.resizes, 1);
    form.SetClientWidth(300);
    EXPECT_EQ(form.resizes, 2);

    form.show();
    QApplication::processEvents();
    int shown = form.resizes;
    form.SetClientHeight(150);
    EXPECT_EQ(form.resizes, shown + 1);
    EXPECT_EQ(form.size(), QSize(300, 150));

    ScriptedDesktop desktop;
    form.throwOnResize = true;
    form.SetClientHeight(160);
    EXPECT_EQ(desktop.errors, std::vector<QString>{"resize"});
}

TEST(Form, AlignsTopAndClientControls) {
    ProbeForm form;
    auto* top = new QWidget(&form);
    top->setProperty("align", "alTop");
    top->resize(10, 40);
    auto* rest = new QWidget(&form);
    rest->setProperty("align", "alClient");
    auto* free = new QWidget(&form);
    free->setGeometry(5, 6, 7, 8);
    form.FinishDefinition();
    form.SetClientSize(300, 200);
    EXPECT_EQ(top->geometry(), QRect(0, 0, 300, 40));
    EXPECT_EQ(rest->geometry(), QRect(0, 40, 300, 160));
    EXPECT_EQ(free->geometry(), QRect(5, 6, 7, 8));
    form.SetClientSize(300, 30);
    EXPECT_EQ(rest->geometry(), QRect(0, 40, 300, 0));
}

TEST(Form, CloseNotificationCanKeepTheWindowOpen) {
    ProbeForm form;
    form.show();
    form.onClose = TCloseAction::caNone;
    EXPECT_FALSE(form.close());
    EXPECT_TRUE(form.isVisible());
    form.onClose = TCloseAction::caHide;
    EXPECT_TRUE(form.close());
    EXPECT_FALSE(form.isVisible());
}

TEST(Form, ModalShowReturnsWhenClosed) {
    ProbeForm form;
    form.resize(100, 100);
    bool sawModal = false;
    QTimer::singleShot(0, &form, [&] {
        sawModal = form.IsShownModal() && form.isVisible() &&
                   form.windowModality() == Qt::ApplicationModal;
        form.close();
    });
    EXPECT_EQ(form.ShowModal(), mrCancel);
    EXPECT_TRUE(sawModal);
    EXPECT_FALSE(form.isVisible());
}

TEST(Form, KeyPreviewSeesKeysFirstOnce) {
    ProbeForm form;
    auto* edit = new QLineEdit(&form);
    form.SetKeyPreview(true);
    form.show();
    QTest::keyClicks(edit, "aq");
    EXPECT_EQ(edit->text(), "a");  // q went no further
    EXPECT_EQ(form.keys, (std::vector<char16_t>{'a', 'q'}));

    // A key the control ignores travels to the form, but is previewed once.
    form.keys.clear();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(form.keys, (std::vector<char16_t>{27}));
}

TEST(PicturePreview, ShowsLoadablePicturesOnlyAndNeverAMessage) {
    ScriptedDesktop desktop;
    QTemporaryDir folder;
    QString picture = folder.filePath("wide.bmp");
    ASSERT_EQ(SavePictureFileQuiet(*MakeRampPicture(400, 100), picture.toStdString()),
              FileOutcome::Done);
    QString broken = folder.filePath("broken.jpg");
    {
        QFile file(broken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not a picture at all");
    }

    TPicturePreview preview;
    EXPECT_EQ(preview.LabelText(), "Bild:");
    EXPECT_FALSE(preview.PreviewEnabled());
    EXPECT_EQ(preview.PreviewButton()->toolTip(), "Vorschau");

    preview.ShowFile(picture);
    EXPECT_EQ(preview.LabelText(), " (400x100)");
    EXPECT_TRUE(preview.PreviewEnabled());
    EXPECT_EQ(preview.ShownSize(), QSize(180, 45));
    EXPECT_EQ(preview.Picture().Width(), 400);

    for (const QString& path : {broken, folder.path(), folder.filePath("missing.bmp"), QString()}) {
        preview.ShowFile(picture);
        preview.ShowFile(path);
        EXPECT_EQ(preview.LabelText(), "Bild:") << path.toStdString();
        EXPECT_FALSE(preview.PreviewEnabled());
        EXPECT_TRUE(preview.Picture().IsEmpty());
    }
    EXPECT_TRUE(desktop.messages.empty());
}

TEST(RealFileDialog, ShowsTheDefinitionAndReturnsTheChoice) {
    QTemporaryDir folder;
    QString remembered = folder.filePath("a.bmp");
    ASSERT_EQ(SavePictureFileQuiet(*MakeRampPicture(8, 8), remembered.toStdString()),
              FileOutcome::Done);
    TPictureDialog dialog(TDialogKind::Save, "保存为图片...",
                          {{"JPG (*.jpg)", "*.jpg"}, {"BMP (*.bmp)", "*.bmp"},
                           {"All Files (*.*)", "*.*"}},
                          "jpg", true);
    dialog.FileName = remembered;
    dialog.FilterIndex = 2;

    QString title;
    QStringList types;
    int typeAtStart = -1;
    QString nameAtStart, nameAfterAllFiles;
    bool hasPreview = false;
    WhenFileDialogOpens([&](QFileDialog& box) {
        title = box.windowTitle();
        auto* combo = box.findChild<QComboBox*>("fileTypeCombo");
        auto* name = box.findChild<QLineEdit*>("fileNameEdit");
        if (!combo || !name) {
            ADD_FAILURE() << "the dialog lacks its type list or name field";
            box.reject();
            return;
        }
        for (int i = 0; i < combo->count(); ++i) types << combo->itemText(i);
        typeAtStart = combo->currentIndex();
        nameAtStart = name->text();
        hasPreview = box.findChild<TPicturePreview*>() != nullptr;
        // The user picks the last type: the typed extension must stay.
        combo->setCurrentIndex(2);
        emit combo->activated(2);
        nameAfterAllFiles = name->text();
        // A new name typed without an extension, once the folder has been
        // read (typing into the focused field drops the list's selection).
        auto* list = box.findChild<QListView*>("listView");
        if (list) {
            EXPECT_TRUE(QTest::qWaitFor(
                [list] { return list->model()->rowCount(list->rootIndex()) > 0; }, 5000))
                << "the folder was never listed";
        }
        if (list) list->selectionModel()->clear();
        name->setText("b");
        // A prompt the dialog raises (it would ask about replacing a.bmp if
        // a.bmp were still selected) must fail the test, not hang it.
        QTimer::singleShot(3000, [] {
            for (QWidget* window : QApplication::topLevelWidgets())
                if (auto* prompt = qobject_cast<QMessageBox*>(window); prompt && prompt->isVisible()) {
                    ADD_FAILURE() << "the dialog asked: " << prompt->text().toStdString();
                    prompt->reject();
                }
        });
        QMetaObject::invokeMethod(&box, "accept");
    });
    ASSERT_TRUE(dialog.Execute(nullptr));
    EXPECT_EQ(title, "保存为图片...");
    EXPECT_EQ(types, (QStringList{"JPG (*.jpg)", "BMP (*.bmp)", "All Files (*.*)"}));
    EXPECT_EQ(typeAtStart, 1);
    EXPECT_EQ(nameAtStart, "a.bmp");
    EXPECT_EQ(nameAfterAllFiles, "a.bmp");
    EXPECT_TRUE(hasPreview);
    EXPECT_EQ(dialog.FileName, folder.filePath("b.jpg"));
    EXPECT_EQ(dialog.FilterIndex, 3);

    // Cancelled: the dialog keeps what it had.
    WhenFileDialogOpens([](QFileDialog& box) { box.reject(); });
    EXPECT_FALSE(dialog.Execute(nullptr));
    EXPECT_EQ(dialog.FileName, folder.filePath("b.jpg"));
    EXPECT_EQ(dialog.FilterIndex, 3);
}

// What an open dialog confirms is tried by the program, which says why a
// file cannot be read; so a typed name of a file that does not exist is
// taken, with the default extension added, under the usual Open button.
TEST(RealFileDialog, OpenTakesTheTypedNameOfAMissingFile) {
    QTemporaryDir folder;
    QFileDialog existingOnly;
    existingOnly.setOption(QFileDialog::DontUseNativeDialog, true);
    existingOnly.setAcceptMode(QFileDialog::AcceptOpen);
    existingOnly.setFileMode(QFileDialog::ExistingFile);
    const QString openLabel = existingOnly.labelText(QFileDialog::Accept);
    ASSERT_FALSE(openLabel.isEmpty());

    struct Case {
        const char* defaultExt;
        const char* typed;
        const char* confirmed;
    };
    const Case cases[] = {{"jpg", "missing", "missing.jpg"}, {"", "gone.bmp", "gone.bmp"}};
    for (const Case& c : cases) {
        TPictureDialog dialog(TDialogKind::Open, "Select the picture to stamp",
                              {{"JPG (*.jpg)", "*.jpg"}, {"所有文件 (*.*)", "*.*"}}, c.defaultExt,
                              false);
        QString label;
        bool enabled = false;
        WhenFileDialogOpens([&](QFileDialog& box) {
            auto* name = box.findChild<QLineEdit*>("fileNameEdit");
            auto* buttons = box.findChild<QDialogButtonBox*>("buttonBox");
            QPushButton* open = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
            if (!name || !open) {
                ADD_FAILURE() << "the dialog lacks its name field or Open button";
                box.reject();
                return;
            }
            name->setText(folder.filePath(c.typed));
            label = open->text();
            enabled = open->isEnabled();
            QTest::mouseClick(open, Qt::LeftButton);
        });
        ASSERT_TRUE(dialog.Execute(nullptr)) << c.typed;
        EXPECT_EQ(dialog.FileName, folder.filePath(c.confirmed));
        EXPECT_EQ(label, openLabel) << c.typed;
        EXPECT_TRUE(enabled) << c.typed;
        EXPECT_FALSE(QFile::exists(dialog.FileName)) << "the dialog made no file";
    }
}

TEST(ScrollBox, RangeFollowsTheVisibleControls) {
    ProbeForm window;
    auto* box = new TScrollBox(&window);
    box->setProperty("align", "alClient");
    box->setWidget(new QWidget);
    auto* view = new QWidget(box->widget());
    view->setGeometry(0, 0, 145, 0);
    auto* hidden = new QWidget(box->widget());
    hidden->setGeometry(168, 24, 288, 32);
    hidden->hide();
    window.FinishDefinition();
    window.SetClientSize(300, 200);
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(box->widget()->size(), QSize(145, 0));
    EXPECT_FALSE(box->horizontalScrollBar()->isVisible());

    view->resize(1000, 800);
    view->move(20, 0);
    QApplication::processEvents();
    EXPECT_EQ(box->widget()->size(), QSize(1020, 800));
    EXPECT_TRUE(box->horizontalScrollBar()->isVisible());
    EXPECT_TRUE(box->verticalScrollBar()->isVisible());
    box->SetHorzPosition(50);
    box->SetVertPosition(70);
    EXPECT_EQ(box->HorzPosition(), 50);
    EXPECT_EQ(box->VertPosition(), 70);
}

TEST(Pump, ProcessMessagesRunsPendingEventsAndReturns) {
    int ran = 0;
    QObject target;
    QMetaObject::invokeMethod(&target, [&] { ++ran; }, Qt::QueuedConnection);
    RealDesktop desktop;
    desktop.ProcessMessages();
    EXPECT_EQ(ran, 1);
    desktop.ProcessMessages();  // nothing pending: returns at once
    EXPECT_EQ(ran, 1);
}

TEST(DesignFonts, KeepPixelHeightsAndMapMissingFamilies) {
    QFont panel = DesignFont("MS Sans Serif,-13,bold");
    EXPECT_EQ(panel.pixelSize(), 13);
    EXPECT_TRUE(panel.bold());
    EXPECT_EQ(QFontInfo(panel).family(), "DejaVu Sans");
    EXPECT_TRUE(panel.families().contains("WenQuanYi Micro Hei"));
    QFont link = DesignFont("System,-11,bold,underline");
    EXPECT_EQ(link.pixelSize(), 11);
    EXPECT_TRUE(link.underline());
    EXPECT_EQ(QFontInfo(link).family(), "DejaVu Sans");

    QWidget parent;
    parent.setProperty("designFont", "MS Sans Serif,-13,bold");
    auto* child = new QWidget(&parent);
    auto* own = new QWidget(&parent);
    own->setProperty("designFont", "MS Sans Serif,-11");
    own->setProperty("fontColor", "#0000ff");
    ApplyDesignFonts(&parent);
    EXPECT_EQ(child->font().pixelSize(), 13);
    EXPECT_TRUE(child->font().bold());
    EXPECT_EQ(own->font().pixelSize(), 11);
    EXPECT_EQ(own->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

TEST(Resources, MissingArtworkGivesEmptyPictures) {
    EXPECT_TRUE(LoadResourceBitmap(":/glyphs/no-such.bmp")->IsEmpty());
    EXPECT_TRUE(LoadResourceText(":/text/no-such.txt").isEmpty());
    // A file that is no BMP at all is refused quietly.
    QTemporaryDir folder;
    QString path = folder.filePath("junk.bmp");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("BM garbage");
    }
    EXPECT_TRUE(LoadResourceBitmap(path)->IsEmpty());
}

}  // namespace
}  // namespace sigillon
