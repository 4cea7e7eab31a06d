// The arithmetic that decides window sizes and places: centring the picture
// view, fitting the main window to a picture, the minimum sizes, and the
// overview's snap to a picture's proportions. Plain functions, so that they
// can be checked without a window.
#pragma once

#include <optional>

namespace sigillon {

struct ClientSize {
    int width = 0;
    int height = 0;
    bool operator==(const ClientSize&) const = default;
};

// --- Main window -------------------------------------------------------------

// The size every new picture starts from: minwidth x minwidth / 2, the
// half truncated.
ClientSize StandardClientSize(int minwidth);

// The left edge that centres a view in the scroll box, (box - view) / 2
// truncated; none when the view is wider than the box.
std::optional<int> CentredLeft(int boxWidth, int viewWidth);

// The client height that fits a view below the panel; none when the view is
// as high as minwidth or higher (the width, not the height, is the bound).
std::optional<int> FittedClientHeight(int viewHeight, int panelHeight, int minwidth);

// The main window's minimum: minwidth wide, the panel plus 32 high.
ClientSize MainWindowMinimum(ClientSize client, int minwidth, int panelHeight);

// --- Overview ----------------------------------------------------------------

// The overview's proportion is held with a 40-bit significand, the width
// divided by the height in extended precision and rounded to nearest when
// stored. The snap depends on it: a 4:3 picture at a client width of 130
// gives 97.5 minus a little, hence 97; a 53-bit double would give 98.
using AspectRatioValue = long double;

// Rounds to the given number of significant bits, to nearest, ties to even.
long double RoundToSignificand(long double value, int bits);

// Width / height of a picture as the overview holds it.
AspectRatioValue AspectRatioOf(int width, int height);

// To the nearest integer, ties to even (32.5 -> 32, 33.5 -> 34).
int RoundTiesToEven(long double value);

// The snap: a landscape or square ratio keeps the client width and sets the
// height to width / ratio; a portrait one keeps the height and sets the
// width to height * ratio. A ratio of 0 changes nothing.
ClientSize SnapToAspect(ClientSize client, AspectRatioValue ratio);

// The overview's minimum client size, 32 x 32.
ClientSize OverviewMinimum(ClientSize client);

}  // namespace sigillon
