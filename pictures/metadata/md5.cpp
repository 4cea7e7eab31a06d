#include "pictures/metadata/md5.h"

#include <cmath>
#include <vector>

namespace sigillon {
namespace {

constexpr std::uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                      5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                      4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                      6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

// K[i] = floor(2^32 * |sin(i + 1)|), as the RFC defines them.
const std::array<std::uint32_t, 64>& Constants() {
    static const std::array<std::uint32_t, 64> k = [] {
        std::array<std::uint32_t, 64> t{};
        for (int i = 0; i < 64; ++i)
            t[std::size_t(i)] =
                std::uint32_t(std::floor(std::fabs(std::sin(i + 1.0)) * 4294967296.0));
        return t;
    }();
    return k;
}

std::uint32_t Rotate(std::uint32_t x, std::uint32_t n) { return x << n | x >> (32 - n); }

}  // namespace

std::array<std::uint8_t, 16> Md5(const std::uint8_t* data, std::size_t size) {
    // The message, a 1 bit, zeros to 56 bytes modulo 64, its length in bits.
    std::vector<std::uint8_t> m(data, data + size);
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    const std::uint64_t bits = std::uint64_t(size) * 8;
    for (int i = 0; i < 8; ++i) m.push_back(std::uint8_t(bits >> (8 * i)));

    std::uint32_t h[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
    const auto& k = Constants();
    for (std::size_t chunk = 0; chunk < m.size(); chunk += 64) {
        std::uint32_t w[16];
        for (int i = 0; i < 16; ++i) {
            const std::uint8_t* p = &m[chunk + 4 * std::size_t(i)];
            w[i] = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                   std::uint32_t(p[3]) << 24;
        }
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3];
        for (std::uint32_t i = 0; i < 64; ++i) {
            std::uint32_t f, g;
            if (i < 16)
                f = (b & c) | (~b & d), g = i;
            else if (i < 32)
                f = (d & b) | (~d & c), g = (5 * i + 1) % 16;
            else if (i < 48)
                f = b ^ c ^ d, g = (3 * i + 5) % 16;
            else
                f = c ^ (b | ~d), g = (7 * i) % 16;
            const std::uint32_t next = d;
            d = c;
            c = b;
            b = b + Rotate(a + f + k[i] + w[g], kShift[i]);
            a = next;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d;
    }
    std::array<std::uint8_t, 16> digest{};
    for (std::size_t i = 0; i < 16; ++i) digest[i] = std::uint8_t(h[i / 4] >> (8 * (i % 4)));
    return digest;
}

std::string Md5Hex(const std::uint8_t* data, std::size_t size) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (std::uint8_t byte : Md5(data, size)) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

}  // namespace sigillon
