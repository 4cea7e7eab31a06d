#include "app/toolkit/raster_paint.h"

#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace sigillon {
namespace {

// Rows converted per band: about 256 KiB of screen colours at a time.
int BandRows(int width) { return std::max(1, 65536 / std::max(1, width)); }

}  // namespace

RowReader::RowReader(const TBitmap& picture) : picture_(picture), layout_(Layout::Other) {
    const TBitmapImage& image = picture.Image();
    const ColorMasks plain{0xFF0000, 0x00FF00, 0x0000FF};
    switch (image.bitsPerPixel) {
        case 24: layout_ = Layout::Bgr24; break;
        case 32:
            if (image.deviceDependent || !image.hasMasks || image.masks == plain)
                layout_ = Layout::Bgrx32;
            break;
        case 8: layout_ = Layout::Index8; break;
        case 4: layout_ = Layout::Index4; break;
        case 1: layout_ = Layout::Index1; break;
        default: break;
    }
    palette_.fill(0xFF000000u);
    std::size_t entries = std::min<std::size_t>(image.palette.size(), palette_.size());
    for (std::size_t i = 0; i < entries; ++i) palette_[i] = ScreenColor(image.palette[i]);
}

std::uint32_t RowReader::ReadOne(const std::uint8_t* row, std::int32_t x) const {
    switch (layout_) {
        case Layout::Bgr24: {
            const std::uint8_t* p = row + 3 * std::int64_t(x);
            return 0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        }
        case Layout::Bgrx32: {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * std::int64_t(x), 4);
            return 0xFF000000u | (v & 0x00FFFFFFu);
        }
        case Layout::Index8: return palette_[row[x]];
        case Layout::Index4: return palette_[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)];
        case Layout::Index1: return palette_[(row[x >> 3] >> (7 - (x & 7))) & 1];
        case Layout::Other: break;
    }
    return ScreenColor(ReadPixel(picture_.Image(), row, x));
}

void RowReader::ReadSpan(std::int32_t y, std::int32_t x0, std::int32_t count,
                         std::uint32_t* out) const {
    const std::uint8_t* row = picture_.RowAddress(y);
    if (layout_ == Layout::Bgr24) {
        // The common case, a photograph: kept free of per-pixel dispatch.
        const std::uint8_t* p = row + 3 * std::int64_t(x0);
        for (std::int32_t i = 0; i < count; ++i, p += 3)
            out[i] = 0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) out[i] = ReadOne(row, x0 + i);
}

void RowReader::ReadColumns(std::int32_t y, const std::int32_t* columns, std::int32_t count,
                            std::uint32_t* out) const {
    const std::uint8_t* row = picture_.RowAddress(y);
    if (layout_ == Layout::Bgr24) {
        for (std::int32_t i = 0; i < count; ++i) {
            const std::uint8_t* p = row + 3 * std::int64_t(columns[i]);
            out[i] = 0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        }
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) out[i] = ReadOne(row, columns[i]);
}

void PaintPicture(QPainter& painter, const TBitmap& picture, const QRect& exposed) {
    if (picture.IsEmpty()) return;
    QRect area = exposed & QRect(0, 0, picture.Width(), picture.Height());
    if (area.isEmpty()) return;
    RowReader reader(picture);
    int rows = std::min(area.height(), BandRows(area.width()));
    QImage band(area.width(), rows, QImage::Format_RGB32);
    for (int top = area.top(); top <= area.bottom(); top += rows) {
        int count = std::min(rows, area.bottom() + 1 - top);
        for (int i = 0; i < count; ++i)
            reader.ReadSpan(top + i, area.left(), area.width(),
                            reinterpret_cast<std::uint32_t*>(band.scanLine(i)));
        painter.drawImage(QPoint(area.left(), top), band, QRect(0, 0, area.width(), count));
    }
}

void PaintPictureStretched(QPainter& painter, const TBitmap& picture, QSize target,
                           const QRect& exposed) {
    if (picture.IsEmpty() || target.isEmpty()) return;
    QRect area = exposed & QRect(QPoint(0, 0), target);
    if (area.isEmpty()) return;
    RowReader reader(picture);
    std::vector<std::int32_t> columns(area.width());
    for (int i = 0; i < area.width(); ++i)
        columns[i] = SourceIndex(area.left() + i, picture.Width(), target.width());
    int rows = std::min(area.height(), BandRows(area.width()));
    QImage band(area.width(), rows, QImage::Format_RGB32);
    std::int32_t previous = -1;
    for (int top = area.top(); top <= area.bottom(); top += rows) {
        int count = std::min(rows, area.bottom() + 1 - top);
        for (int i = 0; i < count; ++i) {
            std::int32_t source = SourceIndex(top + i, picture.Height(), target.height());
            auto* line = reinterpret_cast<std::uint32_t*>(band.scanLine(i));
            if (source == previous && i > 0)
                std::memcpy(line, band.scanLine(i - 1), std::size_t(area.width()) * 4);
            else
                reader.ReadColumns(source, columns.data(), area.width(), line);
            previous = source;
        }
        painter.drawImage(QPoint(area.left(), top), band, QRect(0, 0, area.width(), count));
    }
}

QSize FitInside(QSize picture, QSize box) {
    if (picture.isEmpty() || box.isEmpty()) return {0, 0};
    if (picture.width() <= box.width() && picture.height() <= box.height()) return picture;
    double scale = std::min(double(box.width()) / picture.width(),
                            double(box.height()) / picture.height());
    int width = std::max(1, int(std::lround(picture.width() * scale)));
    int height = std::max(1, int(std::lround(picture.height() * scale)));
    return {std::min(width, box.width()), std::min(height, box.height())};
}

}  // namespace sigillon
