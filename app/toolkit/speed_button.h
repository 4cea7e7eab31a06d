// TSpeedButton: a flat button with its glyph above its caption.
//
// The button keeps its own copy of a glyph (the caller may release its
// raster at once); the colour of the glyph's bottom-left pixel is
// see-through. A disabled button draws the glyph and caption greyed. The
// hint is the button's own tool tip, shown whatever the window's setting.
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QString>
#include <cstdint>

#include "pictures/raster/bitmap.h"

namespace sigillon {

class TSpeedButton : public QAbstractButton {
    Q_OBJECT
    Q_PROPERTY(QString glyphResource READ GlyphResource WRITE setGlyphResource)
    Q_PROPERTY(int tag READ Tag WRITE setTag)

public:
    explicit TSpeedButton(QWidget* parent = nullptr);

    // Takes a copy of the glyph; an empty picture removes it.
    void SetGlyph(const TBitmap& glyph);
    // The glyph as drawn: see-through where the glyph has its transparent
    // colour. Null without a glyph.
    const QImage& Glyph() const { return glyph_; }

    // Reads the glyph from a BMP file compiled into the program.
    void setGlyphResource(const QString& path);
    QString GlyphResource() const { return glyphResource_; }

    std::int32_t Tag() const { return tag_; }
    void setTag(std::int32_t tag) { tag_ = tag; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QImage glyph_;
    QImage greyGlyph_;
    QString glyphResource_;
    std::int32_t tag_ = 0;
    bool hovered_ = false;
};

// The glyph as the button draws it, and its greyed form.
QImage GlyphImage(const TBitmap& glyph);
QImage GreyedGlyph(const QImage& glyph, const QPalette& palette);

}  // namespace sigillon
