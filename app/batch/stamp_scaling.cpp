#include "app/batch/stamp_scaling.h"

#include <algorithm>
#include <cmath>

namespace sigillon::batch {

std::int32_t ScaledWidth(std::int32_t pictureWidth, int percent) {
    std::int64_t width = (std::int64_t(pictureWidth) * percent + 50) / 100;
    return std::int32_t(std::max<std::int64_t>(1, width));
}

StampImage WithAlpha(const StampImage& stamp) {
    if (!stamp.alpha.empty() || !stamp.pixels) return stamp;
    StampImage keyed{stamp.pixels, {}};
    const std::int32_t w = stamp.Width(), h = stamp.Height();
    keyed.alpha.resize(std::size_t(w) * std::size_t(h));
    for (std::int32_t y = 0; y < h; ++y) {
        const std::uint8_t* p = stamp.pixels->RowAddress(y);
        for (std::int32_t x = 0; x < w; ++x, p += 3)
            keyed.alpha[std::size_t(y) * std::size_t(w) + std::size_t(x)] =
                (p[0] == 255 && p[1] == 255 && p[2] == 255) ? 0 : 255;
    }
    return keyed;
}

}  // namespace sigillon::batch
