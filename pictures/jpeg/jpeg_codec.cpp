#include "pictures/jpeg/jpeg_codec.h"

#include <cstring>
#include <string>

namespace sigillon {

JpegDecodeSettings::JpegDecodeSettings()
    : pixelFormat(DisplayBitsPerPixel() <= 8 ? JpegPixelFormat::Bits8 : JpegPixelFormat::Bits24) {}

namespace jpeg_codec {
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

void OnFatalError(j_common_ptr cinfo) {
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings and trace messages: a damaged file still gives its picture.
void OnMessage(j_common_ptr, int) {}

// Stops a progressive file that keeps on sending scans.
void CapScans(j_common_ptr cinfo) {
    if (!cinfo->is_decompressor) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxScans) return;
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    std::snprintf(errors->message, sizeof errors->message, "more than %d scans", kMaxScans);
    std::longjmp(errors->jump, 1);
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

}  // namespace

void InstallErrors(JpegErrors& errors) {
    jpeg_std_error(&errors.pub);
    errors.pub.error_exit = OnFatalError;
    errors.pub.emit_message = OnMessage;
    std::strcpy(errors.message, "JPEG error");
}

Decompressor::Decompressor() {
    std::memset(&cinfo, 0, sizeof cinfo);
    InstallErrors(errors);
    cinfo.err = &errors.pub;
    progress.progress_monitor = CapScans;
}

Decompressor::~Decompressor() { jpeg_destroy_decompress(&cinfo); }

DecodeOptions DecodeOptionsFor(const JpegDecodeSettings& settings, int components) {
    const bool gray = settings.grayscaleOutput || components == 1;
    const bool quantize = gray || settings.pixelFormat == JpegPixelFormat::Bits8;
    const bool fast = settings.performance == JpegPerformance::BestSpeed;
    DecodeOptions options{};
    options.outColorSpace = gray ? JCS_GRAYSCALE : quantize ? JCS_RGB : JCS_EXT_BGR;
    options.gray = gray;
    options.quantize = quantize;
    options.twoPass = !gray && !fast;
    options.fast = fast;
    options.smoothing = settings.smoothing;
    options.scaleDenominator = Denominator(settings.scale);
    options.bits = quantize ? 8 : 24;
    return options;
}

// Four components are CMYK or YCCK, whose colours we cannot render.
void CheckComponents(const jpeg_decompress_struct& c) {
    if (c.num_components != 1 && c.num_components != 3)
        throw BitmapError("JPEG: " + std::to_string(c.num_components) +
                          " colour components are not supported");
}

std::vector<TColor> DecodedPalette(const jpeg_decompress_struct& c, bool gray) {
    // The rows of the colour map are the components of the output colour
    // space.
    std::vector<TColor> palette(std::size_t(c.actual_number_of_colors));
    for (std::size_t i = 0; i < palette.size(); ++i) {
        JSAMPLE r = c.colormap[0][i];
        palette[i] = gray ? RGBColor(r, r, r) : RGBColor(r, c.colormap[1][i], c.colormap[2][i]);
    }
    return palette;
}

[[noreturn]] void Fail(const JpegErrors& errors) {
    throw BitmapError(std::string("JPEG: ") + errors.message);
}

bool ReadHeader(Decompressor* d, const std::uint8_t* data, std::size_t size) {
    if (setjmp(d->errors.jump)) return false;
    jpeg_create_decompress(&d->cinfo);
    d->cinfo.mem->max_memory_to_use = LibjpegMemoryLimit();
    d->cinfo.progress = &d->progress;
    jpeg_mem_src(&d->cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d->cinfo, TRUE);
    return true;
}

bool ReadHeaderFrom(Decompressor* d, jpeg_source_mgr* source, bool keepMetadata) {
    if (setjmp(d->errors.jump)) return false;
    jpeg_create_decompress(&d->cinfo);
    if (keepMetadata) KeepMetadataSegments(&d->cinfo);
    d->cinfo.mem->max_memory_to_use = LibjpegMemoryLimit();
    d->cinfo.progress = &d->progress;
    d->cinfo.src = source;
    jpeg_read_header(&d->cinfo, TRUE);
    return true;
}

void KeepMetadataSegments(j_decompress_ptr c) {
    jpeg_save_markers(c, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(c, JPEG_APP0 + 2, 0xFFFF);
    jpeg_save_markers(c, JPEG_APP0 + 13, 0xFFFF);
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

bool StartDecoding(Decompressor* d) {
    if (setjmp(d->errors.jump)) return false;
    jpeg_start_decompress(&d->cinfo);
    return true;
}

void ConfigureEncoder(j_compress_ptr c, JDIMENSION width, JDIMENSION height, int quality,
                      bool grayscale, bool progressive) {
    c->image_width = width;
    c->image_height = height;
    c->input_components = 3;
    // Our rows hold blue, green, red: the encoder reads them as they are.
    c->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(c);
    if (grayscale) jpeg_set_colorspace(c, JCS_GRAYSCALE);
    jpeg_set_quality(c, quality, TRUE);
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
    if (!grayscale) {
        c->comp_info[0].h_samp_factor = 2;
        c->comp_info[0].v_samp_factor = 2;
        for (int i = 1; i < 3; ++i)
            c->comp_info[i].h_samp_factor = c->comp_info[i].v_samp_factor = 1;
    }
    if (progressive) jpeg_simple_progression(c);
}

}  // namespace jpeg_codec
}  // namespace sigillon
