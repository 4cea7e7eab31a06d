// Painting a TBitmap on the screen straight from its rows.
//
// Only the exposed part is converted, a band of rows at a time, so painting
// never keeps a converted copy of the whole picture: a 6000 x 4000 picture
// costs its own storage and no more.
#pragma once

#include <QRect>
#include <QSize>
#include <array>
#include <cstdint>

#include "pictures/bitmap.h"

class QPainter;

namespace sigillon {

// The screen form of a colour: 0xFFRRGGBB.
inline constexpr std::uint32_t ScreenColor(TColor c) {
    return 0xFF000000u | (std::uint32_t(RedOf(c)) << 16) | (std::uint32_t(GreenOf(c)) << 8) |
           BlueOf(c);
}

// Reads the rows of one picture as screen colours, whatever its format and
// storage order. The picture must not change while a reader is in use.
class RowReader {
public:
    explicit RowReader(const TBitmap& picture);

    // Columns x0 .. x0 + count - 1 of row y, all inside the picture.
    void ReadSpan(std::int32_t y, std::int32_t x0, std::int32_t count, std::uint32_t* out) const;
    // The listed columns of row y, all inside the picture.
    void ReadColumns(std::int32_t y, const std::int32_t* columns, std::int32_t count,
                     std::uint32_t* out) const;

private:
    enum class Layout { Bgr24, Bgrx32, Index8, Index4, Index1, Other };
    std::uint32_t ReadOne(const std::uint8_t* row, std::int32_t x) const;

    const TBitmap& picture_;
    Layout layout_;
    std::array<std::uint32_t, 256> palette_{};
};

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
