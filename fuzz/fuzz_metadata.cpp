// Metadata from hostile bytes through reading, editing and writing; see
// fuzz/metadata_path.h for what the input's bytes mean.
#include "fuzz/metadata_path.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!sigillon::fuzzing::MetadataPathHolds(data, size)) __builtin_trap();
    return 0;
}
