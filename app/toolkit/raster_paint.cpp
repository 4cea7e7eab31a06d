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
