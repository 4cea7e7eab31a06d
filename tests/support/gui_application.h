// One QGuiApplication for the whole test process, on the offscreen platform
// unless another was asked for: text stamps need fonts, which need it.
#pragma once

#include <QGuiApplication>

namespace sigillon::testing {

inline void EnsureGuiApplication() {
    if (QGuiApplication::instance()) return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "sigillon_test";
    static char* argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
}

}  // namespace sigillon::testing
