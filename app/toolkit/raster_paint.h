// Painting a TBitmap on the screen straight from its rows.
//
// Only the exposed part is converted, a band of rows at a time, so painting
// never keeps a converted copy of the whole picture: a 6000 x 4000 picture
// costs its own storage and no more.
#pragma once

#include <QRect>
#include <QSize>
#include <cstdint>

#include "pictures/raster/bitmap.h"
#include "pictures/raster/screen_rows.h"

class QPainter;

namespace sigillon {

// The source column (or row) that a target column shows when a picture of
// sourceSize is stretched to targetSize: plain sampling, nothing blended.
inline std::int32_t SourceIndex(std::int32_t target, std::int32_t sourceSize,
                                std::int32_t targetSize) {
    return std::int32_t(std::int64_t(target) * sourceSize / targetSize);
}

// Paints the exposed part of the picture drawn at its own size with its
// top-left corner at the painter's origin.
void PaintPicture(QPainter& painter, const TBitmap& picture, const QRect& exposed);

// Paints the exposed part of the picture stretched to a target rectangle
// at the origin, sampling only the pixels that are shown.
void PaintPictureStretched(QPainter& painter, const TBitmap& picture, QSize target,
                           const QRect& exposed);

// The largest size of the picture's proportions that fits the box, never
// larger than the picture itself (at least 1 x 1 for a non-empty picture).
QSize FitInside(QSize picture, QSize box);

}  // namespace sigillon
