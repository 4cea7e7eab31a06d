// The TIFF reader on any bytes, damage accepted on odd lengths: a clean
// refusal, or every row; and the row reader gives the whole picture's rows
// or its refusal.

#include "fuzz/row_check.h"
#include "pictures/tiff/tiff_file.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    sigillon::SetStorageLimit(sigillon::fuzzing::kStorageLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sigillon;
    const fuzzing::NamedMemoryFile file(data, size);
    const std::string& path = file.Path();
    const TiffReading reading{true, size % 2 == 1};
    TBitmap whole;
    std::string refusal;
    try {
        whole.ShareImage(*ReadTiffFile(path, reading).pixels);
    } catch (const BitmapError& error) {
        refusal = error.what();
    }
    fuzzing::ExpectSameRows([&] { return OpenTiffRowReader(path, reading, fuzzing::kRowLimits); },
                            refusal.empty() ? &whole : nullptr, refusal);
    return 0;
}
