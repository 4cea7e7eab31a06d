#include "stamping/row_kernels.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sigillon {

// The watermark moves a picture byte by (s / 32) - 2, between -2 and +5.
// Split into a part to add and a part to subtract, both applied with
// saturation, it becomes two saturating byte operations per byte: the
// result is exactly the clamped signed sum.
void ComputeDeltas(const std::uint8_t* stampRow, std::int32_t pixels, std::uint8_t* add,
                   std::uint8_t* sub) {
    const std::size_t bytes = std::size_t(pixels) * 3;
    // Byte by byte first, then clear the white pixels, which change nothing.
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i low3 = _mm_set1_epi8(7), two = _mm_set1_epi8(2);
    for (; i + 16 <= bytes; i += 16) {
        __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stampRow + i));
        __m128i q = _mm_and_si128(_mm_srli_epi16(s, 5), low3);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(add + i), _mm_subs_epu8(q, two));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(sub + i), _mm_subs_epu8(two, q));
    }
#endif
    for (; i < bytes; ++i) {
        std::uint8_t q = std::uint8_t(stampRow[i] >> 5);
        add[i] = q > 2 ? std::uint8_t(q - 2) : 0;
        sub[i] = q < 2 ? std::uint8_t(2 - q) : 0;
    }
    for (std::int32_t c = 0; c < pixels; ++c)
        if (IsWhite(stampRow + 3 * c)) {
            std::memset(add + 3 * c, 0, 3);
            std::memset(sub + 3 * c, 0, 3);
        }
}

void ApplyDeltas(std::uint8_t* picture, const std::uint8_t* add, const std::uint8_t* sub,
                 std::size_t bytes) {
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= bytes; i += 16) {
        __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(picture + i));
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(add + i));
        __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sub + i));
        p = _mm_subs_epu8(_mm_adds_epu8(p, a), s);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(picture + i), p);
    }
#endif
    for (; i < bytes; ++i) {
        int v = picture[i] + add[i] - sub[i];
        picture[i] = std::uint8_t(std::clamp(v, 0, 255));
    }
}

}  // namespace sigillon
