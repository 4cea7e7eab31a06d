// The stamp controls of the main window: mode, colour, size, the text
// field, opening a stamp, both stamp commands, and the guard that keeps a
// running stamp pass safe from the clicks its event pumping delivers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QTest>
#include <algorithm>
#include <cstring>

#include "app/toolkit/speed_button.h"
#include "pictures/picture_files.h"
#include "pictures/raster/test_picture.h"
#include "stamping/compositing.h"
#include "app/ustamp.h"
#include "tests/app/app_test_support.h"

namespace sigillon {
namespace {

class StampControls : public testing::ProgramWindows {
protected:
    void SetUp() override {
        ProgramWindows::SetUp();
        stampWindow = std::make_unique<Tfstamp>();
        fstamp = stampWindow.get();
    }
    void TearDown() override {
        fstamp = nullptr;
        stampWindow.reset();
        ProgramWindows::TearDown();
    }

    TFsigillon& w() { return *mainWindow; }

    static std::vector<std::uint8_t> Rows(TBitmap& picture) {
        std::vector<std::uint8_t> bytes;
        for (int y = 0; y < picture.Height(); ++y) {
            const std::uint8_t* row = picture.RowAddress(y);
            bytes.insert(bytes.end(), row, row + 3 * picture.Width());
        }
        return bytes;
    }

    // Writes a 40 x 20 stamp: black on white, one black pixel per row.
    QString WriteStamp() {
        TBitmap stamp;
        stamp.SetDepth(Depth24);
        stamp.SetWidth(40);
        stamp.SetHeight(20);
        for (int y = 0; y < 20; ++y) std::memset(stamp.RowAddress(y) + 3 * (y % 40), 0, 3);
        QString path = PathIn("stamp.bmp");
        EXPECT_EQ(SavePictureFileQuiet(stamp, path.toStdString()), FileOutcome::Done);
        return path;
    }

    // Shows the overview and counts its picture's paints from now on.
    void WatchOverview() {
        if (!overviewWindow->isVisible()) w().btnoverview->click();
        Settle();
        overviewWindow->im2->installEventFilter(&overviewPaints);
        Settle();
        overviewPaints.paints = 0;
    }

