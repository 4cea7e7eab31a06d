// Loading JPEG bytes: a clean refusal, or a decoded picture, in the 24-bit
// or the 8-bit form chosen by the input's length.
#include "pictures/jpeg_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Large pictures are valid, only slow. A low storage limit keeps every
    // header in play, so the size checks themselves are fuzzed too.
    sigillon::SetStorageLimit(16 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sigillon::TJPEGImage jpeg;
    jpeg.SetPixelFormat(size % 2 ? sigillon::JpegPixelFormat::Bits8
                                 : sigillon::JpegPixelFormat::Bits24);
    try {
        jpeg.LoadFromBytes(data, size);
        const sigillon::TBitmap& picture = jpeg.Bitmap();
        if (picture.IsEmpty() || picture.Width() != jpeg.Width()) __builtin_trap();
    } catch (const sigillon::BitmapError&) {
    }
    return 0;
}
