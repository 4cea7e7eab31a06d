#include "tests/app/app_test_support.h"

#include <QApplication>

#include "pictures/picture_files.h"

namespace sigillon::testing {

std::unique_ptr<TBitmap> MakeRampPicture(int width, int height) {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(Depth24);
    picture->SetWidth(width);
    picture->SetHeight(height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->RowAddress(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = std::uint8_t(x);
            row[3 * x + 1] = std::uint8_t(y);
            row[3 * x + 2] = 0x40;
        }
    }
    return picture;
}

void ProgramWindows::SetUp() {
    ASSERT_TRUE(folder.isValid());
    mainWindow = std::make_unique<TFsigillon>();
    Fsigillon = mainWindow.get();
    mainWindow->show();
    aboutWindow = std::make_unique<Tfabout>();
    fabout = aboutWindow.get();
    overviewWindow = std::make_unique<Tfoverview>();
    foverview = overviewWindow.get();
    Settle();
}

void ProgramWindows::TearDown() {
    foverview = nullptr;
    fabout = nullptr;
    Fsigillon = nullptr;
    overviewWindow.reset();
    aboutWindow.reset();
    mainWindow.reset();
    Settle();
}

QString ProgramWindows::WritePicture(const QString& name, int width, int height) {
    QString path = PathIn(name);
    std::unique_ptr<TBitmap> picture = MakeRampPicture(width, height);
    EXPECT_EQ(SavePictureFileQuiet(*picture, path.toStdString()), FileOutcome::Done) << name.toStdString();
    return path;
}

void ProgramWindows::OpenThroughDialog(const QString& path) {
    desktop.Confirm(path);
    mainWindow->btnopen->click();
    Settle();
}

void ProgramWindows::Settle() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

}  // namespace sigillon::testing
