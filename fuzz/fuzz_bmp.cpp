// The BMP reader on any bytes: a clean refusal, or a picture that can be
// written out and read back.
#include <cstdlib>
#include <vector>

#include "pictures/bmp.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Large pictures are valid, only slow. A low storage limit keeps every
    // header in play, so the size checks themselves are fuzzed too.
    sigillon::SetStorageLimit(16 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
