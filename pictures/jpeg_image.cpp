#include "pictures/jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include "pictures/bitmap_image.h"
#include "pictures/jpeg_metadata.h"
#include "pictures/safe_save.h"

// How the C library and the C++ code meet. libjpeg reports a fatal error by
// calling error_exit, which must not return; ours jumps back with longjmp
// to the setjmp of the phase function that called into the library. Every
// phase function (StartDecoding, ...) is C-style: its locals have trivial
// destructors, it returns whether the library succeeded, and only its C++
// caller turns a failure into BitmapError. No C++ exception ever travels
// through libjpeg's frames, and longjmp never skips a C++ destructor.

namespace sigillon {
namespace {

// Up to about 10 scans are usual; a file with hundreds only makes the
// decoder redo its work over the whole picture again and again.
constexpr int kMaxScans = 500;

// libjpeg's own buffers (a progressive file's coefficients, the two-pass
// quantiser's copy of the picture) may take this much besides the picture.
long LibjpegMemoryLimit() { return 2 * long(StorageLimit()); }

// The decoder's colour count on displays of 8 bits or fewer, which leaves
// the display system its 20 reserved colours.
constexpr int kPaletteColours = 236;

constexpr std::uint64_t kMaxJpegFileBytes = std::uint64_t(1) << 32;

struct JpegErrors {
    jpeg_error_mgr pub;  // first, so that libjpeg's pointer to it is ours
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void OnFatalError(j_common_ptr cinfo) {
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings and trace messages: a damaged file still gives its picture.
void OnMessage(j_common_ptr, int) {}

void InstallErrors(JpegErrors& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnFatalError;
    errors.pub.emit_message = OnMessage;
    std::strcpy(errors.message, "JPEG error");
}

// Stops a progressive file that keeps on sending scans.
void CapScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxScans) return;
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    std::snprintf(errors->message, sizeof errors->message, "more than %d scans", kMaxScans);
    std::longjmp(errors->jump, 1);
}

// The decoder with its error manager; destroyed in every case.
struct Decompressor {
    Decompressor() {
        std::memset(&cinfo, 0, sizeof cinfo);
        InstallErrors(errors);
        cinfo.err = &errors.pub;
        progress.progress_monitor = CapScans;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;

    jpeg_decompress_struct cinfo;
    JpegErrors errors;
    jpeg_progress_mgr progress{};
};

struct DecodeOptions {
    J_COLOR_SPACE outColorSpace;
    bool quantize;
    bool twoPass;
    bool fast;
    bool smoothing;
    unsigned scaleDenominator;
};

// ---- Phase functions: C-style, see the top of the file ----

bool ReadHeader(Decompressor* d, const std::uint8_t* data, std::size_t size) {
    if (setjmp(d->errors.jump)) return false;
    jpeg_create_decompress(&d->cinfo);
    d->cinfo.mem->max_memory_to_use = LibjpegMemoryLimit();
    d->cinfo.progress = &d->progress;
    jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d->cinfo, TRUE);
    return true;
}

bool SetUpDecoding(Decompressor* d, const DecodeOptions* o) {
    if (setjmp(d->errors.jump)) return false;
    j_decompress_ptr c = &d->cinfo;
    c->scale_num = 1;
    c->scale_denom = o->scaleDenominator;
    c->do_block_smoothing = o->smoothing ? TRUE : FALSE;
    c->dct_method = o->fast ? JDCT_IFAST : JDCT_ISLOW;
    c->do_fancy_upsampling = o->fast ? FALSE : TRUE;
    c->out_color_space = o->outColorSpace;
    c->quantize_colors = o->quantize ? TRUE : FALSE;
    if (o->quantize) {
        c->desired_number_of_colors = kPaletteColours;
        c->two_pass_quantize = o->twoPass ? TRUE : FALSE;
        c->dither_mode = JDITHER_FS;
    }
    jpeg_calc_output_dimensions(c);
    return true;
}

// Runs the first pass of two-pass quantisation and absorbs every scan of a
// progressive file, so that it is the long part for those.
bool StartDecoding(Decompressor* d) {
    if (setjmp(d->errors.jump)) return false;
    jpeg_start_decompress(&d->cinfo);
    return true;
}

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
struct Compressor {
    Compressor() {
        std::memset(&cinfo, 0, sizeof cinfo);
        InstallErrors(errors);
        cinfo.err = &errors.pub;
        destination.init_destination = InitDestination;
        destination.empty_output_buffer = EmptyOutputBuffer;
        destination.term_destination = TermDestination;
    }
    ~Compressor() { jpeg_destroy_compress(&cinfo); }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    static Compressor* Of(j_compress_ptr c) { return static_cast<Compressor*>(c->client_data); }

    static void InitDestination(j_compress_ptr c) {
        Compressor* self = Of(c);
        self->destination.next_output_byte = self->output.data();
        self->destination.free_in_buffer = self->output.size();
    }
    // Called with the whole buffer full, free_in_buffer notwithstanding.
    static boolean EmptyOutputBuffer(j_compress_ptr c) {
        Compressor* self = Of(c);
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
        Compressor* self = Of(c);
        self->output.Resize(self->output.size() - self->destination.free_in_buffer);
    }

