#include "pictures/jpeg/jpeg_blocks.h"

#include <algorithm>
#include <cstring>

// After jpeglib.h: the message codes and macros.
#include <jerror.h>

namespace sigillon::jpeg_codec {
namespace {

constexpr std::size_t kFirstBufferBytes = std::size_t(64) << 10;

j_common_ptr Common(j_decompress_ptr c) { return reinterpret_cast<j_common_ptr>(c); }

// An encoder writing into memory that it grows with realloc: a jump out of
// libjpeg leaves nothing that the destructor does not free.
struct MemoryCompressor : Compressor {
    MemoryCompressor() : Compressor(Init, Empty, Term) {}
    ~MemoryCompressor() { std::free(data); }
    JpegBytes Take() {
        JpegBytes bytes;
        bytes.data.reset(data);
        bytes.size = size;
        data = nullptr;
        return bytes;
    }

    static MemoryCompressor* Of(j_compress_ptr c) { return Compressor::Of<MemoryCompressor>(c); }
    static void Init(j_compress_ptr c) {
        MemoryCompressor* self = Of(c);
        if (!self->data) {
            self->data = static_cast<std::uint8_t*>(std::malloc(kFirstBufferBytes));
            if (!self->data) ERREXIT1(c, JERR_OUT_OF_MEMORY, 0);
            self->capacity = kFirstBufferBytes;
        }
        self->destination.next_output_byte = self->data;
        self->destination.free_in_buffer = self->capacity;
    }
    // Called with the whole buffer full.
    static boolean Empty(j_compress_ptr c) {
        MemoryCompressor* self = Of(c);
        const std::size_t grown = self->capacity * 2;
        auto* more = static_cast<std::uint8_t*>(std::realloc(self->data, grown));
        if (!more) ERREXIT1(c, JERR_OUT_OF_MEMORY, 0);
        self->data = more;
        self->destination.next_output_byte = more + self->capacity;
        self->destination.free_in_buffer = grown - self->capacity;
        self->capacity = grown;
        return TRUE;
    }
    static void Term(j_compress_ptr c) {
        MemoryCompressor* self = Of(c);
        self->size = self->capacity - self->destination.free_in_buffer;
    }

