// Text stamps: a line of text drawn in the text field's font, colour and a
// size factor into a raster exactly as large as the text, on white. White is
// transparent to the stamp code, so only the letters reach the picture.
//
// Drawing needs Qt GUI only (a QPainter on a QImage) and a QGuiApplication,
// on any platform, the offscreen one included. The program's hidden text
// stamp window and the batch tool both draw through here, so both give the
// same pixels.
#pragma once

#include <QColor>
#include <QFont>
#include <QSize>
#include <QString>
#include <memory>

#include "pictures/raster/bitmap.h"
#include "stamping/text/text_colours.h"

class QImage;
class QPainter;
class QRect;

namespace sigillon {

// Everything a render reads, taken from the text field and the size
// control at the moment of the press.
struct TextStampInput {
    QFont font;                     // the text field's font (pixel height set)
    QColor colour = Qt::black;      // the text field's font colour
    QColor background = Qt::white;  // the text field's background colour
    QString text;
    int sizeFactor = 3;             // the up-down control's position, 1 to 9
};

inline QColor ToQColor(TColor c) { return QColor(RedOf(c), GreenOf(c), BlueOf(c)); }

// a * b / c rounded to the nearest integer, halves away from zero; 0 when c
// is 0. Point and pixel conversions use it.
int MulDiv(int a, int b, int c);

// Character height in pixels of the text drawn at the given factor: the
// field's height converted to points, times the factor, and back.
int StampCharacterHeight(int fieldHeightPixels, int sizeFactor, int dotsPerInch);

// The screen's logical resolution in dots per inch, as a whole number; 96
// without a screen.
int ScreenDotsPerInch();

// The text field's font: bold sans serif with a character height of 13
// pixels. The batch tool renders with it too, so both give the same pixels.
QFont StampTextFieldFont();

// The font a text stamp is drawn in: the field's font with the character
// height StampCharacterHeight gives for the factor, and unsmoothed edges.
QFont TextStampFont(const QFont& fieldFont, int sizeFactor);

// The extent the text takes in the font: one line, tabs expanded, an
// ampersand underlining the next character and not drawn itself (a doubled
// one draws one); the width of the text and the height of one line. An
// empty text is measured as one space.
QSize MeasureTextStamp(const QFont& font, const QString& text);

// Fills rect with the background and draws the text at its top-left corner
// in the colour, by the rules of MeasureTextStamp.
void DrawTextStamp(QPainter& painter, const QRect& rect, const QFont& font, const QColor& colour,
                   const QColor& background, const QString& text);

// A new DepthDevice raster of the text's extent holding the drawn text; the
// caller owns it. A text that draws nothing at all (a lone ampersand) gives
// an empty raster. Throws BitmapError, with the size, when the raster cannot
// be made.
std::unique_ptr<TBitmap> RenderText(const QFont& font, const QColor& colour,
                                    const QColor& background, const QString& text);

// RenderText of the input's text in TextStampFont of its font and factor.
std::unique_ptr<TBitmap> RenderTextStamp(const TextStampInput& input);

// A new DepthDevice raster holding the image's pixels, top row first; the
// unused fourth byte of each pixel is 0. An image of no area gives an empty
// raster.
std::unique_ptr<TBitmap> BitmapFromImage(const QImage& image);

}  // namespace sigillon