    std::unique_ptr<Tfstamp> stampWindow;
    testing::PaintCounter overviewPaints;
};

// The glyph of a mode as the button must show it, cut out of the strip by
// hand: the cell's bottom-left colour (white) see-through, every other pixel
// as it is, since the strip holds only colours an 8-bit glyph keeps exactly.
QImage CellOfStrip(const TBitmap& strip, int mode) {
    QImage cell(32, 32, QImage::Format_ARGB32);
    const TColor clear = strip.PixelAt(32 * mode, 31);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            TColor c = strip.PixelAt(32 * mode + x, y);
            cell.setPixel(x, y, c == clear ? 0u : qRgb(RedOf(c), GreenOf(c), BlueOf(c)));
        }
    return cell;
}

TEST_F(StampControls, NineModePressesCycleGlyphHintAndCaptions) {
    EXPECT_EQ(w().btnstamp->text(), "邮票");
    EXPECT_EQ(w().btnstamptext->text(), "邮票");
    EXPECT_EQ(w().btnmode->toolTip(), "solid stamp");
    for (int press = 1; press <= 9; ++press) {
        w().btnmode->click();
        int mode = press % 9;
        EXPECT_EQ(w().btnmode->Tag(), mode);
        bool solid = mode < 4;
        EXPECT_EQ(w().btnmode->toolTip(), solid ? "solid stamp" : "watermark") << mode;
        EXPECT_EQ(w().btnstamp->text(), solid ? "Stamp" : "Watermark") << mode;
        EXPECT_EQ(w().btnstamptext->text(), solid ? "Stamp" : "Watermark") << mode;
        EXPECT_EQ(w().btnmode->Glyph(), CellOfStrip(w().Image1->Picture(), mode)) << mode;
    }
}

TEST_F(StampControls, ColourPressesStartFromWindowTextAndGiveGreyFirst) {
    const TColor expected[] = {0x808080, 0xFF0000, 0x0000FF, 0x00FFFF,
                               0x008000, 0x800080, 0x000000, 0x808080};
    for (int press = 0; press < 8; ++press) {
        w().btncolor->click();
        EXPECT_EQ(w().stamptext->FontColor(), expected[press]) << "press " << press + 1;
        EXPECT_EQ(w().btncolor->Tag(), (press + 1) % 7);
    }
}

TEST_F(StampControls, SizeArrowsStopAtTheLimitsAndLabelOnlyRealChanges) {
    EXPECT_EQ(w().Label1->Caption(), "大小 3");
    for (int press = 1; press <= 7; ++press) {
        w().UpDown1->Press(TUDBtnType::btNext);
        int size = std::min(3 + press, 9);
        EXPECT_EQ(w().UpDown1->Position(), size);
        EXPECT_EQ(w().Label1->Caption(), QString("size %1").arg(size));
    }
    for (int press = 0; press < 10; ++press) w().UpDown1->Press(TUDBtnType::btPrev);
    EXPECT_EQ(w().UpDown1->Position(), 1);
    EXPECT_EQ(w().Label1->Caption(), "size 1");
}

TEST_F(StampControls, ClickIntoEmptyTextFieldSuppliesTheCopyrightSign) {
    TEdit& field = *w().stamptext;
    field.setText(" ");
    QTest::mouseClick(&field, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(field.text(), " ");
    field.clear();
    // A drag from the field to beyond it selects; it is no click.
    QTest::mousePress(&field, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(&field, QPoint(field.width() + 40, 10));
    QTest::mouseRelease(&field, Qt::LeftButton, {}, QPoint(field.width() + 40, 10));
    EXPECT_EQ(field.text(), "");
    QTest::mouseClick(&field, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(field.text(), QString(QChar(0x00A9)));
}

TEST_F(StampControls, StampButtonNeedsBothAPictureAndAStampInEitherOrder) {
    QString stamp = WriteStamp();
    desktop.Confirm(stamp);
    w().btnopenstamp->click();
    EXPECT_FALSE(w().btnstamp->isEnabled()) << "no picture yet";
    w().btntest->click();
    EXPECT_TRUE(w().btnstamp->isEnabled());
}

TEST_F(StampControls, FailedStampLoadStillEnablesAndThenRefuses) {
    w().btntest->click();
    QString broken = PathIn("broken.bmp");
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    desktop.Confirm(broken);
    w().btnopenstamp->click();
    EXPECT_EQ(desktop.messages, std::vector<std::string>{broken.toStdString() + " - Error: wrong format"});
    EXPECT_TRUE(w().btnstamp->isEnabled());
    auto before = Rows(w().dm->Picture());
    w().btnstamp->click();
    EXPECT_EQ(desktop.messages.back(), "Select a stamp!");
    EXPECT_EQ(Rows(w().dm->Picture()), before);
}

TEST_F(StampControls, PictureStampLandsInTheModesCornerAndShowsInTheOverview) {
    desktop.Confirm(WriteStamp());
    w().btnopenstamp->click();
    w().btntest->click();
    WatchOverview();
    for (int i = 0; i < 3; ++i) w().btnmode->click();  // mode 3: bottom-right
    // The stamp's black pixels, (y mod 40, y) in row y, land in the last 40
    // columns and 20 rows; its white ones leave the test picture as it was.
    auto expected = MakeTestPicture();
    for (int y = 0; y < 20; ++y) std::memset(expected->RowAddress(580 + y) + 3 * (728 + y), 0, 3);
    w().btnstamp->click();
    EXPECT_EQ(Rows(w().dm->Picture()), Rows(*expected));
    EXPECT_EQ(w().stampbmp().GetDepth(), Depth24);
    EXPECT_TRUE(overviewWindow->im2->Picture().SharesImageWith(w().dm->Picture()));
    EXPECT_EQ(overviewWindow->im2->Picture().PixelAt(767 - 39, 599 - 19), clBlack);
    Settle();
    EXPECT_GT(overviewPaints.paints, 0) << "the overview was not repainted";
}

TEST_F(StampControls, TextStampIsRenderedFromTheControlsAtEveryPress) {
    w().btntest->click();
    w().stamptext->setText("© Sigillon");
    w().btncolor->click();                     // grey
    w().UpDown1->Press(TUDBtnType::btNext);    // size 4
    for (int i = 0; i < 4; ++i) w().btnmode->click();  // mode 4: watermark top-left

    // The same text as the batch tool renders it: the text field's font.
    TextStampInput input;
    input.font = StampTextFieldFont();
    input.colour = QColor(0x80, 0x80, 0x80);
    input.text = "© Sigillon";
    input.sizeFactor = 4;
    auto expectedStamp = RenderTextStamp(input);
    auto expected = MakeTestPicture();
    ApplyStamp(*expectedStamp, *expected, 4);

    WatchOverview();
    w().btnstamptext->click();
    Settle();
    EXPECT_GT(overviewPaints.paints, 0) << "the overview was not repainted";
    EXPECT_EQ(w().textbmp().GetDepth(), Depth24);
    EXPECT_EQ(w().textbmp().Width(), expectedStamp->Width());
    EXPECT_EQ(w().textbmp().Height(), expectedStamp->Height());
    EXPECT_EQ(Rows(w().dm->Picture()), Rows(*expected)) << "program and batch tool differ";

    // A second press renders anew and burns the watermark in again.
    const TBitmap* first = &w().textbmp();
    ApplyStamp(*expectedStamp, *expected, 4);
    w().btnstamptext->click();
    EXPECT_NE(&w().textbmp(), first);
    EXPECT_EQ(Rows(w().dm->Picture()), Rows(*expected));
}

// The hidden window keeps what the last render gave its label and shrinks
// to it, and the raster is the label's own image.
TEST_F(StampControls, TextWindowLabelHoldsTheLastTextAndItsImageIsTheRaster) {
    EXPECT_EQ(fstamp->objectName(), "fstamp");
    EXPECT_EQ(fstamp->findChild<TStampLabel*>("Label1"), fstamp->Label1());
    w().btntest->click();
    const QString text = QString::fromUtf8("\xC2\xA9 S&igillon\t\xE4\xB8\xAD\xE6\x96\x87 y");
    w().stamptext->setText(text);
    w().btncolor->click();
    w().btncolor->click();                   // blue
    w().UpDown1->Press(TUDBtnType::btNext);  // size 4
    w().btnstamptext->click();

    TStampLabel* label = fstamp->Label1();
    EXPECT_EQ(label->Caption(), text);
    EXPECT_EQ(label->font().pixelSize(), 53);
    EXPECT_EQ(label->FontColour(), QColor(0, 0, 255));
    EXPECT_EQ(label->Colour(), QColor(Qt::white));
    const TBitmap& raster = w().textbmp();
    ASSERT_EQ(label->size(), QSize(raster.Width(), raster.Height()));
    EXPECT_EQ(fstamp->size(), label->size());
    EXPECT_FALSE(fstamp->isVisible());

    QImage painted(label->size(), QImage::Format_RGB32);
    painted.fill(Qt::green);  // would show wherever the label left a pixel unpainted
    label->render(&painted);
    int inked = 0;
    for (int y = 0; y < painted.height(); ++y)
        for (int x = 0; x < painted.width(); ++x) {
            QColor c = painted.pixelColor(x, y);
            TColor colour =
                RGBColor(std::uint8_t(c.red()), std::uint8_t(c.green()), std::uint8_t(c.blue()));
            ASSERT_EQ(raster.PixelAt(x, y), colour) << x << ", " << y;
            inked += colour == 0x00FF0000u;
        }
    EXPECT_GT(inked, 100);
}

// A raster that cannot be made, here one far larger than any picture may
// be, reaches the command as an error with its reason; the last text stamp
// and the picture stay as they were.
TEST_F(StampControls, TextThatCannotBeRenderedKeepsTheLastStampAndSaysWhy) {
    w().btntest->click();
    w().btnstamptext->click();
    ASSERT_FALSE(w().textbmp().IsEmpty());
    const TBitmap* last = &w().textbmp();
    auto lastRows = Rows(w().textbmp());
    auto before = Rows(w().dm->Picture());

    QFont huge = w().stamptext->font();
    huge.setPixelSize(3000);
    w().stamptext->setFont(huge);
    w().btnstamptext->click();

    ASSERT_EQ(desktop.errors.size(), 1u);
    EXPECT_TRUE(desktop.errors[0].startsWith("a text stamp of ")) << desktop.errors[0].toStdString();
    EXPECT_TRUE(desktop.errors[0].endsWith(" pixels is too large to hold"));
    EXPECT_TRUE(desktop.messages.empty()) << "taken for a missing stamp";
    EXPECT_EQ(&w().textbmp(), last);
    EXPECT_EQ(Rows(w().textbmp()), lastRows);
    EXPECT_EQ(Rows(w().dm->Picture()), before);
    EXPECT_FALSE(w().StampPassRunning());
}

TEST_F(StampControls, TextTooLargeForThePictureIsRefused) {
    desktop.Confirm(WritePicture("small.bmp", 40, 40));
    w().btnopen->click();
    w().stamptext->setText("far too long for forty pixels");
    auto before = Rows(w().dm->Picture());
    w().btnstamptext->click();
    EXPECT_EQ(desktop.messages, std::vector<std::string>{"Stamp too large for this picture!"});
    EXPECT_EQ(Rows(w().dm->Picture()), before);
}

// Compositing pumps events after every row; every command a user could
// click meanwhile is delivered from inside that pump here.
TEST_F(StampControls, CommandsDeliveredDuringAPassCannotReplaceItsRasters) {
    desktop.Confirm(WriteStamp());
    w().btnopenstamp->click();
    QString photo = WritePicture("photo.bmp", 300, 200);
    OpenThroughDialog(photo);  // a picture from a file, so reload is enabled
    ASSERT_TRUE(w().btnreload->isEnabled());
    for (int i = 0; i < 8; ++i) w().btnmode->click();  // mode 8: tiled over every row
    // Tiled once: where the stamp's black pixel (column r in row r) falls,
    // x mod 40 == y mod 20, each byte of the photo darkens by 2.
    TBitmap expected;
    LoadPictureFileQuiet(expected, photo.toStdString());
    for (int y = 0; y < 200; ++y) {
        std::uint8_t* row = expected.RowAddress(y);
        for (int x = 0; x < 300; ++x)
            if (x % 40 == y % 20)
                for (int k = 0; k < 3; ++k)
                    row[3 * x + k] = std::uint8_t(std::max(0, row[3 * x + k] - 2));
    }
    const TBitmap* stampBefore = &w().stampbmp();
    const TBitmap* textBefore = &w().textbmp();
    QString title = w().windowTitle();

    bool delivered = false;
    desktop.pumps = 0;
    desktop.onPump = [&] {
        if (desktop.pumps != 100 || delivered) return;
        delivered = true;
        EXPECT_TRUE(w().StampPassRunning());
        // None of these may open a dialog (the scripted desktop would fail
        // the test) or touch the rasters.
        w().btnopen->click();
        w().btnreload->click();
        w().btntest->click();
        w().btnopenstamp->click();
        w().btnstamp->click();
        w().btnstamptext->click();
        w().btnsave->click();
        w().close();
        EXPECT_TRUE(w().isVisible()) << "the close waits for the pass";
        w().btncolor->click();  // harmless changes stay live
        w().UpDown1->Press(TUDBtnType::btNext);
        EXPECT_EQ(&w().stampbmp(), stampBefore);
        EXPECT_EQ(&w().textbmp(), textBefore);
        EXPECT_EQ(w().dm->Picture().Width(), 300);
    };
    w().btnstamp->click();
    desktop.onPump = nullptr;

    EXPECT_TRUE(delivered);
    EXPECT_EQ(desktop.pumps, 200) << "one pass, one pump per picture row";
    EXPECT_EQ(w().windowTitle(), title);
    EXPECT_EQ(w().stamptext->FontColor(), 0x808080u);
    EXPECT_EQ(w().Label1->Caption(), "size 4");
    EXPECT_FALSE(w().StampPassRunning());
    EXPECT_FALSE(w().isVisible()) << "the deferred close happened after the pass";
    EXPECT_EQ(Rows(w().dm->Picture()), Rows(expected)) << "stamped exactly once";
    EXPECT_TRUE(desktop.messages.empty());
}

}  // namespace
}  // namespace sigillon