    jpeg_compress_struct cinfo;
    JpegErrors errors;
    jpeg_destination_mgr destination{};
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

bool Encode(Compressor* e, const EncodeJob* job) {
    if (setjmp(e->errors.jump)) return false;
    j_compress_ptr c = &e->cinfo;
    jpeg_create_compress(c);
    c->client_data = e;
    c->dest = &e->destination;
    c->image_width = job->width;
    c->image_height = job->height;
    c->input_components = 3;
    // Our rows hold blue, green, red: the encoder reads them as they are.
    c->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(c);
    if (job->grayscale) jpeg_set_colorspace(c, JCS_GRAYSCALE);
    jpeg_set_quality(c, job->quality, TRUE);
    c->optimize_coding = FALSE;
    c->dct_method = JDCT_ISLOW;
    c->restart_interval = 0;
    // A JFIF 1.01 header without density.
    c->write_JFIF_header = TRUE;
    c->JFIF_major_version = 1;
    c->JFIF_minor_version = 1;
    c->density_unit = 0;
    c->X_density = 1;
    c->Y_density = 1;
    if (!job->grayscale) {
        c->comp_info[0].h_samp_factor = 2;
        c->comp_info[0].v_samp_factor = 2;
        for (int i = 1; i < 3; ++i)
            c->comp_info[i].h_samp_factor = c->comp_info[i].v_samp_factor = 1;
    }
    if (job->progressive) jpeg_simple_progression(c);
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

[[noreturn]] void Fail(const JpegErrors& errors) {
    throw BitmapError(std::string("JPEG: ") + errors.message);
}

unsigned Denominator(JpegScale scale) {
    switch (scale) {
        case JpegScale::Half:
            return 2;
        case JpegScale::Quarter:
            return 4;
        case JpegScale::Eighth:
            return 8;
        default:
            return 1;
    }
}

// Gray and colour pictures are what we know; four components are CMYK or
// YCCK, whose colours we cannot render.
void CheckComponents(const jpeg_decompress_struct& c) {
    if (c.num_components != 1 && c.num_components != 3)
        throw BitmapError("JPEG: " + std::to_string(c.num_components) +
                          " colour components are not supported");
}

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
    ByteBlock bytes;
    try {
        bytes = ReadFileBytes(path, kMaxJpegFileBytes);
    } catch (const std::system_error& error) {
        throw BitmapError(std::string("JPEG: ") + error.what());
    } catch (const std::bad_alloc&) {
        throw BitmapError("JPEG: out of memory for the file");
    }
    LoadFromBytes(std::move(bytes));
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

const TBitmap& TJPEGImage::Bitmap() {
    if (!haveBitmap_) Decode();
    return bitmap_;
}

void TJPEGImage::Decode() {
    if (data_.empty()) throw BitmapError("JPEG: no data");
    Decompressor d;
    if (!ReadHeader(&d, data_.data(), data_.size())) Fail(d.errors);
    CheckComponents(d.cinfo);

    const bool gray = grayscale_ || d.cinfo.num_components == 1;
    const bool quantize = gray || pixelFormat_ == JpegPixelFormat::Bits8;
    const bool fast = performance_ == JpegPerformance::BestSpeed;
    DecodeOptions options{};
    options.outColorSpace = gray ? JCS_GRAYSCALE : quantize ? JCS_RGB : JCS_EXT_BGR;
    options.quantize = quantize;
    options.twoPass = !gray && !fast;
    options.fast = fast;
    options.smoothing = smoothing_;
    options.scaleDenominator = Denominator(scale_);
    if (!SetUpDecoding(&d, &options)) Fail(d.errors);

    // Refuse what the picture could not hold before libjpeg allocates
    // anything for it.
    const std::int64_t width = d.cinfo.output_width;
    const std::int64_t height = d.cinfo.output_height;
    const int bits = quantize ? 8 : 24;
    if (width <= 0 || height <= 0 || !CanHoldRows(width, height, bits))
        throw BitmapError("JPEG: picture of " + std::to_string(width) + " x " +
                          std::to_string(height) + " pixels is too large");
    if (!StartDecoding(&d)) Fail(d.errors);

    std::unique_ptr<TBitmapImage> image =
        TBitmap::NewImage(std::int32_t(width), std::int32_t(height),
                          quantize ? RowFormat::Index8 : RowFormat::Bgr24);
    if (quantize) {
        // The decoder's colour map is the palette; its rows are the
        // components of the output colour space.
        const int colours = d.cinfo.actual_number_of_colors;
        image->palette.resize(std::size_t(colours));
        for (int i = 0; i < colours; ++i) {
            JSAMPLE r = d.cinfo.colormap[0][i];
            image->palette[std::size_t(i)] =
                gray ? RGBColor(r, r, r)
                     : RGBColor(r, d.cinfo.colormap[1][i], d.cinfo.colormap[2][i]);
        }
    }
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

    Compressor e;
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
