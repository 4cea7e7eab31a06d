#include "pictures/jpeg/jpeg_image.h"

#include <csetjmp>
#include <cstring>
#include <new>

#include "pictures/raster/bitmap_image.h"
#include "pictures/jpeg/jpeg_codec.h"
#include "pictures/jpeg/jpeg_metadata.h"
#include "pictures/files/safe_save.h"

// The phase functions here keep to the rules of jpeg_codec.h: setjmp in
// small C-style functions, BitmapError only once they have returned.

namespace sigillon {
namespace {

using namespace jpeg_codec;

constexpr std::uint64_t kMaxJpegFileBytes = std::uint64_t(1) << 32;

// Row y of the picture is at row0 + y * step; each row's fill bytes after
// the used ones are cleared.
bool ReadRows(Decompressor* d, std::uint8_t* row0, std::ptrdiff_t step, std::size_t used,
              std::size_t fill) {
    if (setjmp(d->errors.jump)) return false;
    j_decompress_ptr c = &d->cinfo;
    while (c->output_scanline < c->output_height) {
        JSAMPROW rows[1] = {row0 + std::ptrdiff_t(c->output_scanline) * step};
        if (jpeg_read_scanlines(c, rows, 1) != 1) return false;
        std::memset(rows[0] + used, 0, fill);
    }
    jpeg_finish_decompress(c);
    return true;
}

// The encoder, its error manager and a destination of our own that grows
// a block in memory. (libjpeg's own memory destination forgets its buffer
// when an error strikes mid-encode.)
struct BlockCompressor : jpeg_codec::Compressor {
    BlockCompressor() : Compressor(InitDestination, EmptyOutputBuffer, TermDestination) {}

    static BlockCompressor* Of(j_compress_ptr c) { return Compressor::Of<BlockCompressor>(c); }

    static void InitDestination(j_compress_ptr c) {
        BlockCompressor* self = Of(c);
        self->destination.next_output_byte = self->output.data();
        self->destination.free_in_buffer = self->output.size();
    }
    // Called with the whole buffer full, free_in_buffer notwithstanding.
    static boolean EmptyOutputBuffer(j_compress_ptr c) {
        BlockCompressor* self = Of(c);
        std::size_t used = self->output.size();
        if (!self->output.Resize(used + used / 2)) {
            JpegErrors* errors = reinterpret_cast<JpegErrors*>(c->err);
            std::strcpy(errors->message, "out of memory for the JPEG data");
            std::longjmp(errors->jump, 1);
        }
        self->destination.next_output_byte = self->output.data() + used;
        self->destination.free_in_buffer = self->output.size() - used;
        return TRUE;
    }
    static void TermDestination(j_compress_ptr c) {
        BlockCompressor* self = Of(c);
        self->output.Resize(self->output.size() - self->destination.free_in_buffer);
    }

