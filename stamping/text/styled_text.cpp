#include "stamping/text/styled_text.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QGlyphRun>
#include <QPainter>
#include <QPainterPath>
#include <QRawFont>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "stamping/text/text_stamp.h"

namespace sigillon {
namespace {

bool NamesAFile(const std::string& font) {
    const QString name = QString::fromStdString(font).toLower();
    return name.contains('/') || name.endsWith(".ttf") || name.endsWith(".otf") ||
           name.endsWith(".ttc");
}

// Three box blurs in a row come close to a Gaussian; each pass has this
// radius, and together they spread a pixel by three times it.
int BlurPassRadius(int blur) { return blur <= 0 ? 0 : std::max(1, (blur + 2) / 3); }

// One box-blur pass along rows (or columns) of premultiplied pixels: each
// value the rounded mean of the 2r + 1 around it, zero beyond the edges.
void BoxBlurPass(QImage& image, int r, bool alongRows) {
    const int w = image.width(), h = image.height();
    const int lines = alongRows ? h : w, length = alongRows ? w : h;
    const int span = 2 * r + 1;
    std::vector<std::uint8_t> from(std::size_t(length) * 4);
    std::uint8_t* bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    for (int line = 0; line < lines; ++line) {
        auto at = [&](int i) -> std::uint8_t* {
            return alongRows ? bits + line * stride + 4 * i : bits + i * stride + 4 * line;
        };
        for (int i = 0; i < length; ++i) std::copy_n(at(i), 4, &from[std::size_t(i) * 4]);
        for (int k = 0; k < 4; ++k) {
            int sum = 0;
            for (int i = 0; i < std::min(r, length); ++i) sum += from[std::size_t(i) * 4 + k];
            for (int i = 0; i < length; ++i) {
                if (i + r < length) sum += from[std::size_t(i + r) * 4 + k];
                if (i - r - 1 >= 0) sum -= from[std::size_t(i - r - 1) * 4 + k];
                at(i)[k] = std::uint8_t((sum + span / 2) / span);
            }
        }
    }
}

void Blur(QImage& image, int blur) {
    const int r = BlurPassRadius(blur);
    for (int pass = 0; r > 0 && pass < 3; ++pass) {
        BoxBlurPass(image, r, true);
        BoxBlurPass(image, r, false);
    }
}

// The outlines of every glyph the layout placed, at the layout's origin.
QPainterPath GlyphOutlines(const QTextLayout& layout) {
    QPainterPath path;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QRawFont font = run.rawFont();
        const QList<quint32> glyphs = run.glyphIndexes();
        const QList<QPointF> positions = run.positions();
        for (qsizetype i = 0; i < glyphs.size(); ++i) {
            QPainterPath glyph = font.pathForGlyph(glyphs[i]);
            glyph.translate(positions[i]);
            path.addPath(glyph);
        }
    }
    path.setFillRule(Qt::WindingFill);
    return path;
}

}  // namespace

std::optional<QFont> StyledTextFont(const std::string& font, int sizeFactor, std::string& problem) {
    QFont field = StampTextFieldFont();
    if (!font.empty()) {
        QString family = QString::fromStdString(font);
        if (NamesAFile(font)) {
            const int id = QFontDatabase::addApplicationFont(family);
            const QStringList families =
                id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
            if (families.isEmpty()) {
                problem = "--font " + font +
                          (QFileInfo(family).isReadable() ? ": the file holds no font that can be used"
                                                          : ": cannot read the file");
                return std::nullopt;
            }
            family = families.front();
        } else if (!QFontDatabase::hasFamily(family)) {
            problem = "--font " + font + ": no such font family (fc-list lists them)";
            return std::nullopt;
        }
        QStringList families = field.families();
        families.prepend(family);
        field.setFamilies(families);
        field.setBold(false);
    }
    QFont sized = TextStampFont(field, sizeFactor);
    sized.setStyleStrategy(QFont::PreferAntialias);
    // Unhinted, the letters drawn land where their outlines are stroked.
    sized.setHintingPreference(QFont::PreferNoHinting);
    return sized;
}

