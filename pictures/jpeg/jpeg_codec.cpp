#include "pictures/jpeg/jpeg_codec.h"

#include <cstring>
#include <string>
#include <utility>

// After jpeglib.h: the message codes.
#include <jerror.h>

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

// libjpeg's warnings (jerror.h, JWRN_*) and what each leaves of the
// picture. After a damage warning libjpeg goes on decoding, but the rows
// from there on are grey (the data ended, it fills in zeros) or garbled (it
// lost its place in the coded data); after the others every pixel is as
// the file meant it.
//   JWRN_JPEG_EOF           damage  the file ends inside the picture data
//   JWRN_HIT_MARKER         damage  a scan's data stops before its last block
//   JWRN_HUFF_BAD_CODE      damage  a Huffman code that no table has
//   JWRN_ARITH_BAD_CODE     damage  the same for arithmetic coding
//   JWRN_MUST_RESYNC        damage  a restart marker missing or out of order
//   JWRN_BOGUS_PROGRESSION  damage  a progressive scan out of sequence: it
//                                   refines what no earlier scan sent
//   JWRN_NOT_SEQUENTIAL     intact  progressive scan parameters in a sequential
//                                   file's scan, which is read whole regardless;
//                                   libjpeg warns rather than fails because
//                                   baseline files with zeroes there exist. A
//                                   progressive file labelled sequential is
//                                   still refused: its first scan's data end
//                                   long before its last block (HIT_MARKER).
//   JWRN_EXTRANEOUS_DATA    intact  stray bytes before a marker, skipped (some
//                                   cameras write them between segments)
//   JWRN_TOO_MUCH_DATA      intact  rows asked for past the last one
//   JWRN_ADOBE_XFORM        intact  an unknown Adobe transform code, read as YCbCr
//   JWRN_JFIF_MAJOR         intact  a JFIF version newer than the library knows
//   JWRN_BOGUS_ICC          intact  a broken ICC profile segment: the profile is
//                                   lost, not the pixels
// A warning missing from this list counts as damage: nothing is known of
// what it leaves.
//
// Rows are counted from 1, and row N is the first that is not whole: the
// N - 1 rows libjpeg had handed out when the warning came are as the file
// meant them. A progressive file's scans are all read before its first row
// comes out, so its damage is always at row 1. They are the file's rows as
// stored, before a picture is turned upright.
bool WordWarning(j_common_ptr cinfo, char* out, std::size_t size) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    // libjpeg's own words, without the heading some of them have.
    const char* own = text;
    for (const char* heading : {"Corrupt JPEG data: ", "Warning: "})
        if (std::strncmp(own, heading, std::strlen(heading)) == 0) own += std::strlen(heading);
    if (*own >= 'A' && *own <= 'Z') text[own - text] = char(*own - 'A' + 'a');

    char where[64] = "in the header";
    if (cinfo->is_decompressor) {
        const auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
        if (d->output_height > 0)
            std::snprintf(where, sizeof where, "at row %lu of %lu",
                          static_cast<unsigned long>(d->output_scanline) + 1,
                          static_cast<unsigned long>(d->output_height));
    }
    switch (cinfo->err->msg_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
            std::snprintf(out, size, "the data ends %s", where);
            return true;
        case JWRN_EXTRANEOUS_DATA:
            std::snprintf(out, size, "skipped %d stray bytes before marker 0x%02x",
                          cinfo->err->msg_parm.i[0], cinfo->err->msg_parm.i[1]);
            return false;
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_TOO_MUCH_DATA:
        case JWRN_ADOBE_XFORM:
        case JWRN_JFIF_MAJOR:
        case JWRN_BOGUS_ICC:
            std::snprintf(out, size, "%.150s", own);
            return false;
        default:
            std::snprintf(out, size, "the data is damaged %s (%.100s)", where, own);
            return true;
    }
}

// Warnings are kept, each kind once, or stop the decoder; trace messages
// (levels 0 and up) are dropped.
void OnMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;
    JpegErrors* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    ++cinfo->err->num_warnings;
    char text[JMSG_LENGTH_MAX];
    const bool damage = WordWarning(cinfo, text, sizeof text);
    if (damage && errors->stopAtDamage) {
        std::memcpy(errors->message, text, sizeof text);
        std::longjmp(errors->jump, 1);
    }
    const int code = cinfo->err->msg_code;
    for (int i = 0; i < errors->warningCount; ++i)
        if (errors->warnings[i].code == code) {
            ++errors->warnings[i].count;
            return;
        }
    if (errors->warningCount == kKeptJpegWarnings) return;
    JpegWarning& kept = errors->warnings[errors->warningCount++];
    kept.code = code;
    kept.damage = damage;
    kept.count = 1;
    std::memcpy(kept.text, text, sizeof text);
}

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
    errors.stopAtDamage = false;
    errors.warningCount = 0;
}

bool StopAtDamage(JpegErrors& errors) {
    errors.stopAtDamage = true;
    for (int i = 0; i < errors.warningCount; ++i)
        if (errors.warnings[i].damage) {
            std::memcpy(errors.message, errors.warnings[i].text, sizeof errors.message);
            return false;
        }
    return true;
}

std::vector<std::string> WarningTexts(const JpegErrors& errors) {
    std::vector<std::string> texts;
    bool damaged = false;
    for (int i = 0; i < errors.warningCount; ++i) {
        const JpegWarning& warning = errors.warnings[i];
        // Damage is told where it begins: what comes after is mostly its
        // echo.
        if (warning.damage && std::exchange(damaged, true)) continue;
        texts.push_back(std::string("JPEG: ") + warning.text);
        if (!warning.damage && warning.count > 1)
            texts.back() += " (and " + std::to_string(warning.count - 1) + " more times)";
    }
    return texts;
}

Decompressor::Decompressor() {
    std::memset(&cinfo, 0, sizeof cinfo);
    InstallErrors(errors);
    cinfo.err = &errors.pub;
    progress.progress_monitor = CapScans;
}

Decompressor::~Decompressor() { jpeg_destroy_decompress(&cinfo); }

Compressor::Compressor(void (*init)(j_compress_ptr), boolean (*empty)(j_compress_ptr),
                       void (*term)(j_compress_ptr)) {
    std::memset(&cinfo, 0, sizeof cinfo);
    InstallErrors(errors);
    cinfo.err = &errors.pub;
    destination.init_destination = init;
    destination.empty_output_buffer = empty;
    destination.term_destination = term;
}

Compressor::~Compressor() { jpeg_destroy_compress(&cinfo); }

void Compressor::Create() {
    jpeg_create_compress(&cinfo);
    cinfo.client_data = this;
    cinfo.dest = &destination;
}

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
