// The WebP reader on any bytes, damage accepted for inputs of odd length: a
// clean refusal, or a picture and alpha plane that come back unchanged
// through a lossless file.
#include <algorithm>
#include <cstdlib>

#include "pictures/webp/webp_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A low storage limit keeps every header in play, so the size checks
    // themselves are fuzzed too.
    sigillon::SetStorageLimit(16 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sigillon;
    WebpPicture webp;
    try {
        webp = ReadWebpData(data, size, {true, size % 2 == 1});
    } catch (const BitmapError&) {
        return 0;
    }
    const TBitmap& picture = *webp.pixels;
    const std::size_t pixels = std::size_t(picture.Width()) * std::size_t(picture.Height());
    if (picture.GetDepth() != Depth24 || (!webp.alpha.empty() && webp.alpha.size() != pixels))
        std::abort();
    // Encoding is slow for large pictures and has its own tests.
    if (pixels > 65536) return 0;
    const ByteBlock written = EncodeWebp(picture, webp.alpha, webp.metadata, {0, true});
    const WebpPicture back = ReadWebpData(written.data(), written.size(), {true, false});
    for (std::int32_t y = 0; y < picture.Height(); ++y)
        for (std::int32_t x = 0; x < picture.Width(); ++x)
            if (back.pixels->PixelAt(x, y) != picture.PixelAt(x, y)) std::abort();
    // An alpha plane that is all opaque is written without one.
    const bool opaque =
        webp.alpha.empty() || std::all_of(webp.alpha.begin(), webp.alpha.end(),
                                          [](std::uint8_t a) { return a == 255; });
    if ((opaque ? !back.alpha.empty() : back.alpha != webp.alpha) ||
        back.metadata.icc != webp.metadata.icc ||
        back.metadata.exif != webp.metadata.exif || back.metadata.xmp != webp.metadata.xmp)
        std::abort();
    return 0;
}
