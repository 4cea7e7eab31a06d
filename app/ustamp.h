// The hidden text-stamp window fstamp: a borderless window, never shown,
// with one label Label1 that is given the text, the font and the colours of
// a text stamp and sizes itself to the text; the window shrinks to the
// label. The raster is drawn from what the label holds by the text
// renderer, which paints the label on the screen too, so the raster is the
// label's image.
#pragma once

#include <QColor>
#include <QString>
#include <QWidget>
#include <memory>

#include "pictures/raster/bitmap.h"
#include "stamping/text/text_stamp.h"

namespace sigillon {

class TStampLabel;

class Tfstamp : public QWidget {
public:
    explicit Tfstamp(QWidget* parent = nullptr);
    ~Tfstamp() override;

    // Gives the label the input's text, font at the size factor and colours,
    // shrinks the window to it and returns the label's image as a new
    // DepthDevice raster; the caller owns it. Throws BitmapError when the
    // raster cannot be made.
    std::unique_ptr<TBitmap> RenderTextStamp(const TextStampInput& input);

    TStampLabel* Label1() const { return label_; }

private:
    TStampLabel* label_;
};

// The label: one line, tabs expanded, an ampersand underlining the next
// character (a doubled one draws one), opaque in its own colour, sizing
// itself to its caption.
class TStampLabel : public QWidget {
public:
    explicit TStampLabel(QWidget* parent);

    void SetCaption(const QString& caption);
    QString Caption() const { return caption_; }
    void SetColour(const QColor& colour);  // the background it fills
    QColor Colour() const { return colour_; }
    void SetFontColour(const QColor& colour);
    QColor FontColour() const { return fontColour_; }

    // The extent the caption takes in the label's font; an empty caption is
    // measured as one space.
    QSize MeasuredSize() const;

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void AutoSize();

    QString caption_ = QStringLiteral("Label1");
    QColor colour_ = Qt::white;
    QColor fontColour_ = Qt::black;
};

}  // namespace sigillon
