#include "stamping/text/text_stamp.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QScreen>
#include <cmath>
#include <cstring>
#include <string>

namespace sigillon {
namespace {

constexpr int kTextFlags = Qt::TextSingleLine | Qt::TextExpandTabs | Qt::TextShowMnemonic |
                           Qt::AlignLeft | Qt::AlignTop;

std::string SizeText(const QSize& size) {
    return std::to_string(size.width()) + " x " + std::to_string(size.height()) + " pixels";
}

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

QFont TextStampFont(const QFont& fieldFont, int sizeFactor) {
    QFont font = fieldFont;
    int dotsPerInch = ScreenDotsPerInch();
    int fieldHeight = font.pixelSize() > 0
                          ? font.pixelSize()
                          : MulDiv(int(std::lround(font.pointSizeF())), dotsPerInch, 72);
    font.setPixelSize(StampCharacterHeight(fieldHeight, sizeFactor, dotsPerInch));
    // Smoothed edges would blend into near-white pixels, which the stamp code
    // takes as opaque and burns in as a pale halo around the letters.
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

QSize MeasureTextStamp(const QFont& font, const QString& text) {
    QFontMetrics metrics(font);
    QString measured = text.isEmpty() ? QStringLiteral(" ") : text;
    return {metrics.size(kTextFlags, measured).width(), metrics.height()};
}

void DrawTextStamp(QPainter& painter, const QRect& rect, const QFont& font, const QColor& colour,
                   const QColor& background, const QString& text) {
    painter.fillRect(rect, background);
    painter.setPen(colour);
    painter.setFont(font);
    // As a window draws: left to right whatever the text's own direction.
    painter.setLayoutDirection(Qt::LeftToRight);
    painter.drawText(rect, kTextFlags, text);
}

std::unique_ptr<TBitmap> RenderText(const QFont& font, const QColor& colour,
                                    const QColor& background, const QString& text) {
    QSize size = MeasureTextStamp(font, text);
    if (size.isEmpty()) return std::make_unique<TBitmap>();
    // Refused before the drawing surface is made: the raster it becomes
    // could not be held either.
    if (!CanHoldRows(size.width(), size.height(), 32))
        throw BitmapError("a text stamp of " + SizeText(size) + " is too large to hold");
    QImage image(size, QImage::Format_RGB32);
    if (image.isNull())
        throw BitmapError("out of memory for a text stamp of " + SizeText(size));
    {
        QPainter painter(&image);
        if (!painter.isActive())
            throw BitmapError("a text stamp of " + SizeText(size) + " could not be drawn");
        DrawTextStamp(painter, image.rect(), font, colour, background, text);
    }
    return BitmapFromImage(image);
}

std::unique_ptr<TBitmap> RenderTextStamp(const TextStampInput& input) {
    return RenderText(TextStampFont(input.font, input.sizeFactor), input.colour, input.background,
                      input.text);
}

std::unique_ptr<TBitmap> BitmapFromImage(const QImage& source) {
    if (source.isNull() || source.width() <= 0 || source.height() <= 0)
        return std::make_unique<TBitmap>();
    QImage image = source.format() == QImage::Format_RGB32
                       ? source
                       : source.convertToFormat(QImage::Format_RGB32);
    if (image.isNull()) throw BitmapError("out of memory for a copy of the drawn image");
    // Format_RGB32 holds blue, green, red, 0xFF in memory; our 32-bit pixels
    // are blue, green, red and an unused byte that is always written as 0.
    const int width = image.width();
    return TBitmap::FromRows(width, image.height(), DepthDevice,
                             [&image, width](std::int32_t row, std::uint8_t* bytes) {
                                 const uchar* from = image.constScanLine(row);
                                 std::memcpy(bytes, from, std::size_t(width) * 4);
                                 for (int x = 0; x < width; ++x) bytes[4 * x + 3] = 0;
                             });
}

}  // namespace sigillon
