#include "tests/app/app_test_support.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "pictures/picture_files.h"
#include "tests/support/pictures.h"

namespace sigillon::testing {

void WhenFileDialogOpens(std::function<void(QFileDialog&)> steps) {
    auto* poll = new QTimer;
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    QObject::connect(poll, &QTimer::timeout, [poll, started, steps] {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QFileDialog*>(window);
            if (!box || !box->isVisible()) continue;
            poll->stop();
            poll->deleteLater();
            steps(*box);
            if (box->isVisible()) {
                ADD_FAILURE() << "the dialog stayed open";
                box->reject();
            }
            return;
        }
        if (started->elapsed() > 5000) {
            ADD_FAILURE() << "no file dialog opened";
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(20);
}

std::unique_ptr<TBitmap> MakeRampPicture(int width, int height) {
    return MakeTrueColourPicture(width, height, [](int x, int y, std::uint8_t* p) {
        p[0] = std::uint8_t(x);
        p[1] = std::uint8_t(y);
        p[2] = 0x40;
    });
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
