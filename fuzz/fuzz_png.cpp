// The PNG reader on any bytes: a clean refusal, or a picture and alpha
// plane that are written and read back unchanged. Inputs of odd length are
// first given correct chunk checksums, as a mutation almost never keeps
// them right, so that damaged headers and image data reach the decoder.
#include <zlib.h>

#include <cstdlib>
#include <vector>

#include "pictures/png/png_file.h"

namespace {

std::uint32_t Load32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

void FixChecksums(std::vector<std::uint8_t>& file) {
    for (std::size_t at = 8; at + 12 <= file.size();) {
        const std::uint32_t length = Load32(&file[at]);
        if (length > file.size() - at - 12) return;
        const std::uint32_t crc = std::uint32_t(crc32(0, &file[at + 4], length + 4));
        for (int i = 0; i < 4; ++i) file[at + 8 + length + i] = std::uint8_t(crc >> (24 - 8 * i));
        at += 12 + std::size_t(length);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Large pictures are valid, only slow. A low storage limit keeps every
    // header in play, so the size checks themselves are fuzzed too.
    sigillon::SetStorageLimit(16 << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> file(data, data + size);
    if (size % 2) FixChecksums(file);
    sigillon::PngPicture png;
    try {
        png = sigillon::ReadPngData(file.data(), file.size());
    } catch (const sigillon::BitmapError&) {
        return 0;
    }
    const sigillon::TBitmap& picture = *png.pixels;
    const std::size_t pixels = std::size_t(picture.Width()) * std::size_t(picture.Height());
    if (picture.GetDepth() != sigillon::Depth24 ||
        (!png.alpha.empty() && png.alpha.size() != pixels))
        std::abort();
    // Encoding is slow for large pictures and has its own tests.
    if (pixels > 65536) return 0;
    sigillon::ByteBlock written = sigillon::EncodePng(picture, png.alpha, png.metadata);
    sigillon::PngPicture back =
        sigillon::ReadPngData(written.data(), written.size());  // must not throw
    for (std::int32_t y = 0; y < picture.Height(); ++y)
        for (std::int32_t x = 0; x < picture.Width(); ++x)
            if (back.pixels->PixelAt(x, y) != picture.PixelAt(x, y)) std::abort();
    if (back.alpha != png.alpha || back.metadata.icc != png.metadata.icc ||
        back.metadata.exif != png.metadata.exif)
        std::abort();
    return 0;
}
