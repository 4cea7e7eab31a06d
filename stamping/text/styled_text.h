// Text stamps in a style of their own (text_style.h): any font, any colour,
// an outline and a soft shadow, drawn smoothed into a raster with alpha.
//
// Qt's text layout shapes the text (HarfBuzz, with fontconfig finding
// fonts for what the chosen one lacks), so joined scripts such as Arabic
// and Chinese draw as they should. The text reads as one line, left to
// right as a whole, each run in its own direction. Unlike the desktop
// program's look, an ampersand is an ordinary character here.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPoint>
#include <QString>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "stamping/text/text_style.h"

namespace sigillon {

struct StyledTextInput {
    QFont font;
    QColor colour;
    QString text;
    int outline = 0;  // pixels
    QColor outlineColour;
    bool shadow = false;
    QPoint shadowOffset;
    QColor shadowColour;
    int shadowBlur = 0;  // pixels
};

// The font for a style's font setting at a size factor (the character
// height the desktop program's factor gives): the text field's font when
// none is set; otherwise the family named, or the family a .ttf, .otf or
// .ttc file holds (loaded for this process), in its regular face. Chinese
// and other text the font lacks falls back to the fonts the field's font
// uses. None, with the reason in problem, for a family fontconfig does not
// know or a file that holds no font Qt can use.
std::optional<QFont> StyledTextFont(const std::string& font, int sizeFactor, std::string& problem);

// The input for a style: textColour is the named colour, used when the style
// gives none; the outline and shadow take the contrasting colour when the
// style gives none.
StyledTextInput StyledInput(const TextStyle& style, TColor textColour, const QFont& font,
                            const QString& text);

// The text drawn with antialiasing on a transparent ground: the shadow
// (the text and its outline, in the shadow's colour, offset and blurred),
// then the outline, then the letters. The raster holds everything drawn,
// whichever way the shadow goes. Format_ARGB32_Premultiplied; a null image
// for a text that draws nothing. Throws BitmapError when it is too large.
QImage RenderStyledText(const StyledTextInput& input);

// A stamp with alpha from a premultiplied image: the colours divided by
// their alpha (white where nothing is drawn) and the alpha plane, top row
// first.
struct AlphaStamp {
    std::unique_ptr<TBitmap> pixels;  // Depth24
    std::vector<std::uint8_t> alpha;
};
AlphaStamp AlphaStampFromImage(const QImage& image);

}  // namespace sigillon
