// Loading JPEG bytes: a clean refusal, or a decoded picture, in the 24-bit
// or the 8-bit form chosen by the input's length; and the row reader gives
// the 24-bit form's rows or its refusal, and when it refuses damaged data,
// the same rows until it does.
#include "fuzz/row_check.h"
#include "pictures/jpeg/jpeg_image.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Large pictures are valid, only slow. A low storage limit keeps every
    // header in play, so the size checks themselves are fuzzed too.
    sigillon::SetStorageLimit(sigillon::fuzzing::kStorageLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sigillon;
    const bool eightBits = size % 2;
    TJPEGImage jpeg;
    jpeg.SetPixelFormat(eightBits ? JpegPixelFormat::Bits8 : JpegPixelFormat::Bits24);
    const TBitmap* picture = nullptr;
    std::string refusal;
    try {
        jpeg.LoadFromBytes(data, size);
        picture = &jpeg.Bitmap();
        if (picture->IsEmpty() || picture->Width() != jpeg.Width()) __builtin_trap();
    } catch (const BitmapError& error) {
        refusal = error.what();
    }
    JpegDecodeSettings settings;
    settings.pixelFormat = JpegPixelFormat::Bits24;
    for (JpegDamage damage : {JpegDamage::Fill, JpegDamage::Refuse}) {
        auto open = [&] {
            return OpenJpegRowReader(fuzzing::MemoryFile(data, size), "fuzz.jpg", settings,
                                     fuzzing::kRowLimits, false, damage);
        };
        // The 8-bit form is quantised in two passes, which only the
        // whole-picture reader does; its rows are not compared.
        fuzzing::ExpectSameRows(open, picture, refusal, !eightBits, damage == JpegDamage::Refuse);
    }
    return 0;
}
