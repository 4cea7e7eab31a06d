// The HEIF/AVIF reader on any bytes: a clean refusal, or a picture whose
// alpha plane fits it. libheif's decoders (libde265, dav1d) are system
// libraries and not instrumented; our side of them is.
#include <cstdlib>

#include "pictures/heif/heif_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // As for PNG: large pictures are only slow; the size checks are fuzzed.
    sigillon::SetStorageLimit(16 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (bool damaged : {false, true}) {
        try {
            sigillon::HeifPicture heif = sigillon::ReadHeifData({data, size}, {true, damaged});
            const std::size_t pixels =
                std::size_t(heif.pixels->Width()) * std::size_t(heif.pixels->Height());
            if (heif.pixels->GetDepth() != sigillon::Depth24 ||
                (!heif.alpha.empty() && heif.alpha.size() != pixels))
                std::abort();
        } catch (const sigillon::BitmapError&) {
        }
    }
    return 0;
}
