// AVIF writing through libavif. libavif reports failures as avifResult
// values and never jumps; each is checked and turned into BitmapError here.
#include "pictures/avif/avif_file.h"

#include <avif/avif.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "pictures/files/safe_save.h"
#include "pictures/files/shared_library.h"
#include "pictures/raster/bitmap_error.h"
#include "pictures/raster/bitmap_image.h"
#include "pictures/rows/held_rows.h"

namespace sigillon {
namespace {

// The calls made into libavif, loaded when the first file needs it
// (pictures/files/shared_library.h).
// clang-format off
#define SIGILLON_AVIF_CALLS(X) \
    X(avifEncoderCreate) X(avifEncoderDestroy) X(avifEncoderWrite) X(avifImageAllocatePlanes) \
    X(avifImageCreate) X(avifImageCreateEmpty) X(avifImageDestroy) X(avifImageRGBToYUV) \
    X(avifImageSetViewRect) X(avifImageSetMetadataExif) \
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
// A view of a band of an image's planes. libavif 0.11 marks the planes a
// conversion writes as the view's own, so they are let go before the view
// is destroyed.
struct DestroyView {
    void operator()(avifImage* view) const {
        std::fill(std::begin(view->yuvPlanes), std::end(view->yuvPlanes), nullptr);
        view->alphaPlane = nullptr;
        Avif().avifImageDestroy(view);
    }
};
struct DestroyEncoder {
    void operator()(avifEncoder* encoder) const { Avif().avifEncoderDestroy(encoder); }
};

// Rows are turned into YUV in bands of about this many bytes as they come,
// so that the picture is never held in RGB: only the planes libaom takes.
constexpr std::size_t kBandBytes = std::size_t(256) << 10;

class AvifRowWriter final : public PictureRowWriter {
public:
    AvifRowWriter(const std::string& path, const TBitmapImage& format,
                  std::span<const std::uint8_t> alpha, const PictureMetadata& metadata, int quality)
        : file_(path, kPrefix),
          format_(CopyFormat(format)),
          alpha_(alpha),
          bandRowBytes_(std::size_t(std::max(format.width, 0)) * (alpha.empty() ? 3 : 4)),
          quality_(quality) {
        const std::int32_t width = format.width, height = format.height;
        if (const std::string why = WholePictureRefusal(width, height, alpha, kMaxAvifSide);
            !why.empty())
            Refuse(why);
        // The planes take 12 bits a pixel and alpha 8 more; held to what
        // the picture itself in 24 bits may take.
        if (!CanHoldRows(width, height, 24)) Refuse("picture storage too large");
        image_.reset(Avif().avifImageCreate(std::uint32_t(width), std::uint32_t(height), 8,
                                            AVIF_PIXEL_FORMAT_YUV420));
        if (!image_) Refuse("out of memory for the picture");
        image_->yuvRange = AVIF_RANGE_FULL;
        // A profile says what the colours are; without one they are sRGB.
        image_->colorPrimaries =
            metadata.icc.empty() ? AVIF_COLOR_PRIMARIES_BT709 : AVIF_COLOR_PRIMARIES_UNSPECIFIED;
        image_->transferCharacteristics = metadata.icc.empty()
                                              ? AVIF_TRANSFER_CHARACTERISTICS_SRGB
                                              : AVIF_TRANSFER_CHARACTERISTICS_UNSPECIFIED;
        image_->matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT601;
        if (!metadata.icc.empty())
            Avif().avifImageSetProfileICC(image_.get(), metadata.icc.data(), metadata.icc.size());
        // libavif also sets irot and imir from the EXIF orientation, so that
        // a picture written unturned shows as its EXIF says.
        if (!metadata.exif.empty())
            Avif().avifImageSetMetadataExif(image_.get(), metadata.exif.data(),
                                            metadata.exif.size());
        if (!metadata.xmp.empty())
            Avif().avifImageSetMetadataXMP(
                image_.get(), reinterpret_cast<const std::uint8_t*>(metadata.xmp.data()),
                metadata.xmp.size());
        // The bands convert into these planes; libavif leaves planes that
        // are there as they are.
        Check(Avif().avifImageAllocatePlanes(image_.get(),
                                             alpha.empty() ? AVIF_PLANES_YUV : AVIF_PLANES_ALL),
              "making room for the picture");
        // An even number of rows a band: 4:2:0 averages each pair of rows.
        bandRows_ =
            std::int32_t(std::clamp<std::size_t>(kBandBytes / bandRowBytes_ / 2 * 2, 2, 1024));
        try {
            band_.resize(bandRowBytes_ * std::size_t(bandRows_));
            if (format_.format != RowFormat::Bgr24) bgr_.resize(std::size_t(width) * 3);
        } catch (const std::bad_alloc&) {
            Refuse("out of memory for the picture");
        }
    }

