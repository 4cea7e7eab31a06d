// libjpeg used directly, as a program without our binding would use it:
// the reference the tests compare our codec with, and the baseline the
// benchmark measures it against. Pixels are packed rows of 3 (or 1) bytes.
#pragma once

#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace sigillon::bare {

struct Errors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

inline void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<Errors*>(cinfo->err)->jump, 1);
}
inline void Quiet(j_common_ptr, int) {}

struct EncodeRequest {
    const std::uint8_t* pixels;  // packed rows, top row first
    int width;
    int height;
    int components = 3;
    J_COLOR_SPACE space = JCS_RGB;
    int quality = 85;
    bool progressive = false;
    int restartRows = 0;  // a restart marker after every that many MCU rows
};

// The defaults, then the quality with baseline tables, into libjpeg's own
// memory destination.
inline bool Encode(const EncodeRequest& r, std::vector<std::uint8_t>& out) {
    jpeg_compress_struct c;
    Errors errors;
    c.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = ErrorExit;
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&c);
        std::free(buffer);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &buffer, &size);
    c.image_width = JDIMENSION(r.width);
    c.image_height = JDIMENSION(r.height);
    c.input_components = r.components;
    c.in_color_space = r.space;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, r.quality, TRUE);
    if (r.progressive) jpeg_simple_progression(&c);
    c.restart_in_rows = r.restartRows;
    jpeg_start_compress(&c, TRUE);
    const std::size_t rowBytes = std::size_t(r.width) * std::size_t(r.components);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(r.pixels + c.next_scanline * rowBytes);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    out.assign(buffer, buffer + size);
    std::free(buffer);
    return true;
}

struct DecodeRequest {
    J_COLOR_SPACE space = JCS_RGB;
    bool quantize = false;
    bool twoPass = true;
    int colours = 236;
};

struct Decoded {
    int width = 0;
    int height = 0;
    int components = 0;
    std::vector<std::uint8_t> pixels;       // packed rows, top row first
    std::vector<std::uint8_t> colormap[3];  // one row per output component
};

// Full size, block smoothing, accurate integer transform, fancy
// up-sampling: the decoder's defaults.
inline bool Decode(const std::uint8_t* data, std::size_t size, const DecodeRequest& r,
                   Decoded& out) {
    jpeg_decompress_struct d;
    Errors errors;
    d.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = ErrorExit;
    errors.pub.emit_message = Quiet;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&d);
        return false;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = r.space;
    d.do_block_smoothing = TRUE;
    d.dct_method = JDCT_ISLOW;
    d.do_fancy_upsampling = TRUE;
    if (r.quantize) {
        d.quantize_colors = TRUE;
        d.two_pass_quantize = r.twoPass ? TRUE : FALSE;
        d.desired_number_of_colors = r.colours;
        d.dither_mode = JDITHER_FS;
    }
    jpeg_start_decompress(&d);
    out.width = int(d.output_width);
    out.height = int(d.output_height);
    out.components = r.quantize ? 1 : d.output_components;
    const std::size_t rowBytes = std::size_t(out.width) * std::size_t(out.components);
    out.pixels.resize(rowBytes * std::size_t(out.height));
    if (r.quantize) {
        for (int ci = 0; ci < d.out_color_components; ++ci)
            out.colormap[ci].assign(d.colormap[ci], d.colormap[ci] + d.actual_number_of_colors);
    }
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out.pixels.data() + d.output_scanline * rowBytes;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return true;
}

}  // namespace sigillon::bare
