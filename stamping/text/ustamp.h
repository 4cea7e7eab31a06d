// The hidden text-stamp window: a borderless window with one label, into
// which a text is drawn in the text field's font, colour and a size factor,
// and whose image is captured into a stamp raster exactly as large as the
// text. White is transparent to the stamp code, so only the letters reach
// the picture.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QWidget>
#include <memory>

#include "pictures/bitmap.h"
#include "stamping/text/text_stamp.h"

namespace sigillon {

class TStampLabel;

class Tfstamp : public QWidget {
public:
    explicit Tfstamp(QWidget* parent = nullptr);
    ~Tfstamp() override;

    // Draws the text into the label, shrinks the window to it and captures
    // the window into a new DepthDevice raster; the caller owns it.
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
    void SetColour(const QColor& colour);   // the background it fills
    void SetFontColour(const QColor& colour);
    void SetLabelFont(const QFont& font);

    // The extent the caption takes in the label's font; an empty caption is
    // measured as one space.
    QSize MeasuredSize() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void AutoSize();

    QString caption_ = QStringLiteral("Label1");
    QColor colour_ = Qt::white;
    QColor fontColour_ = Qt::black;
};

}  // namespace sigillon