    std::uint8_t* data = nullptr;
    std::size_t capacity = 0;
    std::size_t size = 0;
};

// ---- Phase functions: C-style, see jpeg_codec.h ----

bool EncodeRows(MemoryCompressor* m, JSAMPROW* rows, JDIMENSION width, JDIMENSION height,
                const JpegEncoding* encoding) {
    if (setjmp(m->errors.jump)) return false;
    j_compress_ptr c = &m->cinfo;
    m->Create();
    ConfigureEncoder(c, width, height, kAnyJpegQuality, false, false);
    ApplyEncoding(c, *encoding);
    jpeg_start_compress(c, TRUE);
    for (JDIMENSION done = 0; done < height;)
        done += jpeg_write_scanlines(c, rows + done, height - done);
    jpeg_finish_compress(c);
    return true;
}

// Lends the big file's decoder its error manager for the length of the
// call, so that a jump from either lands in its own setjmp.
bool CopyBlocks(Decompressor* d, Decompressor* in, jvirt_barray_ptr* into, const BlockBox* box,
                const std::vector<std::uint8_t>* marks, std::int64_t* copied) {
    jpeg_error_mgr* const theirs = in->cinfo.err;
    if (setjmp(d->errors.jump)) {
        in->cinfo.err = theirs;
        return false;
    }
    in->cinfo.err = &d->errors.pub;
    jvirt_barray_ptr* from = jpeg_read_coefficients(&d->cinfo);
    for (int ci = 0; ci < box->components; ++ci)
        for (JDIMENSION r = 0; r < box->rows[ci]; ++r) {
            const std::uint8_t* mark = marks[ci].data() + std::size_t(r) * box->columns[ci];
            if (!std::memchr(mark, 1, box->columns[ci])) continue;
            JBLOCKARRAY source =
                d->cinfo.mem->access_virt_barray(Common(&d->cinfo), from[ci], r, 1, FALSE);
            JBLOCKARRAY target = in->cinfo.mem->access_virt_barray(
                Common(&in->cinfo), into[ci], box->firstRow[ci] + r, 1, TRUE);
            for (JDIMENSION column = 0; column < box->columns[ci]; ++column) {
                if (!mark[column]) continue;
                std::memcpy(target[0][box->firstColumn[ci] + column], source[0][column],
                            sizeof(JBLOCK));
                ++*copied;
            }
        }
    in->cinfo.err = theirs;
    return true;
}

}  // namespace

BlockBox BlocksOf(const jpeg_decompress_struct& c, std::int32_t left, std::int32_t top,
                  std::int32_t right, std::int32_t bottom) {
    BlockBox box;
    box.left = left;
    box.top = top;
    box.width = right - left;
    box.height = bottom - top;
    box.components = std::min(c.num_components, 4);
    const int mcuWidth = DCTSIZE * c.max_h_samp_factor;
    const int mcuHeight = DCTSIZE * c.max_v_samp_factor;
    for (int ci = 0; ci < box.components; ++ci) {
        const int h = c.comp_info[ci].h_samp_factor, v = c.comp_info[ci].v_samp_factor;
        box.firstColumn[ci] = JDIMENSION(left / mcuWidth * h);
        box.firstRow[ci] = JDIMENSION(top / mcuHeight * v);
        // As libjpeg counts the blocks of a picture of this size.
        box.columns[ci] = JDIMENSION((std::int64_t(box.width) * h + mcuWidth - 1) / mcuWidth);
        box.rows[ci] = JDIMENSION((std::int64_t(box.height) * v + mcuHeight - 1) / mcuHeight);
        box.blockWidth[ci] = mcuWidth / h;
        box.blockHeight[ci] = mcuHeight / v;
    }
    return box;
}

JpegBytes EncodeBgr(const std::vector<const std::uint8_t*>& pixels, std::int32_t width,
                    const JpegEncoding& encoding) {
    // Only the coefficients are wanted: one plain scan.
    JpegEncoding baseline = encoding;
    baseline.progressive = false;
    baseline.arithmetic = false;
    baseline.restartInterval = 0;
    // libjpeg only reads the rows it is given.
    std::vector<JSAMPROW> rows(pixels.size());
    for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = const_cast<JSAMPROW>(pixels[y]);
    MemoryCompressor m;
    if (!EncodeRows(&m, rows.data(), JDIMENSION(width), JDIMENSION(rows.size()), &baseline))
        Fail(m.errors);
    return m.Take();
}

std::int64_t CopyMarkedBlocks(Decompressor& in, jvirt_barray_ptr* arrays, const BlockBox& box,
                              const JpegBytes& file,
                              const std::array<std::vector<std::uint8_t>, 4>& marks) {
    Decompressor d;
    if (!ReadHeader(&d, file.data.get(), file.size)) Fail(d.errors);
    if (d.cinfo.num_components != box.components)
        throw BitmapError("JPEG: blocks encoded with the wrong components");
    for (int ci = 0; ci < box.components; ++ci)
        if (d.cinfo.comp_info[ci].width_in_blocks != box.columns[ci] ||
            d.cinfo.comp_info[ci].height_in_blocks != box.rows[ci] ||
            marks[std::size_t(ci)].size() != std::size_t(box.columns[ci]) * box.rows[ci])
            throw BitmapError("JPEG: blocks encoded to the wrong size");
    std::int64_t copied = 0;
    if (!CopyBlocks(&d, &in, arrays, &box, marks.data(), &copied)) Fail(d.errors);
    return copied;
}

}  // namespace sigillon::jpeg_codec
