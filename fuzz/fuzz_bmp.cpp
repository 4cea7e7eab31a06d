// The BMP readers on any bytes: a clean refusal, or a picture that can be
// written out and read back; and the row reader gives the same rows or the
// same refusal.
#include <cstdlib>
#include <vector>

#include "fuzz/row_check.h"
#include "pictures/bmp/bmp.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Large pictures are valid, only slow. A low storage limit keeps every
    // header in play, so the size checks themselves are fuzzed too.
    sigillon::SetStorageLimit(sigillon::fuzzing::kStorageLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sigillon;
    TBitmap picture;
    std::string refusal;
    bool read = true;
    try {
        ReadBmpData(picture, data, size);
    } catch (const BitmapError& error) {
        refusal = error.what();
        read = false;
    }
    fuzzing::ExpectSameRows(
        [&] { return OpenBmpRowReader(fuzzing::MemoryFile(data, size), "fuzz.bmp", fuzzing::kRowLimits); },
        read && !picture.IsEmpty() ? &picture : nullptr, refusal);
    if (!read) return 0;
    std::vector<std::uint8_t> written = EncodeBmp(picture);
    TBitmap back;
    ReadBmpData(back, written.data(), written.size());  // must not throw
    if (back.Width() != picture.Width() || back.Height() != picture.Height()) std::abort();
    return 0;
}
