// What window definitions name that the platform does not have as such:
// the fonts of the definitions and the artwork compiled into the program.
#pragma once

#include <QFont>
#include <QString>
#include <memory>

#include "pictures/raster/bitmap.h"

class QWidget;

namespace sigillon {

// The font a definition names, as "name,height[,bold][,underline]". A
// negative height is the character height in pixels, as the definitions
// give it; it is kept exact. "MS Sans Serif" and "System" are not present
// here and become DejaVu Sans, with WenQuanYi Micro Hei for the Chinese
// characters DejaVu Sans lacks.
QFont DesignFont(const QString& definition);

// Gives every widget under root (root included) that carries a "designFont"
// property that font, and every one with a "fontColor" property (a colour
// name such as "#0000ff") that text colour. Children without a font of
// their own inherit it, as in the definitions.
void ApplyDesignFonts(QWidget* root);

// A BMP picture compiled into the program; an empty picture when the
// resource is missing or unreadable, so a window still comes up without it.
std::unique_ptr<TBitmap> LoadResourceBitmap(const QString& path);

// A UTF-8 text compiled into the program; empty when missing.
QString LoadResourceText(const QString& path);

}  // namespace sigillon
