#include "stamping/stamp_rows.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sigillon::stamp_rows {
namespace {

// Above this size the change rows of a tiled stamp are worked out row by row.
constexpr std::size_t kDeltaTableLimit = std::size_t(16) << 20;

}  // namespace

void SolidRow(const std::uint8_t* stampRow, std::int32_t pixels, std::uint8_t* at) {
    const std::uint8_t* s = stampRow;
    for (std::int32_t c = 0; c < pixels; ++c, s += 3, at += 3)
        if (!IsWhite(s)) std::memcpy(at, s, 3);
}

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


void TiledRow(std::uint8_t* pictureRow, std::int32_t pw, const std::uint8_t* add,
              const std::uint8_t* sub, std::int32_t sw) {
    for (std::int32_t pc = 0; pc < pw; pc += sw) {
        std::int32_t n = std::min(sw, pw - pc);
        ApplyDeltas(pictureRow + 3 * std::int64_t(pc), add, sub, std::size_t(n) * 3);
    }
}

DeltaRows::DeltaRows(const TBitmap& stamp, bool reused)
    : stamp_(stamp), bytes_(std::size_t(stamp.Width()) * 3) {
    std::size_t rows = std::size_t(stamp.Height());
    whole_ = reused && 2 * bytes_ * rows <= kDeltaTableLimit;
    std::size_t held = whole_ ? rows : 1;
    add_.resize(bytes_ * held);
    sub_.resize(bytes_ * held);
    if (whole_) {
        for (std::int32_t r = 0; r < stamp.Height(); ++r)
            ComputeDeltas(stamp.RowAddress(r), stamp.Width(), &add_[bytes_ * r], &sub_[bytes_ * r]);
    }
}

void DeltaRows::Row(std::int32_t r, const std::uint8_t*& add, const std::uint8_t*& sub) {
    if (whole_) {
        add = &add_[bytes_ * r];
        sub = &sub_[bytes_ * r];
        return;
    }
    ComputeDeltas(stamp_.RowAddress(r), stamp_.Width(), add_.data(), sub_.data());
    add = add_.data();
    sub = sub_.data();
}

}  // namespace sigillon::stamp_rows
