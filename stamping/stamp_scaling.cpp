#include "stamping/stamp_scaling.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <string>
#include <vector>

namespace sigillon {
namespace {

// The source pixels one target pixel takes along an axis: weights[n] for
// source pixel first + n, summing to 1.
struct Taps {
    std::int32_t first = 0;
    std::vector<float> weights;
};

std::vector<Taps> AxisTaps(std::int32_t from, std::int32_t to) {
    std::vector<Taps> taps(std::size_t(to), Taps{});
    if (to <= from) {
        // Counted in 1/to of a source pixel, target pixel i covers
        // [i*from, (i+1)*from) and source pixel j covers [j*to, (j+1)*to):
        // whole numbers, so the shares are exact.
        for (std::int32_t i = 0; i < to; ++i) {
            const std::int64_t begin = std::int64_t(i) * from, end = begin + from;
            Taps& t = taps[std::size_t(i)];
            t.first = std::int32_t(begin / to);
            for (std::int64_t j = t.first; j * to < end; ++j) {
                const std::int64_t overlap = std::min(end, (j + 1) * to) - std::max(begin, j * to);
                t.weights.push_back(float(double(overlap) / double(from)));
            }
        }
        return taps;
    }
    // Target pixel i's centre lies at source position
    // ((2i + 1) * from - to) / (2 * to), counting from the first source
    // pixel's centre.
    const std::int64_t unit = 2 * std::int64_t(to);
    for (std::int32_t i = 0; i < to; ++i) {
        const std::int64_t position = (2 * std::int64_t(i) + 1) * from - to;
        const std::int64_t j = position / unit;
        Taps& t = taps[std::size_t(i)];
        if (position <= 0 || j >= from - 1) {
            t.first = position <= 0 ? 0 : from - 1;
            t.weights = {1.f};
            continue;
        }
        const float f = float(double(position - j * unit) / double(unit));
        t.first = std::int32_t(j);
        t.weights = {1.f - f, f};
    }
    return taps;
}

}  // namespace

std::int32_t ScaledWidth(std::int32_t pictureWidth, int percent) {
    std::int64_t width = (std::int64_t(pictureWidth) * percent + 50) / 100;
    return std::int32_t(std::max<std::int64_t>(1, width));
}

StampSize ScaledSize(std::int32_t stampWidth, std::int32_t stampHeight, std::int32_t pictureWidth,
                     std::int32_t pictureHeight, int percent, ScaleBy by) {
    auto keepAspect = [](std::int64_t given, std::int64_t from, std::int64_t to) {
        return std::int32_t(std::max<std::int64_t>(1, (to * given + from / 2) / from));
    };
    if (by == ScaleBy::Height) {
        const std::int32_t height = ScaledWidth(pictureHeight, percent);
        return {keepAspect(height, stampHeight, stampWidth), height};
    }
    const std::int32_t side = by == ScaleBy::Width     ? pictureWidth
                              : by == ScaleBy::Shorter ? std::min(pictureWidth, pictureHeight)
                                                       : std::max(pictureWidth, pictureHeight);
    const std::int32_t width = ScaledWidth(side, percent);
    return {width, keepAspect(width, stampWidth, stampHeight)};
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

StampImage ScaleStamp(const StampImage& source, std::int32_t width, std::int32_t givenHeight) {
    if (!source.pixels || source.pixels->IsEmpty() || source.pixels->GetDepth() != Depth24)
        throw BitmapError("only a true-colour stamp can be scaled");
    if (width < 1) throw BitmapError("a stamp cannot be scaled to " + std::to_string(width) + " pixels");
    const StampImage stamp = WithAlpha(source);
    const std::int32_t sw = stamp.Width(), sh = stamp.Height();
    const std::int64_t height =
        givenHeight > 0 ? givenHeight
                        : std::max<std::int64_t>(1, (std::int64_t(sh) * width + sw / 2) / sw);
    // Colours and alpha: 32 bits a pixel.
    if (!CanHoldRows(width, height, 32))
        throw BitmapError("a stamp scaled to " + std::to_string(width) + " pixels is too large");
    const std::vector<Taps> across = AxisTaps(sw, width);
    const std::vector<Taps> down = AxisTaps(sh, std::int32_t(height));

    // A source row, premultiplied and filtered across: blue, green, red and
    // alpha for each target column, 0 to 255.
    std::vector<float> premultiplied(std::size_t(sw) * 4);
    auto filterAcross = [&](std::int32_t y) {
        const std::uint8_t* p = stamp.pixels->RowAddress(y);
        const std::uint8_t* a = &stamp.alpha[std::size_t(y) * std::size_t(sw)];
        for (std::size_t x = 0; x < std::size_t(sw); ++x) {
            for (std::size_t k = 0; k < 3; ++k)
                premultiplied[4 * x + k] = float(p[3 * x + k]) * float(a[x]) / 255.f;
            premultiplied[4 * x + 3] = float(a[x]);
        }
        std::vector<float> row(std::size_t(width) * 4, 0.f);
        for (std::size_t x = 0; x < std::size_t(width); ++x) {
            const Taps& t = across[x];
            for (std::size_t n = 0; n < t.weights.size(); ++n)
                for (std::size_t k = 0; k < 4; ++k)
                    row[4 * x + k] += t.weights[n] * premultiplied[4 * (std::size_t(t.first) + n) + k];
        }
        return row;
    };

    // The filtered rows from source row windowFirst on: the target rows take
    // source rows in order, so only those of the current one are held.
    std::deque<std::vector<float>> window;
    std::int32_t windowFirst = 0;
    std::vector<float> sum(std::size_t(width) * 4);
    StampImage result;
    result.alpha.resize(std::size_t(width) * std::size_t(height));
    result.pixels = TBitmap::FromRows(width, std::int32_t(height), Depth24,
                                      [&](std::int32_t y, std::uint8_t* row) {
        const Taps& t = down[std::size_t(y)];
        for (; !window.empty() && windowFirst < t.first; ++windowFirst) window.pop_front();
        if (window.empty()) windowFirst = t.first;
        while (window.size() < t.weights.size())
            window.push_back(filterAcross(windowFirst + std::int32_t(window.size())));
        std::fill(sum.begin(), sum.end(), 0.f);
        for (std::size_t n = 0; n < t.weights.size(); ++n) {
            const std::vector<float>& filtered = window[std::size_t(t.first - windowFirst) + n];
            for (std::size_t i = 0; i < sum.size(); ++i) sum[i] += t.weights[n] * filtered[i];
        }
        std::uint8_t* alpha = &result.alpha[std::size_t(y) * std::size_t(width)];
        for (std::size_t x = 0; x < std::size_t(width); ++x) {
            const float a = sum[4 * x + 3];
            alpha[x] = std::uint8_t(std::clamp(std::lround(a), 0L, 255L));
            for (std::size_t k = 0; k < 3; ++k)
                row[3 * x + k] = alpha[x] == 0 ? 255
                                               : std::uint8_t(std::clamp(
                                                     std::lround(sum[4 * x + k] * 255.f / a), 0L, 255L));
        }
    });
    return result;
}

}  // namespace sigillon
