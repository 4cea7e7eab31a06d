#include "app/toolkit/controls.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPalette>
#include <QScrollBar>
#include <QToolButton>
#include <algorithm>

#include "app/toolkit/application.h"

namespace sigillon {

// --- TScrollBox ------------------------------------------------------------

TScrollBox::TScrollBox(QWidget* parent) : QScrollArea(parent) {
    setWidgetResizable(false);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(true);
    // The box only scrolls; the keyboard belongs to the panel's controls.
    // Qt's scroll areas take the focus on Tab and on a click, which would
    // put a tab stop on the picture and pull the focus out of the text field.
    setFocusPolicy(Qt::NoFocus);
}

QColor TScrollBox::Color() const { return viewport()->palette().color(QPalette::Window); }

void TScrollBox::setColor(const QColor& colour) {
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Window, colour);
    viewport()->setPalette(palette);
}

int TScrollBox::HorzPosition() const { return horizontalScrollBar()->value(); }
int TScrollBox::VertPosition() const { return verticalScrollBar()->value(); }
void TScrollBox::SetHorzPosition(int position) { horizontalScrollBar()->setValue(position); }
void TScrollBox::SetVertPosition(int position) { verticalScrollBar()->setValue(position); }

void TScrollBox::TrackContent() {
    if (!widget()) setWidget(new QWidget);
    QWidget* content = widget();
    content->setAutoFillBackground(false);
    content->installEventFilter(this);
    for (QWidget* child : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        child->installEventFilter(this);
    UpdateRange();
}

bool TScrollBox::eventFilter(QObject* watched, QEvent* event) {
    QWidget* content = widget();
    if (content && watched == content) {
        if (event->type() == QEvent::ChildAdded) {
            auto* added = static_cast<QChildEvent*>(event);
            if (added->child()->isWidgetType()) added->child()->installEventFilter(this);
            UpdateRange();
        } else if (event->type() == QEvent::ChildRemoved) {
            UpdateRange();
        }
    } else if (content && watched->parent() == content) {
        switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::Hide: UpdateRange(); break;
            default: break;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

void TScrollBox::UpdateRange() {
    QWidget* content = widget();
    if (!content) return;
    int right = 0;
    int bottom = 0;
    for (QWidget* child : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isHidden()) continue;
        right = std::max(right, child->x() + child->width());
        bottom = std::max(bottom, child->y() + child->height());
    }
    if (content->size() != QSize(right, bottom)) content->resize(right, bottom);
}

// --- TEdit -------------------------------------------------------------------

TEdit::TEdit(QWidget* parent) : QLineEdit(parent) {}

QColor TEdit::Color() const { return palette().color(QPalette::Base); }

void TEdit::setColor(const QColor& colour) {
    QPalette p = palette();
    p.setColor(QPalette::Base, colour);
    setPalette(p);
}

TColor TEdit::FontColor() const {
    QColor c = palette().color(QPalette::Text);
    return RGBColor(std::uint8_t(c.red()), std::uint8_t(c.green()), std::uint8_t(c.blue()));
}

void TEdit::SetFontColor(TColor colour) {
    QPalette p = palette();
    p.setColor(QPalette::Text, QColor(RedOf(colour), GreenOf(colour), BlueOf(colour)));
    setPalette(p);
}

void TEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    deselect();
}

void TEdit::mousePressEvent(QMouseEvent* event) {
    QLineEdit::mousePressEvent(event);
    pressed_ = event->button() == Qt::LeftButton;
}

// A click is a press and a release both inside the field; a drag that ends
// outside it (selecting text, say) is none.
void TEdit::mouseReleaseEvent(QMouseEvent* event) {
    QLineEdit::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) return;
    bool click = pressed_ && rect().contains(event->position().toPoint());
    pressed_ = false;
    if (click && OnClick) Guard(OnClick);
}

// --- TUpDown -----------------------------------------------------------------

TUpDown::TUpDown(QWidget* parent)
    : QWidget(parent), prev_(new QToolButton(this)), next_(new QToolButton(this)) {
    setFocusPolicy(Qt::StrongFocus);
    for (QToolButton* arrow : {prev_, next_}) {
        arrow->setFocusPolicy(Qt::NoFocus);
        arrow->setAutoRepeat(true);
    }
    connect(prev_, &QToolButton::clicked, this, [this] { Press(TUDBtnType::btPrev); });
    connect(next_, &QToolButton::clicked, this, [this] { Press(TUDBtnType::btNext); });
    Arrange();
}

void TUpDown::setMin(int value) {
    min_ = value;
    position_ = std::max(position_, min_);
}

void TUpDown::setMax(int value) {
    max_ = value;
    position_ = std::min(position_, max_);
}

void TUpDown::setPosition(int value) { position_ = std::clamp(value, min_, std::max(min_, max_)); }

void TUpDown::setOrientation(Qt::Orientation orientation) {
    orientation_ = orientation;
    Arrange();
}

void TUpDown::Press(TUDBtnType button) {
    int next = position_ + (button == TUDBtnType::btNext ? 1 : -1);
    if (next > max_) next = wrap_ ? min_ : max_;
    if (next < min_) next = wrap_ ? max_ : min_;
    if (next == position_) return;
    position_ = next;
    if (OnClick) Guard([&] { OnClick(button); });
}

void TUpDown::resizeEvent(QResizeEvent*) { Arrange(); }

void TUpDown::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Right:
        case Qt::Key_Up: Press(TUDBtnType::btNext); break;
        case Qt::Key_Left:
        case Qt::Key_Down: Press(TUDBtnType::btPrev); break;
        default: QWidget::keyPressEvent(event); return;
    }
}

void TUpDown::Arrange() {
    if (orientation_ == Qt::Horizontal) {
        int half = width() / 2;
        prev_->setArrowType(Qt::LeftArrow);
        next_->setArrowType(Qt::RightArrow);
        prev_->setGeometry(0, 0, half, height());
        next_->setGeometry(half, 0, width() - half, height());
    } else {
        int half = height() / 2;
        next_->setArrowType(Qt::UpArrow);
        prev_->setArrowType(Qt::DownArrow);
        next_->setGeometry(0, 0, width(), half);
        prev_->setGeometry(0, half, width(), height() - half);
    }
}

// --- TLabel ------------------------------------------------------------------

TLabel::TLabel(QWidget* parent) : QLabel(parent) {}

void TLabel::SetCaption(const QString& caption) {
    setText(caption);
    if (autoSize_) adjustSize();
}

void TLabel::setAutoSize(bool on) {
    autoSize_ = on;
    if (on) adjustSize();
}

void TLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->pos()) && OnClick)
        Guard(OnClick);
}

}  // namespace sigillon