    ByteBlock output;
};

struct EncodeJob {
    const std::uint8_t* row0;
    std::ptrdiff_t step;
    JDIMENSION width;
    JDIMENSION height;
    int quality;
    bool grayscale;
    bool progressive;
    const PictureMetadata* metadata;  // or null
};

bool Encode(BlockCompressor* e, const EncodeJob* job) {
    if (setjmp(e->errors.jump)) return false;
    j_compress_ptr c = &e->cinfo;
    e->Create();
    ConfigureEncoder(c, job->width, job->height, job->quality, job->grayscale, job->progressive);
    jpeg_start_compress(c, TRUE);
    if (job->metadata) WriteJpegMetadata(c, *job->metadata);
    while (c->next_scanline < c->image_height) {
        JSAMPROW rows[1] = {
            const_cast<JSAMPROW>(job->row0 + std::ptrdiff_t(c->next_scanline) * job->step)};
        jpeg_write_scanlines(c, rows, 1);
    }
    jpeg_finish_compress(c);
    return true;
}

// ---- The C++ side ----

}  // namespace

TJPEGImage::TJPEGImage()
    : pixelFormat_(DisplayBitsPerPixel() <= 8 ? JpegPixelFormat::Bits8 : JpegPixelFormat::Bits24) {}

void TJPEGImage::SetCompressionQuality(int quality) {
    if (quality < 1 || quality > 100)
        throw BitmapError("JPEG: quality " + std::to_string(quality) + " is outside 1 to 100");
    quality_ = quality;
}

void TJPEGImage::DecodingChanged() {
    if (!data_.empty()) haveBitmap_ = false;
}

void TJPEGImage::SetGrayscaleOutput(bool on) {
    grayscale_ = on;
    DecodingChanged();
}
void TJPEGImage::SetPixelFormat(JpegPixelFormat format) {
    pixelFormat_ = format;
    DecodingChanged();
}
void TJPEGImage::SetPerformance(JpegPerformance performance) {
    performance_ = performance;
    DecodingChanged();
}
void TJPEGImage::SetScale(JpegScale scale) {
    scale_ = scale;
    DecodingChanged();
}
void TJPEGImage::SetSmoothing(bool on) {
    smoothing_ = on;
    DecodingChanged();
}

void TJPEGImage::LoadFromFile(const std::string& path) {
    LoadFromBytes(ReadFileBytes(path, kMaxJpegFileBytes, "JPEG: "));
}

void TJPEGImage::LoadFromBytes(const std::uint8_t* data, std::size_t size) {
    ByteBlock copy;
    try {
        copy = ByteBlock(data, size);
    } catch (const std::bad_alloc&) {
        throw BitmapError("JPEG: out of memory for the file");
    }
    LoadFromBytes(std::move(copy));
}

void TJPEGImage::LoadFromBytes(ByteBlock bytes) {
    data_ = ByteBlock();
    haveMetadata_ = false;
    width_ = height_ = 0;
    grayscaleFile_ = progressiveFile_ = false;
    haveBitmap_ = false;
    bitmap_.AdoptImage(nullptr);
    if (bytes.empty()) return;

    Decompressor d;
    if (!ReadHeader(&d, bytes.data(), bytes.size())) Fail(d.errors);
    CheckComponents(d.cinfo);
    width_ = std::int32_t(d.cinfo.image_width);
    height_ = std::int32_t(d.cinfo.image_height);
    grayscaleFile_ = d.cinfo.num_components == 1;
    progressiveFile_ = d.cinfo.progressive_mode;
    data_ = std::move(bytes);
}

JpegDecodeSettings TJPEGImage::DecodeSettings() const {
    JpegDecodeSettings settings;
    settings.grayscaleOutput = grayscale_;
    settings.pixelFormat = pixelFormat_;
    settings.performance = performance_;
    settings.scale = scale_;
    settings.smoothing = smoothing_;
    return settings;
}

const TBitmap& TJPEGImage::Bitmap() {
    if (!haveBitmap_) Decode();
    return bitmap_;
}

void TJPEGImage::Decode() {
    if (data_.empty()) throw BitmapError("JPEG: no data");
    Decompressor d;
    if (!ReadHeader(&d, data_.data(), data_.size())) Fail(d.errors);
    CheckComponents(d.cinfo);

    const DecodeOptions options = DecodeOptionsFor(DecodeSettings(), d.cinfo.num_components);
    if (!SetUpDecoding(&d, &options)) Fail(d.errors);

    // Refuse what the picture could not hold before libjpeg allocates
    // anything for it.
    const std::int64_t width = d.cinfo.output_width;
    const std::int64_t height = d.cinfo.output_height;
    const int bits = options.bits;
    if (width <= 0 || height <= 0 || !CanHoldRows(width, height, bits))
        throw BitmapError("JPEG: picture of " + std::to_string(width) + " x " +
                          std::to_string(height) + " pixels is too large");
    if (!StartDecoding(&d)) Fail(d.errors);

    std::unique_ptr<TBitmapImage> image =
        TBitmap::NewImage(std::int32_t(width), std::int32_t(height),
                          options.quantize ? RowFormat::Index8 : RowFormat::Bgr24);
    if (options.quantize) image->palette = DecodedPalette(d.cinfo, options.gray);
    haveBitmap_ = false;
    bitmap_.AdoptImage(std::move(image));

    std::uint8_t* row0 = bitmap_.RowAddress(0);
    std::ptrdiff_t step = height > 1 ? bitmap_.RowAddress(1) - row0 : 0;
    std::size_t used = std::size_t(width) * std::size_t(bits / 8);
    std::size_t fill = std::size_t(bitmap_.Stride()) - used;
    if (!ReadRows(&d, row0, step, used, fill)) {
        bitmap_.AdoptImage(nullptr);
        Fail(d.errors);
    }
    haveBitmap_ = true;
}

void TJPEGImage::Assign(const TBitmap& picture) {
    data_ = ByteBlock();
    haveMetadata_ = false;
    bitmap_.ShareImage(picture);
    haveBitmap_ = true;
    width_ = picture.Width();
    height_ = picture.Height();
    grayscaleFile_ = progressiveFile_ = false;
}

void TJPEGImage::Compress() {
    if (!haveBitmap_) {
        if (!data_.empty()) return;  // the bytes already are the picture
        throw BitmapError("JPEG: no picture to encode");
    }
    data_ = ByteBlock();
    haveMetadata_ = false;
    writeWarnings_.clear();
    if (bitmap_.IsEmpty() || bitmap_.Width() == 0 || bitmap_.Height() == 0) return;
    if (bitmap_.Width() > kMaxJpegSide || bitmap_.Height() > kMaxJpegSide)
        throw BitmapError("JPEG: a side longer than " + std::to_string(kMaxJpegSide) +
                          " pixels cannot be encoded");

    // Other formats are encoded from a 24-bit copy; a Depth24 picture is
    // read where it is.
    TBitmap source;
    source.ShareImage(bitmap_);
    if (source.GetDepth() != Depth24) source.SetDepth(Depth24);
    const TBitmap& rows = source;

    EncodeJob job{};
    job.row0 = rows.RowAddress(0);
    job.step = rows.Height() > 1 ? rows.RowAddress(1) - job.row0 : 0;
    job.width = JDIMENSION(rows.Width());
    job.height = JDIMENSION(rows.Height());
    job.quality = quality_;
    job.grayscale = grayscale_;
    job.progressive = progressiveEncoding_;
    if (!outputMetadata_.Empty()) {
        writeWarnings_ = JpegMetadataWarnings(outputMetadata_, grayscale_ ? 1 : 3);
        job.metadata = &outputMetadata_;
    }

    BlockCompressor e;
    // Room for 12 bits per pixel, more than any photograph takes: only the
    // pages written cost memory, and the block is cut to size at the end.
    if (!e.output.Resize(std::size_t(job.width) * job.height * 3 / 2 + 65536))
        throw BitmapError("JPEG: out of memory for the JPEG data");
    if (!Encode(&e, &job)) Fail(e.errors);
    data_ = std::move(e.output);
}

const PictureMetadata& TJPEGImage::Metadata() {
    if (!haveMetadata_) {
        metadata_ = PictureMetadata();
        readWarnings_.clear();
        try {
            metadata_ = ReadJpegMetadata(data_.data(), data_.size(), &readWarnings_);
        } catch (const std::bad_alloc&) {
            throw BitmapError("JPEG: out of memory for the metadata");
        }
        haveMetadata_ = true;
    }
    return metadata_;
}

const std::vector<std::string>& TJPEGImage::ReadMetadataWarnings() {
    Metadata();
    return readWarnings_;
}

}  // namespace sigillon
