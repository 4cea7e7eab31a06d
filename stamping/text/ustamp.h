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

namespace sigillon {

// Everything a render reads, taken from the text field and the size
// control at the moment of the press.
struct TextStampInput {
    QFont font;                  // the text field's font (pixel height set)
    QColor colour = Qt::black;   // the text field's font colour
    QColor background = Qt::white;  // the text field's background colour
    QString text;
    int sizeFactor = 3;          // the up-down control's position, 1 to 9
};

// The seven text colours the colour button cycles through, in its order,
// with the names the batch tool takes.
struct TextColour {
    const char* name;
    TColor value;  // 0x00BBGGRR
};
inline constexpr TextColour kTextColours[7] = {
    {"black", 0x00000000}, {"grey", 0x00808080},   {"blue", 0x00FF0000}, {"red", 0x000000FF},
    {"yellow", 0x0000FFFF}, {"green", 0x00008000}, {"purple", 0x00800080},
};

inline QColor ToQColor(TColor c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

// a * b / c rounded to the nearest integer, halves away from zero; 0 when c
// is 0. Point and pixel conversions use it.
int MulDiv(int a, int b, int c);

// Character height in pixels of the text drawn at the given factor: the
// field's height converted to points, times the factor, and back.
int StampCharacterHeight(int fieldHeightPixels, int sizeFactor, int dotsPerInch);

// The screen's logical resolution in dots per inch, as a whole number.
int ScreenDotsPerInch();

// The text field's font: bold sans serif with a character height of 13
// pixels. The batch tool renders with it too, so both give the same pixels.
QFont StampTextFieldFont();

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

// A new DepthDevice raster holding the image's pixels, top row first.
std::unique_ptr<TBitmap> BitmapFromImage(const QImage& image);

}  // namespace sigillon
