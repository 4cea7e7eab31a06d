#include "stamping/text/ustamp.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <cmath>
#include <cstring>

namespace sigillon {
namespace {

constexpr int kTextFlags = Qt::TextSingleLine | Qt::TextExpandTabs | Qt::TextShowMnemonic |
                           Qt::AlignLeft | Qt::AlignTop;

}  // namespace

int MulDiv(int a, int b, int c) {
    if (c == 0) return 0;
    std::int64_t product = std::int64_t(a) * b;
    std::int64_t half = std::abs(std::int64_t(c)) / 2;
    bool negative = (product < 0) != (c < 0);
    std::int64_t magnitude = (std::abs(product) + half) / std::abs(std::int64_t(c));
    return int(negative ? -magnitude : magnitude);
}

int StampCharacterHeight(int fieldHeightPixels, int sizeFactor, int dotsPerInch) {
    int points = MulDiv(fieldHeightPixels, 72, dotsPerInch);
    return MulDiv(points * sizeFactor, dotsPerInch, 72);
}

int ScreenDotsPerInch() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? int(std::lround(screen->logicalDotsPerInchY())) : 96;
}

QFont StampTextFieldFont() {
    QFont font;
    // Chinese and other text the first family lacks falls back to the second.
    font.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

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

void TStampLabel::SetLabelFont(const QFont& font) {
    QFont crisp = font;
    // Smoothed edges would blend into near-white pixels, which the stamp code
    // takes as opaque and burns in as a pale halo around the letters.
    crisp.setStyleStrategy(QFont::NoAntialias);
    setFont(crisp);
    AutoSize();
}

QSize TStampLabel::MeasuredSize() const {
    QFontMetrics metrics(font());
    QString measured = caption_.isEmpty() ? QStringLiteral(" ") : caption_;
    // The width of the text as drawn, the height of one line of the font.
    return {metrics.size(kTextFlags, measured).width(), metrics.height()};
}

void TStampLabel::AutoSize() { resize(MeasuredSize()); }

void TStampLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), colour_);
    painter.setPen(fontColour_);
    painter.setFont(font());
    painter.drawText(rect(), kTextFlags, caption_);
}

Tfstamp::Tfstamp(QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::Tool), label_(new TStampLabel(this)) {
    setObjectName(QStringLiteral("fstamp"));
    setAttribute(Qt::WA_DontShowOnScreen);
}

Tfstamp::~Tfstamp() = default;

std::unique_ptr<TBitmap> Tfstamp::RenderTextStamp(const TextStampInput& input) {
    QFont font = input.font;
    int fieldHeight = font.pixelSize() > 0
                          ? font.pixelSize()
                          : MulDiv(int(std::lround(font.pointSizeF())), ScreenDotsPerInch(), 72);
    font.setPixelSize(StampCharacterHeight(fieldHeight, input.sizeFactor, ScreenDotsPerInch()));
    label_->SetLabelFont(font);
    label_->SetFontColour(input.colour);
    label_->SetColour(input.background);
    label_->SetCaption(input.text);
    resize(label_->size());

    // The window colour shows nowhere: the label covers the whole client area.
    QImage image(size(), QImage::Format_RGB32);
    image.fill(palette().color(QPalette::Button));
    render(&image, QPoint(0, 0), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return BitmapFromImage(image);
}

std::unique_ptr<TBitmap> BitmapFromImage(const QImage& source) {
    QImage image = source.format() == QImage::Format_RGB32
                       ? source
                       : source.convertToFormat(QImage::Format_RGB32);
    // Format_RGB32 holds blue, green, red, 0xFF in memory: the byte order of
    // our 32-bit rows.
    return TBitmap::FromRows(image.width(), image.height(), DepthDevice,
                             [&](std::int32_t y, std::uint8_t* to) {
                                 std::memcpy(to, image.constScanLine(y),
                                             std::size_t(image.width()) * 4);
                             });
}

}  // namespace sigillon
