// The window tests run headless on Qt's offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>

#include "pictures/raster/bitmap.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    sigillon::SetDisplayBitsPerPixel(32);
    return RUN_ALL_TESTS();
}
