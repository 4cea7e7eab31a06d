#include "app/toolkit/application.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include "app/toolkit/desktop.h"

namespace sigillon {
namespace {

QString& TitleStore() {
    static QString title;
    return title;
}

void RunMessageBox(QMessageBox::Icon icon, const QString& text) {
    QMessageBox box;
    box.setIcon(icon);
    box.setWindowTitle(ApplicationTitle());
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        box.move(screen->availableGeometry().center() - box.rect().center());
    box.exec();
}

}  // namespace

QString ApplicationTitleFor(const QString& programPath) {
    qsizetype slash = std::max(programPath.lastIndexOf('/'), programPath.lastIndexOf('\\'));
    QString name = programPath.mid(slash + 1);
    qsizetype dot = name.indexOf('.');
    if (dot >= 0) name.truncate(dot);
    if (name.size() > 1) name = name.left(1) + name.mid(1).toLower();
    return name;
}

const QString& ApplicationTitle() { return TitleStore(); }

void SetApplicationTitle(const QString& title) { TitleStore() = title; }

void ShowEscapedError(const std::string& text) noexcept {
    try {
        Desktop().ShowErrorBox(QString::fromStdString(text));
    } catch (...) {
        // Nothing is left to tell the user with; the event loop goes on.
    }
}

void ProcessMessages() {
    if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void ShowPlainMessageBox(const QString& text) { RunMessageBox(QMessageBox::NoIcon, text); }

void ShowErrorMessageBox(const QString& text) { RunMessageBox(QMessageBox::Critical, text); }

}  // namespace sigillon
