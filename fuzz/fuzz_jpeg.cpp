// Loading JPEG bytes: a clean refusal, or a decoded picture, in the 24-bit
// or the 8-bit form chosen by the input's length.
#include "pictures/jpeg_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sigillon::TJPEGImage jpeg;
    jpeg.SetPixelFormat(size % 2 ? sigillon::JpegPixelFormat::Bits8
                                 : sigillon::JpegPixelFormat::Bits24);
    try {
        jpeg.LoadFromBytes(data, size);
        // Large pictures are valid, only slow: the size limits have tests.
        if (std::int64_t(jpeg.Width()) * jpeg.Height() > 1'000'000) return 0;
        const sigillon::TBitmap& picture = jpeg.Bitmap();
        if (picture.IsEmpty() || picture.Width() != jpeg.Width()) __builtin_trap();
    } catch (const sigillon::BitmapError&) {
    }
    return 0;
}