    void Write(const std::uint8_t* rows, std::int32_t count) override {
        if (count < 0 || count > format_.height - next_) Refuse("more rows than the picture has");
        const std::size_t stride = std::size_t(format_.stride);
        // Pairs of plain rows without alpha are read where they lie.
        if (alpha_.empty() && format_.format == RowFormat::Bgr24 && banded_ == 0) {
            const std::int32_t direct = count / 2 * 2;
            if (direct > 0) {
                Convert(rows, stride, direct);
                rows += std::size_t(direct) * stride;
                count -= direct;
            }
        }
        const std::size_t width = std::size_t(format_.width);
        for (std::int32_t k = 0; k < count; ++k, rows += stride) {
            const std::uint8_t* row = rows;
            if (format_.format != RowFormat::Bgr24) {
                ConvertRowToDepth24(format_, row, bgr_.data());
                row = bgr_.data();
            }
            std::uint8_t* out = band_.data() + std::size_t(banded_) * bandRowBytes_;
            if (alpha_.empty()) {
                std::memcpy(out, row, width * 3);
            } else {
                const std::uint8_t* a = &alpha_[std::size_t(next_ + banded_) * width];
                for (std::size_t x = 0; x < width; ++x, out += 4, row += 3) {
                    out[0] = row[0], out[1] = row[1], out[2] = row[2], out[3] = a[x];
                }
            }
            if (++banded_ == bandRows_) ConvertBand();
        }
    }

    void Finish() override {
        if (next_ + banded_ != format_.height) Refuse("the picture's rows did not all come");
        ConvertBand();
        std::unique_ptr<avifEncoder, DestroyEncoder> encoder(Avif().avifEncoderCreate());
        if (!encoder) Refuse("out of memory for the encoder");
        encoder->maxThreads = 1;
        encoder->speed = kAvifSpeed;
        encoder->minQuantizer = encoder->maxQuantizer = AvifQuantizerFor(quality_);
        // An alpha plane is small beside the colours; lossless keeps a
        // stamp's edges where they were.
        encoder->minQuantizerAlpha = encoder->maxQuantizerAlpha = AVIF_QUANTIZER_LOSSLESS;
        avifRWData output = AVIF_DATA_EMPTY;
        const avifResult result = Avif().avifEncoderWrite(encoder.get(), image_.get(), &output);
        // The planes are done with before the file is written.
        image_.reset();
        encoder.reset();
        try {
            Check(result, "encoding");
            file_.Append(output.data, output.size);
        } catch (...) {
            Avif().avifRWDataFree(&output);
            throw;
        }
        Avif().avifRWDataFree(&output);
        file_.Commit();
    }

private:
    void ConvertBand() {
        if (banded_ == 0) return;
        const std::int32_t rows = banded_;
        banded_ = 0;
        Convert(band_.data(), bandRowBytes_, rows);
    }

    // Turns count rows, rowBytes apart, into the planes from row next_ on.
    void Convert(const std::uint8_t* rows, std::size_t rowBytes, std::int32_t count) {
        std::unique_ptr<avifImage, DestroyView> view(Avif().avifImageCreateEmpty());
        if (!view) Refuse("out of memory for the picture");
        const avifCropRect rect{0, std::uint32_t(next_), std::uint32_t(format_.width),
                                std::uint32_t(count)};
        Check(Avif().avifImageSetViewRect(view.get(), image_.get(), &rect),
              "converting the picture to YUV");
        avifRGBImage rgb;
        Avif().avifRGBImageSetDefaults(&rgb, view.get());
        rgb.depth = 8;
        rgb.format = alpha_.empty() ? AVIF_RGB_FORMAT_BGR : AVIF_RGB_FORMAT_BGRA;
        rgb.pixels = const_cast<std::uint8_t*>(rows);
        rgb.rowBytes = std::uint32_t(rowBytes);
        Check(Avif().avifImageRGBToYUV(view.get(), &rgb), "converting the picture to YUV");
        next_ += count;
    }

    SafeFileWriter file_;
    TBitmapImage format_;
    std::span<const std::uint8_t> alpha_;
    std::size_t bandRowBytes_;  // blue, green, red (and alpha) a pixel
    int quality_;
    std::unique_ptr<avifImage, DestroyImage> image_;
    std::int32_t next_ = 0;    // rows in the planes
    std::int32_t banded_ = 0;  // rows in band_ after them
    std::int32_t bandRows_ = 2;
    std::vector<std::uint8_t> band_;
    std::vector<std::uint8_t> bgr_;
};

}  // namespace

int AvifQuantizerFor(int quality) {
    const int q = std::clamp(quality, 1, 100);
    return ((100 - q) * 63 + 50) / 100;
}

std::unique_ptr<PictureRowWriter> CreateAvifRowWriter(const std::string& path,
                                                      const TBitmapImage& format,
                                                      std::span<const std::uint8_t> alpha,
                                                      const PictureMetadata& metadata,
                                                      int quality) {
    return std::make_unique<AvifRowWriter>(path, format, alpha, metadata, quality);
}

}  // namespace sigillon
