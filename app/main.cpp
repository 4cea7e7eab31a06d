// Sigillon, the desktop program: creates the windows in their order and runs
// the event loop until the main window closes.
#include <QApplication>
#include <QIcon>
#include <QImage>
#include <QScreen>
#include <cstdio>
#include <memory>

#include "app/Uabout.h"
#include "app/toolkit/application.h"
#include "app/toolkit/design.h"
#include "app/toolkit/speed_button.h"
#include "app/uoverview.h"
#include "app/usigillon.h"
#include "pictures/raster/bitmap.h"
#include "app/ustamp.h"

namespace {

// Qt would only print a page of plugin errors and abort.
bool DisplayAvailable() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sigillon;
    if (!DisplayAvailable()) {
        std::fprintf(stderr, "sigillon: no display is available to show its window "
                             "(DISPLAY is not set).\n");
        return 1;
    }
    // The windows are laid out in screen pixels, as designed at 96 dots per
    // inch; the platform must not scale them.
    if (qEnvironmentVariableIsEmpty("QT_ENABLE_HIGHDPI_SCALING"))
        qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");

    QApplication application(argc, argv);
    // Closing the main window ends the program (FormClose); closing a
    // secondary window only hides it.
    QApplication::setQuitOnLastWindowClosed(false);
    SetApplicationTitle(ApplicationTitleFor(QCoreApplication::applicationFilePath()));
    QApplication::setWindowIcon(
        QIcon(QPixmap::fromImage(GlyphImage(*LoadResourceBitmap(":/glyphs/icon.bmp")))));
    if (QScreen* screen = QGuiApplication::primaryScreen()) SetDisplayBitsPerPixel(screen->depth());

    int status = 0;
    {
        auto mainWindow = std::make_unique<TFsigillon>();
        Fsigillon = mainWindow.get();
        mainWindow->show();
        auto aboutWindow = std::make_unique<Tfabout>();
        fabout = aboutWindow.get();
        auto overviewWindow = std::make_unique<Tfoverview>();
        foverview = overviewWindow.get();
        // The hidden window that text stamps are rendered in; never shown.
        auto stampWindow = std::make_unique<Tfstamp>();
        fstamp = stampWindow.get();

        status = QApplication::exec();

        fstamp = nullptr;
        foverview = nullptr;
        fabout = nullptr;
        Fsigillon = nullptr;
    }
    return status;
}
