#include "app/ustamp.h"

#include <QEvent>
#include <QPainter>

namespace sigillon {

TStampLabel::TStampLabel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Label1"));
    move(0, 0);
    AutoSize();
}

void TStampLabel::SetCaption(const QString& caption) {
    caption_ = caption;
    AutoSize();
}

void TStampLabel::SetColour(const QColor& colour) {
    colour_ = colour;
    update();
}

void TStampLabel::SetFontColour(const QColor& colour) {
    fontColour_ = colour;
    update();
}

QSize TStampLabel::MeasuredSize() const { return MeasureTextStamp(font(), caption_); }

void TStampLabel::AutoSize() { resize(MeasuredSize()); }

void TStampLabel::changeEvent(QEvent* event) {
    // A new font, given or inherited, sizes the label anew.
    if (event->type() == QEvent::FontChange) AutoSize();
    QWidget::changeEvent(event);
}

void TStampLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawTextStamp(painter, rect(), font(), fontColour_, colour_, caption_);
}

Tfstamp::Tfstamp(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Tool), label_(new TStampLabel(this)) {
    setObjectName(QStringLiteral("fstamp"));
    setAttribute(Qt::WA_DontShowOnScreen);
}

Tfstamp::~Tfstamp() = default;

std::unique_ptr<TBitmap> Tfstamp::RenderTextStamp(const TextStampInput& input) {
    label_->setFont(TextStampFont(input.font, input.sizeFactor));
    label_->SetFontColour(input.colour);
    label_->SetColour(input.background);
    label_->SetCaption(input.text);
    resize(label_->size());
    // The window colour shows nowhere: the label covers the whole client
    // area, so its image is the window's.
    return RenderText(label_->font(), label_->FontColour(), label_->Colour(), label_->Caption());
}

}  // namespace sigillon
