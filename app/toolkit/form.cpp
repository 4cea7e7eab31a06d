#include "app/toolkit/form.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QVariant>
#include <algorithm>

#include "app/toolkit/application.h"
#include "app/toolkit/controls.h"
#include "app/toolkit/design.h"

namespace sigillon {

TForm::TForm(QWidget* parent) : QWidget(parent) {}

void TForm::SetClientWidth(int width) { SetClientSize(width, height()); }

void TForm::SetClientHeight(int height) { SetClientSize(width(), height); }

void TForm::SetClientSize(int width, int height) {
    width = std::max(0, width);
    height = std::max(0, height);
    if (width == this->width() && height == this->height()) return;
    int before = resizes_;
    resize(width, height);
    // A hidden window hears of its new size only when it is shown; the
    // notification must follow every change all the same.
    if (resizes_ == before) Resized();
}

void TForm::FinishDefinition() {
    ApplyDesignFonts(this);
    for (TScrollBox* box : findChildren<TScrollBox*>()) box->TrackContent();
    for (TLabel* label : findChildren<TLabel*>())
        if (label->AutoSize()) label->adjustSize();
    // An edit field shows the start of its text, as typed fields do.
    for (TEdit* edit : findChildren<TEdit*>()) edit->setCursorPosition(0);
    AlignControls();
}

void TForm::AlignControls() {
    QRect rest = rect();
    QList<QWidget*> children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        if (child->property("align").toString() != "alTop") continue;
        child->setGeometry(rest.left(), rest.top(), rest.width(), child->height());
        rest.setTop(rest.top() + child->height());
    }
    for (QWidget* child : children) {
        if (child->property("align").toString() != "alClient") continue;
        child->setGeometry(rest.left(), rest.top(), rest.width(), std::max(0, rest.height()));
    }
}

void TForm::Resized() {
    ++resizes_;
    AlignControls();
    Guard([this] { FormResize(); });
}

void TForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Resized();
}

void TForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    if (centreOnFirstShow_ && !shownBefore_) {
        if (QScreen* screen = QGuiApplication::primaryScreen())
            move(screen->availableGeometry().center() - rect().center());
    }
    shownBefore_ = true;
    Guard([this] { FormShow(); });
}

void TForm::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (modalLoop_ && !event->spontaneous()) modalLoop_->quit();
}

void TForm::closeEvent(QCloseEvent* event) {
    TCloseAction action = TCloseAction::caHide;
    Guard([&] { FormClose(action); });
    if (action == TCloseAction::caNone) {
        event->ignore();
        return;
    }
    if (modalLoop_ && modalResult_ == mrNone) modalResult_ = mrCancel;
    event->accept();
}

int TForm::ShowModal() {
    if (modalLoop_) return mrNone;
    modalResult_ = mrNone;
    setWindowModality(Qt::ApplicationModal);
    show();
    activateWindow();
    QEventLoop loop;
    modalLoop_ = &loop;
    if (isVisible()) loop.exec(QEventLoop::DialogExec);
    modalLoop_ = nullptr;
    return modalResult_ == mrNone ? mrCancel : modalResult_;
}

void TForm::SetKeyPreview(bool on) {
    keyPreview_ = on;
    for (QWidget* child : findChildren<QWidget*>()) {
        if (on)
            child->installEventFilter(this);
        else
            child->removeEventFilter(this);
    }
}

bool TForm::PreviewKey(QWidget* receiver, QKeyEvent* event) {
    if (event == previewed_ && previewedAt_ && previewedAt_ != receiver &&
        receiver->isAncestorOf(previewedAt_))
        return false;
    previewed_ = event;
    previewedAt_ = receiver;
    QString text = event->text();
    if (text.isEmpty()) return false;
    char16_t key = text.at(0).unicode();
    Guard([&] { FormKeyPress(key); });
    return key == 0;
}

bool TForm::eventFilter(QObject* watched, QEvent* event) {
    if (keyPreview_ && event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this)
        if (PreviewKey(static_cast<QWidget*>(watched), static_cast<QKeyEvent*>(event)))
            return true;
    return QWidget::eventFilter(watched, event);
}

void TForm::keyPressEvent(QKeyEvent* event) {
    if (keyPreview_ && PreviewKey(this, event)) return;
    QWidget::keyPressEvent(event);
}

}  // namespace sigillon