StyledTextInput StyledInput(const TextStyle& style, TColor textColour, const QFont& font,
                            const QString& text) {
    const TColor colour = style.colour.value_or(textColour);
    StyledTextInput input;
    input.font = font;
    input.colour = ToQColor(colour);
    input.text = text;
    input.outline = style.outline;
    input.outlineColour = ToQColor(style.outlineColour.value_or(ContrastingColour(colour)));
    input.shadow = style.shadow;
    input.shadowOffset = QPoint(style.shadowDx, style.shadowDy);
    input.shadowColour = ToQColor(style.shadowColour.value_or(ContrastingColour(colour)));
    input.shadowBlur = style.shadowBlur;
    return input;
}

QImage RenderStyledText(const StyledTextInput& input) {
    QString text = input.text;
    text.replace('\n', ' ').replace('\r', ' ');
    QTextLayout layout(text, input.font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    option.setTextDirection(Qt::LeftToRight);
    layout.setTextOption(option);
    layout.setCacheEnabled(true);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    if (line.isValid()) {
        line.setLineWidth(1e7);
        line.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
    if (!line.isValid()) return {};

    const QPainterPath outlines = GlyphOutlines(layout);
    const QRectF letters =
        outlines.boundingRect().united(QRectF(0, 0, line.naturalTextWidth(), line.height()));
    const QRectF outlined = letters.adjusted(-input.outline, -input.outline, input.outline,
                                             input.outline);
    QRectF all = outlined;
    const int spread = 3 * BlurPassRadius(input.shadowBlur);
    if (input.shadow)
        all = all.united(
            outlined.adjusted(-spread, -spread, spread, spread).translated(input.shadowOffset));
    const QRect canvas = all.toAlignedRect();
    if (canvas.isEmpty() || outlines.isEmpty()) return {};
    if (!CanHoldRows(canvas.width(), canvas.height(), 32))
        throw BitmapError("a text stamp of " + std::to_string(canvas.width()) + " x " +
                          std::to_string(canvas.height()) + " pixels is too large to hold");

    // Everything is drawn with the layout's origin at origin.
    const QPointF origin = -QPointF(canvas.topLeft());
    const QPen outlinePen(input.outlineColour, 2.0 * input.outline, Qt::SolidLine, Qt::RoundCap,
                          Qt::RoundJoin);
    auto prepare = [](QPainter& painter) {
        painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    };
    QImage image(canvas.size(), QImage::Format_ARGB32_Premultiplied);
    if (image.isNull()) throw BitmapError("out of memory for a text stamp");
    image.fill(Qt::transparent);
    if (input.shadow) {
        QImage shadow(canvas.size(), QImage::Format_ARGB32_Premultiplied);
        if (shadow.isNull()) throw BitmapError("out of memory for a text stamp's shadow");
        shadow.fill(Qt::transparent);
        {
            QPainter painter(&shadow);
            prepare(painter);
            painter.translate(origin + QPointF(input.shadowOffset));
            painter.fillPath(outlines, input.shadowColour);
            if (input.outline > 0)
                painter.strokePath(outlines, QPen(input.shadowColour, outlinePen.widthF(),
                                                  Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        }
        Blur(shadow, input.shadowBlur);
        QPainter(&image).drawImage(0, 0, shadow);
    }
    QPainter painter(&image);
    prepare(painter);
    if (input.outline > 0) {
        painter.save();
        painter.translate(origin);
        painter.strokePath(outlines, outlinePen);
        painter.restore();
    }
    painter.setPen(input.colour);
    layout.draw(&painter, origin);
    return image;
}

AlphaStamp AlphaStampFromImage(const QImage& source) {
    AlphaStamp stamp;
    if (source.isNull()) {
        stamp.pixels = std::make_unique<TBitmap>();
        return stamp;
    }
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) throw BitmapError("out of memory for a copy of the drawn text");
    const int width = image.width();
    stamp.alpha.resize(std::size_t(width) * std::size_t(image.height()));
    stamp.pixels = TBitmap::FromRows(width, image.height(), Depth24,
                                     [&](std::int32_t y, std::uint8_t* row) {
        // Format_ARGB32 holds blue, green, red, alpha in memory.
        const uchar* from = image.constScanLine(y);
        std::uint8_t* alpha = &stamp.alpha[std::size_t(y) * std::size_t(width)];
        for (int x = 0; x < width; ++x) {
            alpha[x] = from[4 * x + 3];
            for (int k = 0; k < 3; ++k) row[3 * x + k] = alpha[x] == 0 ? 255 : from[4 * x + k];
        }
    });
    return stamp;
}

}  // namespace sigillon
