#include "app/toolkit/capture.h"

#include <QImage>
#include <QWidget>
#include <cstring>

namespace sigillon {

std::unique_ptr<TBitmap> CaptureWindowImage(QWidget& window) {
    auto raster = std::make_unique<TBitmap>();
    int width = window.width();
    int height = window.height();
    if (width <= 0 || height <= 0) return raster;

    QImage image(width, height, QImage::Format_RGB32);
    image.fill(window.palette().color(window.backgroundRole()));
    window.render(&image, QPoint(), QRegion(),
                  QWidget::DrawWindowBackground | QWidget::DrawChildren);

    // Device-dependent storage is 32-bit rows, blue, green, red and a zero
    // byte.
    return TBitmap::FromRows(width, height, DepthDevice, [&](std::int32_t y, std::uint8_t* to) {
        const auto* from = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            std::uint32_t pixel = from[x] & 0x00FFFFFFu;
            std::memcpy(to + 4 * std::int64_t(x), &pixel, 4);
        }
    });
}

}  // namespace sigillon
