#include "stamping/stamp_transform.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <string>

#include "stamping/stamp_scaling.h"

namespace sigillon {
namespace {

// Moves every pixel of a quarter turn (1, 2 or 3 quarters anticlockwise)
// exactly, alpha with it. from(x, y) gives the stamp pixel that lands on
// box pixel (x, y).
StampImage QuarterTurn(const StampImage& stamp, int quarters) {
    const std::int32_t w = stamp.Width(), h = stamp.Height();
    const std::int32_t tw = quarters == 2 ? w : h, th = quarters == 2 ? h : w;
    auto from = [&](std::int32_t x, std::int32_t y) -> std::pair<std::int32_t, std::int32_t> {
        switch (quarters) {
            case 1:
                return {w - 1 - y, x};
            case 2:
                return {w - 1 - x, h - 1 - y};
            default:
                return {y, h - 1 - x};
        }
    };
    StampImage turned;
    if (!stamp.alpha.empty()) turned.alpha.resize(std::size_t(tw) * std::size_t(th));
    turned.pixels = TBitmap::FromRows(tw, th, Depth24, [&](std::int32_t y, std::uint8_t* row) {
        for (std::int32_t x = 0; x < tw; ++x) {
            const auto [sx, sy] = from(x, y);
            std::memcpy(row + 3 * x, stamp.pixels->RowAddress(sy) + 3 * sx, 3);
            if (!turned.alpha.empty())
                turned.alpha[std::size_t(y) * std::size_t(tw) + std::size_t(x)] =
                    stamp.alpha[std::size_t(sy) * std::size_t(w) + std::size_t(sx)];
        }
    });
    return turned;
}

}  // namespace

StampImage WithOpacity(const StampImage& stamp, int percent) {
    if (percent < 1 || percent > 100)
        throw BitmapError("an opacity of " + std::to_string(percent) + " % is not 1 to 100");
    if (percent == 100) return stamp;
    StampImage faded = WithAlpha(stamp);
    for (std::uint8_t& a : faded.alpha) a = std::uint8_t((a * percent + 50) / 100);
    return faded;
}

StampImage RotateStamp(const StampImage& source, double degrees) {
    if (!source.pixels || source.pixels->IsEmpty() || source.pixels->GetDepth() != Depth24)
        throw BitmapError("only a true-colour stamp can be turned");
    double turn = std::fmod(degrees, 360.0);
    if (turn < 0) turn += 360.0;
    for (int quarters = 0; quarters < 4; ++quarters)
        if (std::abs(turn - 90.0 * quarters) < 1e-9)
            return quarters == 0 ? source : QuarterTurn(source, quarters);

    const StampImage stamp = WithAlpha(source);
    const std::int32_t w = stamp.Width(), h = stamp.Height();
    const double angle = turn * std::numbers::pi / 180.0;
    const double c = std::cos(angle), s = std::sin(angle);
    // The box: the turned corners' extent, a hair's rounding not counted.
    const double boxW = std::ceil(w * std::abs(c) + h * std::abs(s) - 1e-6);
    const double boxH = std::ceil(w * std::abs(s) + h * std::abs(c) - 1e-6);
    if (!CanHoldRows(std::int64_t(boxW), std::int64_t(boxH), 32))
        throw BitmapError("a stamp turned " + std::to_string(degrees) + " degrees is too large");
    const std::int32_t tw = std::max(1, std::int32_t(boxW)), th = std::max(1, std::int32_t(boxH));

    // A box pixel's centre, from the box's centre (dx right, dy down), turned
    // back onto the stamp: u = dx cos - dy sin, v = dx sin + dy cos, with
    // y down. Along a row both change by a constant step.
    StampImage turned;
    turned.alpha.resize(std::size_t(tw) * std::size_t(th));
    turned.pixels = TBitmap::FromRows(tw, th, Depth24, [&](std::int32_t y, std::uint8_t* row) {
        const double dy = y + 0.5 - th / 2.0;
        const double dx0 = 0.5 - tw / 2.0;
        // Stamp positions counted from the centre of its top-left pixel.
        double px = dx0 * c - dy * s + w / 2.0 - 0.5;
        double py = dx0 * s + dy * c + h / 2.0 - 0.5;
        std::uint8_t* alphaRow = &turned.alpha[std::size_t(y) * std::size_t(tw)];
        for (std::int32_t x = 0; x < tw; ++x, px += c, py += s) {
            const double fx0 = std::floor(px), fy0 = std::floor(py);
            const std::int64_t x0 = std::int64_t(fx0), y0 = std::int64_t(fy0);
            const double fx = px - fx0, fy = py - fy0;
            double sum[4] = {0, 0, 0, 0};  // blue, green, red premultiplied; alpha
            for (int tap = 0; tap < 4; ++tap) {
                const std::int64_t sx = x0 + (tap & 1), sy = y0 + (tap >> 1);
                if (sx < 0 || sy < 0 || sx >= w || sy >= h) continue;  // transparent
                const double weight = ((tap & 1) ? fx : 1 - fx) * ((tap >> 1) ? fy : 1 - fy);
                const double a =
                    weight * stamp.alpha[std::size_t(sy) * std::size_t(w) + std::size_t(sx)];
                if (a == 0) continue;
                const std::uint8_t* p = stamp.pixels->RowAddress(std::int32_t(sy)) + 3 * sx;
                for (int k = 0; k < 3; ++k) sum[k] += a * p[k];
                sum[3] += a;
            }
            const long alpha = std::clamp(std::lround(sum[3]), 0L, 255L);
            alphaRow[x] = std::uint8_t(alpha);
            for (int k = 0; k < 3; ++k)
                row[3 * x + k] =
                    alpha == 0 ? 255
                               : std::uint8_t(std::clamp(std::lround(sum[k] / sum[3]), 0L, 255L));
        }
    });
    return turned;
}

}  // namespace sigillon
