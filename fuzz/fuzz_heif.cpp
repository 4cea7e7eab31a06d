// The HEIF/AVIF reader on any bytes, with and without damage accepted: a
// clean refusal, or a picture whose alpha plane fits it; and the row reader
// gives the same rows or the same refusal. libheif's decoders (libde265,
// dav1d) are system libraries and not instrumented; our side of them is.

#include <cstdlib>

#include "fuzz/row_check.h"
#include "pictures/heif/heif_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // As for PNG: large pictures are only slow; the size checks are fuzzed.
    sigillon::SetStorageLimit(sigillon::fuzzing::kStorageLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sigillon;
    const fuzzing::NamedMemoryFile file(data, size);
    const std::string& path = file.Path();
    for (bool damaged : {false, true}) {
        TBitmap whole;
        std::string refusal;
        try {
            HeifPicture heif = ReadHeifFile(path, {true, damaged});
            const std::size_t pixels =
                std::size_t(heif.pixels->Width()) * std::size_t(heif.pixels->Height());
            if (heif.pixels->GetDepth() != Depth24 ||
                (!heif.alpha.empty() && heif.alpha.size() != pixels))
                std::abort();
            whole.ShareImage(*heif.pixels);
        } catch (const BitmapError& error) {
            refusal = error.what();
        }
        fuzzing::ExpectSameRows(
            [&] {
                return OpenHeifRowReader(path, {true, damaged});
            },
            refusal.empty() ? &whole : nullptr, refusal);
    }
    return 0;
}
