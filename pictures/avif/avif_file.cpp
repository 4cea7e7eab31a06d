// AVIF writing through libavif. libavif reports failures as avifResult
// values and never jumps; each is checked and turned into BitmapError here.
#include "pictures/avif/avif_file.h"

#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "pictures/files/shared_library.h"
#include "pictures/raster/bitmap_error.h"
#include "pictures/rows/held_rows.h"

namespace sigillon {
namespace {

// The calls made into libavif, loaded when the first file needs it
// (pictures/files/shared_library.h).
// clang-format off
#define SIGILLON_AVIF_CALLS(X) \
    X(avifEncoderCreate) X(avifEncoderDestroy) X(avifEncoderWrite) X(avifImageCreate) \
    X(avifImageDestroy) X(avifImageRGBToYUV) X(avifImageSetMetadataExif) \
    X(avifImageSetMetadataXMP) X(avifImageSetProfileICC) X(avifRGBImageSetDefaults) \
    X(avifRWDataFree) X(avifResultToString)
// clang-format on
struct AvifCalls {
    SIGILLON_AVIF_CALLS(SIGILLON_DECLARE_CALL)
};

const AvifCalls& Avif() {
    static const AvifCalls table = [] {
        static const SharedLibrary library(SIGILLON_LIBAVIF, "AVIF: ");
        AvifCalls calls;
        SIGILLON_AVIF_CALLS(SIGILLON_RESOLVE_CALL)
        return calls;
    }();
    return table;
}

constexpr const char* kPrefix = "AVIF: ";
// As the HEIF reader takes: the longest side read is the longest written.
constexpr std::int32_t kMaxAvifSide = 65500;

[[noreturn]] void Refuse(const std::string& why) { throw BitmapError(kPrefix + why); }

void Check(avifResult result, const char* what) {
    if (result == AVIF_RESULT_OK) return;
    if (result == AVIF_RESULT_OUT_OF_MEMORY) Refuse(std::string("out of memory ") + what);
    Refuse(std::string(what) + ": " + Avif().avifResultToString(result));
}

struct DestroyImage {
    void operator()(avifImage* image) const { Avif().avifImageDestroy(image); }
};
struct DestroyEncoder {
    void operator()(avifEncoder* encoder) const { Avif().avifEncoderDestroy(encoder); }
};

// The picture top row first, blue, green, red (and alpha), as libavif
// reads it: the picture's own rows may run bottom-up.
std::vector<std::uint8_t> PackTopDown(const TBitmap& picture, std::span<const std::uint8_t> alpha) {
    const std::size_t width = std::size_t(picture.Width());
    const std::size_t channels = alpha.empty() ? 3 : 4;
    std::vector<std::uint8_t> packed;
    try {
        packed.resize(width * std::size_t(picture.Height()) * channels);
    } catch (const std::bad_alloc&) {
        Refuse("out of memory for the picture");
    }
    for (std::int32_t y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.RowAddress(y);
        std::uint8_t* out = packed.data() + std::size_t(y) * width * channels;
        if (channels == 3) {
            std::memcpy(out, row, width * 3);
            continue;
        }
        const std::uint8_t* a = alpha.data() + std::size_t(y) * width;
        for (std::size_t x = 0; x < width; ++x) {
            out[4 * x] = row[3 * x];
            out[4 * x + 1] = row[3 * x + 1];
            out[4 * x + 2] = row[3 * x + 2];
            out[4 * x + 3] = a[x];
        }
    }
    return packed;
}

ByteBlock Encode(const TBitmap& picture, std::span<const std::uint8_t> alpha,
                 const PictureMetadata& metadata, int quality) {
    const std::uint32_t width = std::uint32_t(picture.Width());
    const std::uint32_t height = std::uint32_t(picture.Height());
    std::unique_ptr<avifImage, DestroyImage> image(
        Avif().avifImageCreate(width, height, 8, AVIF_PIXEL_FORMAT_YUV420));
    if (!image) Refuse("out of memory for the picture");
    image->yuvRange = AVIF_RANGE_FULL;
    // A profile says what the colours are; without one they are sRGB.
    image->colorPrimaries =
        metadata.icc.empty() ? AVIF_COLOR_PRIMARIES_BT709 : AVIF_COLOR_PRIMARIES_UNSPECIFIED;
    image->transferCharacteristics = metadata.icc.empty()
                                         ? AVIF_TRANSFER_CHARACTERISTICS_SRGB
                                         : AVIF_TRANSFER_CHARACTERISTICS_UNSPECIFIED;
    image->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;
    if (!metadata.icc.empty())
        Avif().avifImageSetProfileICC(image.get(), metadata.icc.data(), metadata.icc.size());
    // libavif also sets irot and imir from the EXIF orientation, so that a
    // picture written unturned shows as its EXIF says.
    if (!metadata.exif.empty())
        Avif().avifImageSetMetadataExif(image.get(), metadata.exif.data(), metadata.exif.size());
    if (!metadata.xmp.empty())
        Avif().avifImageSetMetadataXMP(image.get(),
                                       reinterpret_cast<const std::uint8_t*>(metadata.xmp.data()),
                                       metadata.xmp.size());

    {
        // Rows stored top row first in 24 bits are read where they lie;
        // others, and alpha, are packed first.
        const bool inPlace = alpha.empty() && picture.IsTopDown() &&
                             picture.GetDepth() == Depth24 && picture.Height() > 0 &&
                             picture.Stride() <= std::int64_t(UINT32_MAX);
        std::vector<std::uint8_t> packed;
        if (!inPlace) packed = PackTopDown(picture, alpha);
        avifRGBImage rgb;
        Avif().avifRGBImageSetDefaults(&rgb, image.get());
        rgb.depth = 8;
        rgb.format = alpha.empty() ? AVIF_RGB_FORMAT_BGR : AVIF_RGB_FORMAT_BGRA;
        rgb.pixels = inPlace ? const_cast<std::uint8_t*>(picture.RowAddress(0)) : packed.data();
        rgb.rowBytes = inPlace ? std::uint32_t(picture.Stride()) : width * (alpha.empty() ? 3 : 4);
        Check(Avif().avifImageRGBToYUV(image.get(), &rgb), "converting the picture to YUV");
    }

    std::unique_ptr<avifEncoder, DestroyEncoder> encoder(Avif().avifEncoderCreate());
    if (!encoder) Refuse("out of memory for the encoder");
    encoder->maxThreads = 1;
    encoder->speed = kAvifSpeed;
    encoder->minQuantizer = encoder->maxQuantizer = AvifQuantizerFor(quality);
    // An alpha plane is small beside the colours; lossless keeps a
    // stamp's edges where they were.
    encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = AVIF_QUANTIZER_LOSSLESS;
    avifRWData output = AVIF_DATA_EMPTY;
    const avifResult result = Avif().avifEncoderWrite(encoder.get(), image.get(), &output);
    if (result != AVIF_RESULT_OK) {
        Avif().avifRWDataFree(&output);
        Check(result, "encoding");
    }
    ByteBlock block;
    try {
        block = ByteBlock(output.data, output.size);
    } catch (const std::bad_alloc&) {
        Avif().avifRWDataFree(&output);
        Refuse("out of memory for the file");
    }
    Avif().avifRWDataFree(&output);
    return block;
}

}  // namespace

int AvifQuantizerFor(int quality) {
    const int q = std::clamp(quality, 1, 100);
    return ((100 - q) * 63 + 50) / 100;
}

ByteBlock EncodeAvif(const TBitmap& picture, std::span<const std::uint8_t> alpha,
                     const PictureMetadata& metadata, int quality) {
    if (const std::string why = WholePictureRefusal(picture, alpha, kMaxAvifSide); !why.empty())
        Refuse(why);
    TBitmap source;
    source.ShareImage(picture);
    if (source.GetDepth() != Depth24) source.SetDepth(Depth24);
    return Encode(source, alpha, metadata, quality);
}

void WriteAvifFile(const std::string& path, const TBitmap& picture,
                   std::span<const std::uint8_t> alpha, const PictureMetadata& metadata,
                   int quality) {
    ByteBlock bytes = EncodeAvif(picture, alpha, metadata, quality);
    SaveFileSafely(path, bytes.data(), bytes.size(), kPrefix);
}

}  // namespace sigillon
