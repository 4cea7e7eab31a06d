#include "app/sizing.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace sigillon {

static_assert(std::numeric_limits<long double>::digits >= 64,
              "the overview's snap needs extended precision");

ClientSize StandardClientSize(int minwidth) { return {minwidth, minwidth / 2}; }

std::optional<int> CentredLeft(int boxWidth, int viewWidth) {
    int left = (boxWidth - viewWidth) / 2;
    if (left < 0) return std::nullopt;
    return left;
}

std::optional<int> FittedClientHeight(int viewHeight, int panelHeight, int minwidth) {
    if (viewHeight >= minwidth) return std::nullopt;
    return viewHeight + panelHeight;
}

ClientSize MainWindowMinimum(ClientSize client, int minwidth, int panelHeight) {
    return {std::max(client.width, minwidth), std::max(client.height, panelHeight + 32)};
}

long double RoundToSignificand(long double value, int bits) {
    if (value == 0 || !std::isfinite(value)) return value;
    int exponent = 0;
    long double fraction = std::frexp(value, &exponent);  // 0.5 <= |fraction| < 1
    long double scaled = std::nearbyint(std::ldexp(fraction, bits));
    return std::ldexp(scaled, exponent - bits);
}

AspectRatioValue AspectRatioOf(int width, int height) {
    if (height == 0) return 0;
    return RoundToSignificand(static_cast<long double>(width) / static_cast<long double>(height),
                              40);
}

int RoundTiesToEven(long double value) {
    long double rounded = std::nearbyint(value);  // the default mode: nearest, ties to even
    if (!(rounded >= INT_MIN)) return INT_MIN;
    if (rounded > INT_MAX) return INT_MAX;
    return static_cast<int>(rounded);
}

ClientSize SnapToAspect(ClientSize client, AspectRatioValue ratio) {
    if (ratio == 0) return client;
    if (ratio >= 1) return {client.width, RoundTiesToEven(client.width / ratio)};
    return {RoundTiesToEven(client.height * ratio), client.height};
}

ClientSize OverviewMinimum(ClientSize client) {
    return {std::max(client.width, 32), std::max(client.height, 32)};
}

}  // namespace sigillon
