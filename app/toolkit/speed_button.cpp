#include "app/toolkit/speed_button.h"

#include <QPainter>

#include "app/toolkit/design.h"
#include "app/toolkit/raster_paint.h"

namespace sigillon {
namespace {

constexpr int kSpacing = 4;  // between glyph and caption

}  // namespace

QImage GlyphImage(const TBitmap& glyph) {
    if (glyph.IsEmpty()) return {};
    QImage image(glyph.Width(), glyph.Height(), QImage::Format_ARGB32);
    const std::uint32_t clear = ScreenColor(glyph.TransparentColor());
    RowReader reader(glyph);
    for (int y = 0; y < glyph.Height(); ++y) {
        auto* line = reinterpret_cast<std::uint32_t*>(image.scanLine(y));
        reader.ReadSpan(y, 0, glyph.Width(), line);
        for (int x = 0; x < glyph.Width(); ++x)
            if (line[x] == clear) line[x] = 0;
    }
    return image;
}

QImage GreyedGlyph(const QImage& glyph, const QPalette& palette) {
    // Dark pixels become the shadow colour over a highlight copy one pixel
    // down and right; light ones vanish. Every glyph reads as disabled.
    if (glyph.isNull()) return {};
    QImage mask(glyph.size(), QImage::Format_ARGB32);
    mask.fill(0);
    for (int y = 0; y < glyph.height(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(glyph.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(mask.scanLine(y));
        for (int x = 0; x < glyph.width(); ++x)
            if (qAlpha(from[x]) && qGray(from[x]) < 192) to[x] = 0xFF000000u;
    }
    QImage result(glyph.width() + 1, glyph.height() + 1, QImage::Format_ARGB32);
    result.fill(0);
    QPainter painter(&result);
    auto tinted = [&](const QColor& colour) {
        QImage copy = mask;
        QPainter p(&copy);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(copy.rect(), colour);
        return copy;
    };
    painter.drawImage(1, 1, tinted(palette.color(QPalette::Light)));
    painter.drawImage(0, 0, tinted(palette.color(QPalette::Dark)));
    return result;
}

TSpeedButton::TSpeedButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_Hover);
}

void TSpeedButton::SetGlyph(const TBitmap& glyph) {
    glyph_ = GlyphImage(glyph);
    greyGlyph_ = GreyedGlyph(glyph_, palette());
    update();
}

void TSpeedButton::setGlyphResource(const QString& path) {
    glyphResource_ = path;
    SetGlyph(*LoadResourceBitmap(path));
}

QSize TSpeedButton::sizeHint() const {
    QSize text = fontMetrics().size(Qt::TextSingleLine, this->text());
    int width = std::max(glyph_.width(), text.width()) + 8;
    int height = glyph_.height() + (text.isEmpty() ? 0 : kSpacing + text.height()) + 8;
    return {width, height};
}

void TSpeedButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void TSpeedButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void TSpeedButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    bool down = isDown() || isChecked();
    bool enabled = isEnabled();

    // Flat: a frame only while the pointer rests on the button or it is held.
    if (enabled && (down || hovered_)) {
        QColor light = palette().color(QPalette::Light);
        QColor dark = palette().color(QPalette::Dark);
        QRect r = rect().adjusted(0, 0, -1, -1);
        painter.setPen(down ? dark : light);
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(down ? light : dark);
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    }

    // Glyph and caption form one block, centred; a held button shifts it.
    QString caption = text();
    QSize textSize = caption.isEmpty() ? QSize(0, 0)
                                       : fontMetrics().size(Qt::TextSingleLine, caption);
    int gap = (!glyph_.isNull() && !caption.isEmpty()) ? kSpacing : 0;
    int blockHeight = glyph_.height() + gap + textSize.height();
    int top = (height() - blockHeight) / 2;
    int shift = down ? 1 : 0;

    if (!glyph_.isNull()) {
        QPoint at((width() - glyph_.width()) / 2 + shift, top + shift);
        painter.drawImage(at, enabled ? glyph_ : greyGlyph_);
    }
    if (!caption.isEmpty()) {
        QRect textRect(0, top + glyph_.height() + gap + shift, width(), textSize.height());
        textRect.translate(shift, 0);
        if (enabled) {
            painter.setPen(palette().color(QPalette::ButtonText));
            painter.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                             caption);
        } else {
            painter.setPen(palette().color(QPalette::Light));
            painter.drawText(textRect.translated(1, 1),
                             Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, caption);
            painter.setPen(palette().color(QPalette::Dark));
            painter.drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine,
                             caption);
        }
    }
}

}  // namespace sigillon
