#include "app/batch/stamp_scaling.h"

#include <QImage>
#include <algorithm>

namespace sigillon::batch {

StampImage ScaleStamp(const StampImage& source, std::int32_t width) {
    const StampImage stamp = WithAlpha(source);
    const std::int32_t sw = stamp.Width(), sh = stamp.Height();
    const std::int32_t height = std::int32_t(
        std::max<std::int64_t>(1, (std::int64_t(sh) * width + sw / 2) / std::max(1, sw)));

    // Premultiplied: a transparent pixel adds nothing to its neighbours.
    QImage image(sw, sh, QImage::Format_ARGB32_Premultiplied);
    for (std::int32_t y = 0; y < sh; ++y) {
        const std::uint8_t* p = stamp.pixels->RowAddress(y);
        const std::uint8_t* a = &stamp.alpha[std::size_t(y) * std::size_t(sw)];
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (std::int32_t x = 0; x < sw; ++x, p += 3)
            line[x] = qPremultiply(qRgba(p[2], p[1], p[0], a[x]));
    }
    // Qt's smooth scaling averages the area each target pixel covers when
    // it shrinks, and interpolates when it enlarges.
    const QImage scaled = image.scaled(width, height, Qt::IgnoreAspectRatio,
                                       Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32);

    StampImage result;
    result.alpha.resize(std::size_t(width) * std::size_t(height));
    result.pixels = TBitmap::FromRows(width, height, Depth24, [&](std::int32_t y, std::uint8_t* row) {
        const auto* line = reinterpret_cast<const QRgb*>(scaled.constScanLine(y));
        for (std::int32_t x = 0; x < width; ++x) {
            row[3 * x] = std::uint8_t(qBlue(line[x]));
            row[3 * x + 1] = std::uint8_t(qGreen(line[x]));
            row[3 * x + 2] = std::uint8_t(qRed(line[x]));
            result.alpha[std::size_t(y) * std::size_t(width) + std::size_t(x)] =
                std::uint8_t(qAlpha(line[x]));
        }
    });
    return result;
}

}  // namespace sigillon::batch
