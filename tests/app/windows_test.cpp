// The program's windows driven through their commands, with the dialogs
// answered by a script: sizes, titles, enabled states, the overview and the
// about window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include "app/toolkit/application.h"
#include "pictures/picture_files.h"
#include "pictures/raster/test_picture.h"
#include "tests/app/app_test_support.h"
#include "tests/support/pictures.h"

namespace sigillon {
namespace {

using testing::ProgramWindows;

using MainWindow = ProgramWindows;

// The buttons of the enabled-state table, in its order.
struct Enabled {
    bool reload, overview, save, stampText, stamp;
    bool operator==(const Enabled&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Enabled& e) {
    return out << "reload " << e.reload << " overview " << e.overview << " save " << e.save
               << " stamptext " << e.stampText << " stamp " << e.stamp;
}

Enabled EnabledOf(const TFsigillon& w) {
    return {w.btnreload->isEnabled(), w.btnoverview->isEnabled(), w.btnsave->isEnabled(),
            w.btnstamptext->isEnabled(), w.btnstamp->isEnabled()};
}

QSize ClientOf(const TForm& form) { return {form.ClientWidth(), form.ClientHeight()}; }

TEST_F(MainWindow, StartsAsDefined) {
    TFsigillon& w = *mainWindow;
    EXPECT_EQ(w.objectName(), "Fsigillon");
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1");
    EXPECT_EQ(w.minwidth(), 1020);
    EXPECT_EQ(ClientOf(w), QSize(1020, 510));
    EXPECT_TRUE(w.dm->Picture().IsEmpty());
    EXPECT_EQ(w.dm->geometry(), QRect(0, 0, 145, 0));
    EXPECT_TRUE(w.stampbmp().IsEmpty());
    EXPECT_TRUE(w.textbmp().IsEmpty());
    EXPECT_EQ(EnabledOf(w), (Enabled{false, true, false, false, false}));
    for (QWidget* always : std::initializer_list<QWidget*>{
             w.btnopen, w.btntest, w.btnmode, w.btnabout, w.btnopenstamp, w.btncolor,
             w.stamptext, w.UpDown1})
        EXPECT_TRUE(always->isEnabled()) << always->objectName().toStdString();
    EXPECT_FALSE(w.Image1->isVisible());
    EXPECT_EQ(w.Panel1->geometry(), QRect(0, 0, 1020, 105));
    EXPECT_EQ(w.ScrollBox1->geometry(), QRect(0, 105, 1020, 405));
    EXPECT_EQ(w.ScrollBox1->Color(), QColor(255, 255, 255));

    EXPECT_EQ(w.btnmode->toolTip(), "solid stamp");
    EXPECT_EQ(w.btnmode->Tag(), 0);
    EXPECT_EQ(w.btnmode->Glyph().size(), QSize(32, 32));
    EXPECT_EQ(w.stamptext->maxLength(), 64);
    EXPECT_LE(w.stamptext->text().size(), 64);
    EXPECT_EQ(w.stamptext->Color(), QColor(255, 255, 255));
    EXPECT_EQ(w.UpDown1->Position(), 3);
    EXPECT_EQ(w.UpDown1->Min(), 1);
    EXPECT_EQ(w.UpDown1->Max(), 9);
    EXPECT_FALSE(w.UpDown1->Wrap());
    EXPECT_EQ(w.Label1->text(), "大小 3");
}

TEST_F(MainWindow, ControlsHaveTheirPlacesCaptionsAndHints) {
    struct Control {
        QWidget* widget;
        QRect bounds;
        const char* caption;
        const char* hint;
    };
    TFsigillon& w = *mainWindow;
    const Control controls[] = {
        {w.GBpicture, {0, 0, 380, 100}, "图片", ""},
        {w.gbtext, {390, 0, 250, 100}, "Textstamp", ""},
        {w.gbstamp, {650, 0, 210, 100}, "导入的邮票", ""},
        {w.btnmode, {870, 25, 60, 60}, "模式", "solid stamp"},
        {w.btnabout, {940, 24, 60, 60}, "关于", "帮助"},
        {w.btnopen, {10, 25, 80, 60}, "打开", "打开一个图片戳"},
        {w.btnreload, {90, 25, 80, 60}, "重新加载", "重新加载打开的图片"},
        {w.btntest, {170, 25, 60, 60}, "测试", "创建一个 testpicture"},
        {w.btnoverview, {230, 25, 60, 60}, "开/关", "切换概述窗口"},
        {w.btnsave, {290, 25, 80, 60}, "保存", "将该图片保存枚邮票"},
        {w.stamptext, {10, 20, 120, 24}, nullptr, "在这里写您版权的信息"},
        {w.btncolor, {10, 50, 120, 20}, "", "更改 textcolor"},
        {w.UpDown1, {64, 75, 33, 17}, nullptr, "更改该 textsize"},
        {w.btnstamptext, {146, 25, 90, 60}, "邮票", "现在标记此文本"},
        {w.btnopenstamp, {15, 25, 80, 60}, "打开", "开放/导入一枚邮票"},
        {w.btnstamp, {105, 25, 90, 60}, "邮票", "现在的邮票"},
        {w.Image1, {168, 24, 288, 32}, nullptr, ""},
    };
    for (const Control& c : controls) {
        std::string name = c.widget->objectName().toStdString();
        EXPECT_EQ(c.widget->geometry(), c.bounds) << name;
        EXPECT_EQ(c.widget->toolTip(), QString::fromUtf8(c.hint)) << name;
        if (!c.caption) continue;
        QString caption;
        if (auto* box = qobject_cast<QGroupBox*>(c.widget)) caption = box->title();
        if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) caption = button->text();
        EXPECT_EQ(caption, QString::fromUtf8(c.caption)) << name;
    }
    EXPECT_EQ(w.Label1->pos(), QPoint(14, 75));
    EXPECT_EQ(w.btnopen->parentWidget(), w.GBpicture);
    EXPECT_EQ(w.stamptext->parentWidget(), w.gbtext);
    EXPECT_EQ(w.btnstamp->parentWidget(), w.gbstamp);
    EXPECT_EQ(w.dm->parentWidget(), w.ScrollBox1->widget());
}

TEST_F(MainWindow, FontsKeepTheirPixelHeights) {
    TFsigillon& w = *mainWindow;
    EXPECT_EQ(w.font().pixelSize(), 11);
    EXPECT_FALSE(w.font().bold());
    // Controls of the panel that set no font show the panel's.
    for (QWidget* control :
         std::initializer_list<QWidget*>{w.btnopen, w.GBpicture, w.stamptext, w.Label1, w.btnabout}) {
        EXPECT_EQ(control->font().pixelSize(), 13) << control->objectName().toStdString();
        EXPECT_TRUE(control->font().bold()) << control->objectName().toStdString();
    }
}

// A picture of the given size opened through the dialog: where the view
// lands and what the client area becomes.
struct ShowCase {
    int width, height;
    int left;
    QSize client;
    bool horizontalBar, verticalBar;
};

TEST_F(MainWindow, ShowPictureCentresAndFits) {
    const ShowCase cases[] = {
        {400, 100, 310, {1020, 205}, false, false},
        {1019, 30, 0, {1020, 137}, false, false},  // 135 raised by FormResize
        {2000, 1500, 0, {1020, 510}, true, true},
        {600, 1200, 210, {1020, 510}, false, true},
        {768, 600, 126, {1020, 705}, false, false},
    };
    TFsigillon& w = *mainWindow;
    for (const ShowCase& c : cases) {
        std::string label = std::to_string(c.width) + "x" + std::to_string(c.height);
        // Leave the view scrolled, as a user might, before the next picture.
        w.ScrollBox1->SetHorzPosition(300);
        w.ScrollBox1->SetVertPosition(300);
        OpenThroughDialog(WritePicture(QString::fromStdString(label) + ".bmp", c.width, c.height));
        EXPECT_EQ(w.dm->size(), QSize(c.width, c.height)) << label;
        EXPECT_EQ(w.dm->x(), c.left) << label;
        EXPECT_EQ(w.dm->y(), 0) << label;
        EXPECT_EQ(ClientOf(w), c.client) << label;
        EXPECT_EQ(w.ScrollBox1->horizontalScrollBar()->isVisible(), c.horizontalBar) << label;
        EXPECT_EQ(w.ScrollBox1->verticalScrollBar()->isVisible(), c.verticalBar) << label;
        EXPECT_EQ(w.ScrollBox1->HorzPosition(), 0) << label;
        EXPECT_EQ(w.ScrollBox1->VertPosition(), 0) << label;
    }
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(MainWindow, TestPictureIsCentredAndNamedTest) {
    TFsigillon& w = *mainWindow;
    w.btntest->click();
    EXPECT_EQ(w.dm->size(), QSize(768, 600));
    EXPECT_EQ(w.dm->x(), 126);
    EXPECT_EQ(ClientOf(w), QSize(1020, 705));
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1 - test");
    EXPECT_EQ(w.picfile(), "test");
    EXPECT_EQ(w.dm->Picture().GetDepth(), Depth24);
    std::unique_ptr<TBitmap> expected = MakeTestPicture();
    for (int y : {0, 299, 599})
        EXPECT_EQ(std::memcmp(w.dm->Picture().RowAddress(y), expected->RowAddress(y), 768 * 3), 0);
    EXPECT_EQ(EnabledOf(w), (Enabled{false, true, true, true, false}));
}

TEST_F(MainWindow, FailedFirstOpenStillNamesTheFileAndEnablesTheButtons) {
    QString broken = PathIn("broken.jpg");
    {
        QFile file(broken);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("no JPEG here");
    }
    TFsigillon& w = *mainWindow;
    OpenThroughDialog(broken);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0], broken.toStdString() + " - Error: wrong format");
    EXPECT_TRUE(w.dm->Picture().IsEmpty());
    EXPECT_EQ(w.dm->geometry(), QRect(437, 0, 145, 0));
    EXPECT_EQ(ClientOf(w), QSize(1020, 137));
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1 - broken.jpg");
    EXPECT_EQ(w.picfile(), broken);
    EXPECT_EQ(EnabledOf(w), (Enabled{true, true, true, true, false}));
}

// The open dialogs take a typed name of a file that does not exist; the
// program tries it and shows why it failed, as for any unreadable file.
TEST_F(MainWindow, TypedNameOfAMissingFileIsTriedAndItsFailureShown) {
    TFsigillon& w = *mainWindow;
    desktop.realDialogs = true;
    auto typeAndOpen = [](const QString& typed) {
        testing::WhenFileDialogOpens([typed](QFileDialog& box) {
            auto* name = box.findChild<QLineEdit*>("fileNameEdit");
            auto* buttons = box.findChild<QDialogButtonBox*>("buttonBox");
            QPushButton* open = buttons ? buttons->button(QDialogButtonBox::Open) : nullptr;
            if (!name || !open) {
                ADD_FAILURE() << "the dialog lacks its name field or Open button";
                box.reject();
                return;
            }
            name->setText(typed);
            QTest::mouseClick(open, Qt::LeftButton);
        });
    };
    typeAndOpen(PathIn("missing"));  // Opd1 adds its default extension
    w.btnopen->click();
    const QString picture = PathIn("missing.jpg");
    ASSERT_EQ(desktop.messages,
              std::vector<std::string>{picture.toStdString() + " - Error: wrong format"});
    EXPECT_EQ(w.picfile(), picture);
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1 - missing.jpg");
    EXPECT_EQ(EnabledOf(w), (Enabled{true, true, true, true, false}));

    typeAndOpen(PathIn("gone.bmp"));
    w.btnopenstamp->click();
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages[1], PathIn("gone.bmp").toStdString() + " - Error: wrong format");
    EXPECT_TRUE(w.stampbmp().IsEmpty());
}

