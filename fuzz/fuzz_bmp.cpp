// The BMP reader on any bytes: a clean refusal, or a picture that can be
// written out and read back.
#include <cstdlib>

#include "pictures/bmp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Large pictures are valid, only slow: the size limits have tests.
    auto field = [&](std::size_t at, int bytes) {
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = v << 8 | data[at + i];
        return bytes == 2 ? std::int64_t(v) : std::int64_t(std::int32_t(v));
    };
    if (size >= 26) {
        bool core = field(14, 4) == 12;
        std::int64_t pixels = core ? field(18, 2) * field(20, 2) : field(18, 4) * field(22, 4);
        if (std::llabs(pixels) > 4'000'000) return 0;
    }
    sigillon::TBitmap picture;
    try {
        sigillon::ReadBmpData(picture, data, size);
    } catch (const sigillon::BitmapError&) {
        return 0;
    }
    std::vector<std::uint8_t> written = sigillon::EncodeBmp(picture);
    sigillon::TBitmap back;
    sigillon::ReadBmpData(back, written.data(), written.size());  // must not throw
    if (back.Width() != picture.Width() || back.Height() != picture.Height()) std::abort();
    return 0;
}