TEST_F(MainWindow, EnabledStatesAfterEachCommand) {
    TFsigillon& w = *mainWindow;
    QString a = WritePicture("a.bmp", 50, 40);

    desktop.Cancel();
    w.btnopen->click();
    EXPECT_EQ(EnabledOf(w), (Enabled{false, true, false, false, false})) << "cancelled open";
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1");

    OpenThroughDialog(a);
    EXPECT_EQ(EnabledOf(w), (Enabled{true, true, true, true, false})) << "open";

    w.btntest->click();
    EXPECT_EQ(EnabledOf(w), (Enabled{false, true, true, true, false})) << "test picture";

    desktop.Confirm(PathIn("saved.bmp"), 2);
    w.btnsave->click();
    EXPECT_EQ(EnabledOf(w), (Enabled{false, true, true, true, false})) << "save keeps them";

    // With a stamp picture in hand, a new picture enables stamping.
    std::unique_ptr<TBitmap> stamp = testing::MakeRampPicture(8, 8);
    w.stampbmp().ShareImage(*stamp);
    OpenThroughDialog(a);
    EXPECT_EQ(EnabledOf(w), (Enabled{true, true, true, true, true})) << "open with a stamp";
    w.btntest->click();
    EXPECT_EQ(EnabledOf(w), (Enabled{false, true, true, true, true})) << "test with a stamp";

    w.btnoverview->click();
    w.btnoverview->click();
    EXPECT_EQ(EnabledOf(w), (Enabled{false, true, true, true, true})) << "overview";
}

TEST_F(MainWindow, TitlesFollowOpenAndSaveButNotReload) {
    QDir(folder.path()).mkdir("one");
    QDir(folder.path()).mkdir("two");
    TFsigillon& w = *mainWindow;
    QString a = PathIn("one/a.jpg");
    ASSERT_EQ(SavePictureFileQuiet(*testing::MakeRampPicture(64, 48), a.toStdString()),
              FileOutcome::Done);
    OpenThroughDialog(a);
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1 - a.jpg");
    EXPECT_EQ(w.dm->Picture().GetDepth(), Depth24);

    QString b = PathIn("two/b.bmp");
    desktop.Confirm(b, 2);
    w.btnsave->click();
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1 - b.bmp");
    EXPECT_EQ(w.picfile(), b);
    ASSERT_TRUE(QFile::exists(b));

    // A reload now reads b.bmp: replace it to tell it apart from a.jpg.
    ASSERT_EQ(SavePictureFileQuiet(*testing::MakeRampPicture(30, 20), b.toStdString()),
              FileOutcome::Done);
    w.btnreload->click();
    EXPECT_EQ(w.dm->size(), QSize(30, 20));
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1 - b.bmp");
    EXPECT_EQ(w.dm->x(), 495);
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(MainWindow, DialogsRememberWhatTheirDefinitionSays) {
    TFsigillon& w = *mainWindow;
    QString a = WritePicture("a.bmp", 20, 10);

    OpenThroughDialog(a);
    OpenThroughDialog(a);
    ASSERT_EQ(desktop.dialogs.size(), 2u);
    for (const auto& open : desktop.dialogs) {
        EXPECT_EQ(open.kind, TDialogKind::Open);
        EXPECT_EQ(open.title, "Select the picture to stamp");
        EXPECT_EQ(open.fileName, "");  // cleared before every use
        EXPECT_EQ(open.defaultExt, "jpg");
        EXPECT_EQ(open.descriptions,
                  (std::vector<QString>{"JPG (*.jpg)", "BMP (*.bmp)", "所有文件 (*.*)"}));
    }

    // The save dialog starts empty, then with the name saved last, never
    // the name of the opened picture.
    desktop.Confirm(PathIn("first"), 1);  // typed without an extension
    w.btnsave->click();
    EXPECT_TRUE(QFile::exists(PathIn("first.jpg")));
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1 - first.jpg");

    desktop.Confirm(PathIn("second.bmp"), 2);
    w.btnsave->click();
    desktop.Cancel();
    w.btnsave->click();
    desktop.Confirm(PathIn("third.bmp"), 2);
    w.btnsave->click();

    ASSERT_EQ(desktop.dialogs.size(), 6u);
    const auto& save1 = desktop.dialogs[2];
    EXPECT_EQ(save1.kind, TDialogKind::Save);
    EXPECT_EQ(save1.title, "保存为图片...");
    EXPECT_EQ(save1.fileName, "");
    EXPECT_EQ(save1.filterIndex, 1);
    EXPECT_TRUE(save1.overwritePrompt);
    EXPECT_EQ(save1.descriptions,
              (std::vector<QString>{"JPG (*.jpg)", "BMP (*.bmp)", "All Files (*.*)"}));
    EXPECT_EQ(desktop.dialogs[3].fileName, PathIn("first.jpg"));
    EXPECT_EQ(desktop.dialogs[4].fileName, PathIn("second.bmp"));
    EXPECT_EQ(desktop.dialogs[4].filterIndex, 2);
    // The cancelled use kept both.
    EXPECT_EQ(desktop.dialogs[5].fileName, PathIn("second.bmp"));
    EXPECT_EQ(desktop.dialogs[5].filterIndex, 2);
    EXPECT_EQ(w.picfile(), PathIn("third.bmp"));

    EXPECT_EQ(w.opd2.Title, "打开一张邮票");
    EXPECT_EQ(w.opd2.DefaultExt, "");
    EXPECT_EQ(w.opd2.Filter.front().description, "BMP (*.bmp)");
    EXPECT_EQ(w.Opd1.Title, "Select the picture to stamp");
}

TEST_F(MainWindow, CancelledDialogsChangeNothing) {
    TFsigillon& w = *mainWindow;
    w.btntest->click();
    QSize client = ClientOf(w);
    desktop.Cancel();
    w.btnopen->click();
    desktop.Cancel();
    w.btnsave->click();
    EXPECT_EQ(w.windowTitle(), "Sigillon 1.0.1 - test");
    EXPECT_EQ(w.picfile(), "test");
    EXPECT_EQ(ClientOf(w), client);
    EXPECT_EQ(w.dm->size(), QSize(768, 600));
}

TEST_F(MainWindow, NeverSmallerThanTheMinimum) {
    TFsigillon& w = *mainWindow;
    w.SetClientSize(600, 50);
    EXPECT_EQ(ClientOf(w), QSize(1020, 137));
    // As the window system would resize it for a user.
    w.resize(700, 800);
    Settle();
    EXPECT_EQ(ClientOf(w), QSize(1020, 800));
    w.resize(1300, 100);
    Settle();
    EXPECT_EQ(ClientOf(w), QSize(1300, 137));
    EXPECT_EQ(w.ScrollBox1->geometry(), QRect(0, 105, 1300, 32));
}

// Only the text field and the size control take the keyboard; the picture
// below the panel is no tab stop and a click on it leaves the focus alone.
TEST_F(MainWindow, TabWalksThePanelAndThePictureTakesNoFocus) {
    TFsigillon& w = *mainWindow;
    w.btntest->click();
    w.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    w.stamptext->setFocus(Qt::OtherFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), w.stamptext);

    auto focused = [] {
        QWidget* widget = QApplication::focusWidget();
        return widget ? widget->objectName().toStdString() : std::string("nothing");
    };
    auto walk = [&](Qt::Key key) {
        std::vector<std::string> visited;
        for (int i = 0; i < 4; ++i) {
            QTest::keyClick(QApplication::focusWidget(), key);
            visited.push_back(focused());
        }
        return visited;
    };
    const std::vector<std::string> cycle{"UpDown1", "stamptext", "UpDown1", "stamptext"};
    EXPECT_EQ(walk(Qt::Key_Tab), cycle);
    EXPECT_EQ(walk(Qt::Key_Backtab), cycle);

    QTest::mouseClick(w.dm, Qt::LeftButton, {}, QPoint(100, 100));
    EXPECT_EQ(focused(), "stamptext") << "click on the picture";
    // Beside the picture, on the scroll box's own background.
    QTest::mouseClick(w.ScrollBox1->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(focused(), "stamptext") << "click beside the picture";
    EXPECT_EQ(w.ScrollBox1->focusPolicy(), Qt::NoFocus);
}

TEST_F(MainWindow, ReloadWithoutAFileDoesNothing) {
    TFsigillon& w = *mainWindow;
    w.btnreloadClick();
    EXPECT_TRUE(w.dm->Picture().IsEmpty());
    EXPECT_EQ(ClientOf(w), QSize(1020, 510));
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(MainWindow, ModeGlyphIsCutFromTheStrip) {
    TFsigillon& w = *mainWindow;
    const TBitmap& strip = w.Image1->Picture();
    ASSERT_EQ(strip.Width(), 288) << "the mode strip must be compiled in";
    ASSERT_EQ(strip.Height(), 32);
    for (int mode = 0; mode < 9; ++mode) {
        std::unique_ptr<TBitmap> glyph = ModeGlyph(*w.Image1, mode);
        ASSERT_EQ(glyph->GetDepth(), Depth8);
        ASSERT_EQ(glyph->Width(), 32);
        ASSERT_EQ(glyph->Height(), 32);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_TRUE(testing::IsNearestInPalette(
                    glyph->Palette(), strip.PixelAt(32 * mode + x, y), glyph->PixelAt(x, y)))
                    << "mode " << mode << " at " << x << "," << y;
        EXPECT_EQ(glyph->TransparentColor(), clWhite);
    }
}

TEST_F(MainWindow, ClosingReleasesTheRastersAndEndsTheLoop) {
    TFsigillon& w = *mainWindow;
    std::unique_ptr<TBitmap> stamp = testing::MakeRampPicture(8, 8);
    w.stampbmp().ShareImage(*stamp);
    QTimer::singleShot(0, &w, [&] { w.close(); });
    QTimer::singleShot(5000, [] { QApplication::exit(99); });  // in case the close fails
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(w.stampbmp().IsEmpty());
    EXPECT_TRUE(w.textbmp().IsEmpty());
}

using Overview = ProgramWindows;

TEST_F(Overview, TitleAndDefinition) {
    Tfoverview& o = *overviewWindow;
    EXPECT_EQ(o.objectName(), "foverview");
    EXPECT_EQ(o.windowTitle(), "概述 - Sigillon 1.0.1");
    EXPECT_FALSE(o.isVisible());
    EXPECT_EQ(ClientOf(o), QSize(130, 119));
    EXPECT_EQ(o.AspectRatio, 1.0L);
    EXPECT_TRUE(o.windowFlags() & Qt::Tool);
    EXPECT_EQ(o.im2->toolTip(), "单击以调整长宽比");
    EXPECT_TRUE(o.im2->Stretch());
    EXPECT_EQ(o.im2->geometry(), QRect(0, 0, 130, 119));
}

TEST_F(Overview, ButtonTogglesAndShowsAnEmptyOverviewBeforeAnyPicture) {
    TFsigillon& w = *mainWindow;
    Tfoverview& o = *overviewWindow;
    w.btnoverview->click();
    EXPECT_TRUE(o.isVisible());
    EXPECT_TRUE(o.im2->Picture().IsEmpty());
    EXPECT_EQ(ClientOf(o), QSize(130, 119));
    w.btnoverview->click();
    EXPECT_FALSE(o.isVisible());
}

TEST_F(Overview, HiddenOverviewIsKeptCurrentAndSharesThePixels) {
    TFsigillon& w = *mainWindow;
    Tfoverview& o = *overviewWindow;
    w.btntest->click();
    EXPECT_FALSE(o.isVisible());
    EXPECT_TRUE(o.im2->Picture().SharesImageWith(w.dm->Picture()));
    EXPECT_EQ(ClientOf(o), QSize(130, 102));
    EXPECT_EQ(o.im2->size(), QSize(130, 102));

    // Bytes written into the main picture's rows show in the overview.
    w.dm->Picture().RowAddress(0)[0] = 0x12;
    EXPECT_EQ(o.im2->Picture().RowAddress(0)[0], 0x12);

    w.btnoverview->click();
    EXPECT_TRUE(o.isVisible());
    EXPECT_TRUE(o.im2->Picture().SharesImageWith(w.dm->Picture()));
}

// The close box only hides the overview; the button shows it again and
// hands the picture over again, which snaps the window to it.
TEST_F(Overview, ClosedByItsCloseBoxAndShownAgainGetsThePictureAgain) {
    TFsigillon& w = *mainWindow;
    Tfoverview& o = *overviewWindow;
    w.btntest->click();
    w.btnoverview->click();
    ASSERT_TRUE(o.isVisible());
    EXPECT_TRUE(o.close());
    EXPECT_FALSE(o.isVisible());
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(o.im2->Picture().SharesImageWith(w.dm->Picture())) << "it keeps its picture";

    // Meanwhile the window is resized, and the main picture drawn on, which
    // gives the main picture pixels of its own.
    o.SetClientSize(200, 50);
    w.dm->Picture().SetPixelAt(0, 0, clBlack);
    ASSERT_FALSE(o.im2->Picture().SharesImageWith(w.dm->Picture()));
    w.btnoverview->click();
    EXPECT_TRUE(o.isVisible());
    EXPECT_TRUE(o.im2->Picture().SharesImageWith(w.dm->Picture()));
    EXPECT_EQ(ClientOf(o), QSize(200, 156));  // 200 / (768 / 600) = 156.25
}

TEST_F(Overview, ClickSnapsAndResizingAloneDoesNot) {
    TFsigillon& w = *mainWindow;
    Tfoverview& o = *overviewWindow;
    o.im2Click();
    EXPECT_EQ(ClientOf(o), QSize(130, 130));  // ratio 1 before any picture

    w.btntest->click();
    w.btnoverview->click();
    Settle();
    o.SetClientSize(200, 50);
    EXPECT_EQ(ClientOf(o), QSize(200, 50));
    EXPECT_EQ(o.im2->size(), QSize(200, 50));
    QTest::mouseClick(o.im2, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(ClientOf(o), QSize(200, 156));  // 156.25

    o.SetClientSize(10, 5);
    EXPECT_EQ(ClientOf(o), QSize(32, 32));
}

TEST_F(Overview, SnapsToEachNewPicture) {
    struct Case {
        int width, height;
        QSize client;
    };
    const Case cases[] = {
        {800, 600, {130, 97}},
        {400, 100, {130, 32}},
        {1000, 100, {130, 32}},
    };
    TFsigillon& w = *mainWindow;
    Tfoverview& o = *overviewWindow;
    for (const Case& c : cases) {
        o.SetClientSize(130, 119);
        OpenThroughDialog(WritePicture(QString("p%1x%2.bmp").arg(c.width).arg(c.height), c.width,
                                       c.height));
        EXPECT_EQ(ClientOf(o), c.client) << c.width << "x" << c.height;
    }
    // A portrait picture keeps the height.
    o.SetClientSize(130, 119);
    OpenThroughDialog(WritePicture("portrait.bmp", 480, 640));
    EXPECT_EQ(ClientOf(o), QSize(89, 119));

    // An empty picture changes nothing.
    QSize before = ClientOf(o);
    AspectRatioValue ratio = o.AspectRatio;
    TBitmap empty;
    o.TakePicture(&empty);
    o.TakePicture(nullptr);
    EXPECT_EQ(ClientOf(o), before);
    EXPECT_EQ(o.AspectRatio, ratio);
    (void)w;
}

using About = ProgramWindows;

// Shows the about window modally and runs the steps inside its modal loop;
// a window that never closes is closed after a while and fails the test.
int ShowAboutRunning(Tfabout& about, std::function<void()> steps) {
    QTimer::singleShot(0, &about, [steps] { steps(); });
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, &about, [&about] {
        ADD_FAILURE() << "the about window did not close";
        about.hide();
    });
    guard.start(5000);
    return about.ShowModal();
}

TEST_F(About, EscClosesAndEnterDoesNot) {
    Tfabout& a = *aboutWindow;
    bool openAfterEnter = false;
    int result = ShowAboutRunning(a, [&] {
        EXPECT_TRUE(a.isVisible());
        EXPECT_EQ(QApplication::focusWidget() == a.Memo1 || a.focusWidget() == a.Memo1, true);
        QTest::keyClick(a.Memo1, Qt::Key_Return);
        QTest::keyClick(a.Memo1, Qt::Key_Enter);
        openAfterEnter = a.isVisible();
        QTest::keyClick(a.Memo1, Qt::Key_Escape);
    });
    EXPECT_TRUE(openAfterEnter);
    EXPECT_EQ(result, mrCancel);
    EXPECT_FALSE(a.isVisible());
}

TEST_F(About, OkClosesAndTheTitleIsSetAtEveryShow) {
    Tfabout& a = *aboutWindow;
    for (int round = 0; round < 2; ++round) {
        a.SetCaption("something else");
        QString title;
        QString text;
        ShowAboutRunning(a, [&] {
            title = a.windowTitle();
            text = a.Memo1->toPlainText();
            QTest::mouseClick(a.Okbtn, Qt::LeftButton);
        });
        EXPECT_EQ(title, "Sigillon 1.0.1");
        EXPECT_EQ(text, a.Memo1->toPlainText());
        EXPECT_FALSE(a.isVisible());
    }
}

TEST_F(About, IsAFixedDialogWithAReadOnlyText) {
    Tfabout& a = *aboutWindow;
    EXPECT_EQ(a.objectName(), "fabout");
    EXPECT_EQ(ClientOf(a), QSize(536, 486));
    EXPECT_EQ(a.minimumSize(), a.maximumSize());
    EXPECT_TRUE(a.Memo1->isReadOnly());
    EXPECT_EQ(a.Memo1->geometry(), QRect(8, 56, 521, 370));
    EXPECT_EQ(a.Okbtn->geometry(), QRect(231, 451, 70, 24));
    EXPECT_EQ(a.Okbtn->text(), "确定");
    EXPECT_FALSE(a.Okbtn->isDefault());
    EXPECT_FALSE(a.Okbtn->autoDefault());
    EXPECT_EQ(a.logo->pos(), QPoint(8, 8));
    EXPECT_EQ(a.url->pos(), QPoint(345, 19));
    EXPECT_TRUE(a.url->font().underline());
    EXPECT_EQ(a.url->font().pixelSize(), 11);
    EXPECT_TRUE(a.font().bold());
    EXPECT_EQ(a.url->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_FALSE(a.logo->Picture().IsEmpty()) << "the logo must be compiled in";
    EXPECT_EQ(a.logo->size(), QSize(174, 32));
}

TEST_F(About, AddressClickGoesToTheShellAndTheWindowStays) {
    Tfabout& a = *aboutWindow;
    bool open = false;
    ShowAboutRunning(a, [&] {
        QTest::mouseClick(a.url, Qt::LeftButton, {}, QPoint(5, 5));
        open = a.isVisible();
        a.close();
    });
    EXPECT_TRUE(open);
    EXPECT_EQ(desktop.opened, std::vector<QString>{a.url->text()});
}

TEST_F(About, AboutButtonShowsItModally) {
    TFsigillon& w = *mainWindow;
    Tfabout& a = *aboutWindow;
    bool modal = false;
    QTimer::singleShot(0, &a, [&] {
        modal = a.isVisible() && a.IsShownModal() && a.windowModality() == Qt::ApplicationModal;
        a.close();
    });
    w.btnabout->click();
    EXPECT_TRUE(modal);
    EXPECT_FALSE(a.isVisible());
}

}  // namespace
}  // namespace sigillon
