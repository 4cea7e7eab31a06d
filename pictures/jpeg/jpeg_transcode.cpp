#include "pictures/jpeg/jpeg_transcode.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "pictures/jpeg/jpeg_blocks.h"
#include "pictures/jpeg/jpeg_codec.h"
#include "pictures/jpeg/jpeg_file_output.h"
#include "pictures/jpeg/jpeg_metadata.h"

namespace sigillon {

using namespace jpeg_codec;

// The file, its decoder and, once read, the decoder's coefficient arrays.
struct JpegTranscoder::Decoder {
    ~Decoder() {
        if (file) std::fclose(file);
    }
    std::string name;
    std::FILE* file = nullptr;
    Decompressor d;
    jvirt_barray_ptr* arrays = nullptr;
};

namespace {

// libjpeg's stdio source reads this much at a time; a larger buffer of the
// stream's saves calls to the system.
constexpr std::size_t kReadBufferBytes = std::size_t(64) << 10;

// Besides the coefficients, libjpeg may take this much (kept markers,
// tables): as the row reader allows it.
long SpareLibjpegMemory() { return long(2 * StorageLimit()); }

// ---- Phase functions: C-style, see jpeg_codec.h ----

bool ReadHeaderFromFile(Decompressor* d, std::FILE* file, bool keepMetadata) {
    if (setjmp(d->errors.jump)) return false;
    jpeg_create_decompress(&d->cinfo);
    if (keepMetadata) KeepMetadataSegments(&d->cinfo);
    d->cinfo.mem->max_memory_to_use = SpareLibjpegMemory();
    d->cinfo.progress = &d->progress;
    jpeg_stdio_src(&d->cinfo, file);
    jpeg_read_header(&d->cinfo, TRUE);
    return true;
}

// Decodes in buffered-image mode: every scan goes into the decoder's
// coefficient arrays, from which output passes decode pixels and which
// jpeg_read_coefficients then hands over for writing. The file is read
// once for both.
bool ReadAllCoefficients(Decompressor* d, const DecodeOptions* options, jvirt_barray_ptr** arrays) {
    if (!SetUpDecoding(d, options)) return false;
    if (setjmp(d->errors.jump)) return false;
    d->cinfo.buffered_image = TRUE;
    jpeg_start_decompress(&d->cinfo);
    while (jpeg_consume_input(&d->cinfo) != JPEG_REACHED_EOI) {
    }
    *arrays = jpeg_read_coefficients(&d->cinfo);
    return *arrays != nullptr;
}

// Rows top to top + count of the columns from *left, *width pixels wide,
// decoded from the coefficients by an output pass.
bool DecodeRows(Decompressor* d, JDIMENSION* left, JDIMENSION* width, JDIMENSION top,
                JSAMPROW* rows, JDIMENSION count) {
    if (setjmp(d->errors.jump)) return false;
    j_decompress_ptr c = &d->cinfo;
    jpeg_start_output(c, c->input_scan_number);
    jpeg_crop_scanline(c, left, width);
    if (top > 0) jpeg_skip_scanlines(c, top);
    for (JDIMENSION done = 0; done < count;) {
        const JDIMENSION got = jpeg_read_scanlines(c, rows + done, count - done);
        if (got == 0) return false;
        done += got;
    }
    jpeg_finish_output(c);
    return true;
}

bool SameTable(const JHUFF_TBL* a, const JHUFF_TBL* b) {
    if (!a || !b) return a == b;
    if (std::memcmp(a->bits, b->bits, sizeof a->bits) != 0) return false;
    int codes = 0;
    for (int length = 1; length <= 16; ++length) codes += a->bits[length];
    return std::memcmp(a->huffval, b->huffval, std::size_t(std::min(codes, 256))) == 0;
}

// Whether the file's Huffman tables are libjpeg's standard ones, which an
// encoder just given its defaults holds: a file whose tables were made for
// it (optimised) is written with tables made for it again.
bool StandardHuffmanTables(const jpeg_decompress_struct& in, const jpeg_compress_struct& out) {
    for (int slot = 0; slot < NUM_HUFF_TBLS; ++slot)
        if ((in.dc_huff_tbl_ptrs[slot] && !SameTable(in.dc_huff_tbl_ptrs[slot], out.dc_huff_tbl_ptrs[slot])) ||
            (in.ac_huff_tbl_ptrs[slot] && !SameTable(in.ac_huff_tbl_ptrs[slot], out.ac_huff_tbl_ptrs[slot])))
            return false;
    return true;
}

bool WriteAllCoefficients(FileCompressor* e, Decompressor* in, jvirt_barray_ptr* arrays,
                          const JpegEncoding* encoding, const PictureMetadata* metadata) {
    if (setjmp(e->errors.jump)) return false;
    j_compress_ptr c = &e->cinfo;
    e->Create();
    jpeg_copy_critical_parameters(&in->cinfo, c);
    ApplyCoding(c, *encoding);
    c->optimize_coding = !encoding->arithmetic && !StandardHuffmanTables(in->cinfo, *c);
    jpeg_write_coefficients(c, arrays);
    if (metadata) WriteJpegMetadata(c, *metadata);
    jpeg_finish_compress(c);
    return true;
}

}  // namespace

JpegTranscoder::JpegTranscoder(const std::string& path, bool withMetadata) {
    std::uint64_t size = 0;
    Open(OpenRegularFile(path, &size, "JPEG: "), path, withMetadata);
}

JpegTranscoder::JpegTranscoder(int fd, const std::string& name, bool withMetadata) {
    Open(fd, name, withMetadata);
}

JpegTranscoder::~JpegTranscoder() = default;

void JpegTranscoder::Open(int fd, const std::string& name, bool withMetadata) {
    try {
        in_ = std::make_unique<Decoder>();
    } catch (const std::bad_alloc&) {
        ::close(fd);
        throw;
    }
    in_->name = name;
    in_->file = ::fdopen(fd, "rb");
    if (!in_->file) {
        const int error = errno;
        ::close(fd);
        ThrowFileError("JPEG: ", error, "cannot read " + name);
    }
    std::setvbuf(in_->file, nullptr, _IOFBF, kReadBufferBytes);
    if (!ReadHeaderFromFile(&in_->d, in_->file, withMetadata)) Fail(in_->d.errors);
    CheckComponents(in_->d.cinfo);
    if (withMetadata) {
        try {
            metadata_ = CollectJpegMetadata(&in_->d.cinfo, &dropped_);
        } catch (const std::bad_alloc&) {
            throw BitmapError("JPEG: out of memory for the metadata");
        }
    }
    encoding_ = EncodingOf(in_->d.cinfo);
}

std::int32_t JpegTranscoder::Width() const { return std::int32_t(in_->d.cinfo.image_width); }
std::int32_t JpegTranscoder::Height() const { return std::int32_t(in_->d.cinfo.image_height); }

bool JpegTranscoder::TrueColour() const {
    return DecodeOptionsFor(JpegDecodeSettings(), in_->d.cinfo.num_components).bits == 24;
}

// As libjpeg sizes the arrays of a file read whole: each component's blocks
// rounded up to whole MCUs.
std::uint64_t JpegTranscoder::CoefficientBytes() const {
    const jpeg_decompress_struct& c = in_->d.cinfo;
    std::uint64_t bytes = 0;
    for (int ci = 0; ci < c.num_components; ++ci) {
        const jpeg_component_info& component = c.comp_info[ci];
        const std::uint64_t h = std::uint64_t(component.h_samp_factor);
        const std::uint64_t v = std::uint64_t(component.v_samp_factor);
        bytes += (component.width_in_blocks + h - 1) / h * h *
                 ((component.height_in_blocks + v - 1) / v * v) * sizeof(JBLOCK);
    }
    return bytes;
}

std::int64_t JpegTranscoder::Blocks() const {
    const jpeg_decompress_struct& c = in_->d.cinfo;
    std::int64_t blocks = 0;
    for (int ci = 0; ci < c.num_components; ++ci)
        blocks += std::int64_t(c.comp_info[ci].width_in_blocks) * c.comp_info[ci].height_in_blocks;
    return blocks;
}

void JpegTranscoder::ReadCoefficients() {
    if (in_->arrays) return;
    in_->d.cinfo.mem->max_memory_to_use = long(CoefficientBytes()) + SpareLibjpegMemory();
    // Pixels as the row reader gives a colour file's on a true-colour
    // display, as the batch tool reads.
    JpegDecodeSettings settings;
    settings.pixelFormat = JpegPixelFormat::Bits24;
    const DecodeOptions options = DecodeOptionsFor(settings, 3);
    if (!ReadAllCoefficients(&in_->d, &options, &in_->arrays)) Fail(in_->d.errors);
    // libjpeg's stdio source takes a failed read for the end of the file.
    if (std::ferror(in_->file)) throw BitmapError("JPEG: cannot read " + in_->name);
}

bool JpegTranscoder::Damaged() const {
    const JpegErrors& errors = in_->d.errors;
    for (int i = 0; i < errors.warningCount; ++i)
        if (errors.warnings[i].damage) return true;
    return false;
}

std::vector<std::string> JpegTranscoder::Warnings() const { return WarningTexts(in_->d.errors); }

std::int64_t JpegTranscoder::ChangeRegion(Region region, const RowChange& change) {
    if (!in_->arrays) throw BitmapError("JPEG: the coefficients were not read");
    const jpeg_decompress_struct& c = in_->d.cinfo;
    const std::int32_t width = Width(), height = Height();
    region.left = std::clamp(region.left, 0, width);
    region.right = std::clamp(region.right, region.left, width);
    region.top = std::clamp(region.top, 0, height);
    region.bottom = std::clamp(region.bottom, region.top, height);
    if (region.left == region.right || region.top == region.bottom) return 0;
    const std::int32_t mcuWidth = DCTSIZE * c.max_h_samp_factor;
    const std::int32_t mcuHeight = DCTSIZE * c.max_v_samp_factor;
    auto down = [](std::int32_t value, std::int32_t step) { return value / step * step; };
    auto up = [](std::int32_t value, std::int32_t step) { return (value + step - 1) / step * step; };

    // The region's MCUs and one more on every side: upsampling blends each
    // chroma sample with its neighbours, and treats the edges of a cropped
    // row as the picture's, so the region's pixels decode from these as
    // they do in the whole picture.
    const BlockBox crop =
        BlocksOf(c, std::max(0, down(region.left, mcuWidth) - mcuWidth),
                 std::max(0, down(region.top, mcuHeight) - mcuHeight),
                 std::min(width, up(region.right, mcuWidth) + mcuWidth),
                 std::min(height, up(region.bottom, mcuHeight) + mcuHeight));
    const std::size_t cropRowBytes = std::size_t(crop.width) * 3;
    std::vector<std::uint8_t> decoded(cropRowBytes * std::size_t(crop.height));
    {
        std::vector<JSAMPROW> rows(static_cast<std::size_t>(crop.height));
        for (std::size_t y = 0; y < rows.size(); ++y) rows[y] = &decoded[y * cropRowBytes];
        JDIMENSION left = JDIMENSION(crop.left), columns = JDIMENSION(crop.width);
        if (!DecodeRows(&in_->d, &left, &columns, JDIMENSION(crop.top), rows.data(),
                        JDIMENSION(crop.height)))
            Fail(in_->d.errors);
        if (left != JDIMENSION(crop.left) || columns != JDIMENSION(crop.width))
            throw BitmapError("JPEG: a region decoded at the wrong place");
    }
    auto decodedPixel = [&](std::int32_t x, std::int32_t y) {
        return &decoded[std::size_t(y - crop.top) * cropRowBytes + std::size_t(x - crop.left) * 3];
    };

    // The region's rows changed by the caller, each in a row of the
    // picture's width, kept as wide as the crop.
    std::vector<std::uint8_t> changed(std::size_t(region.bottom - region.top) * cropRowBytes);
    auto changedPixel = [&](std::int32_t x, std::int32_t y) {
        return &changed[std::size_t(y - region.top) * cropRowBytes + std::size_t(x - crop.left) * 3];
    };
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    std::uint8_t* const cropped = &row[std::size_t(crop.left) * 3];
    for (std::int32_t y = region.top; y < region.bottom; ++y) {
        std::memcpy(cropped, decodedPixel(crop.left, y), cropRowBytes);
        change(y, row.data());
        std::memcpy(changedPixel(crop.left, y), cropped, cropRowBytes);
    }
    // Which pieces of 8 pixels of the region's rows changed: every block
    // of every component covers whole pieces.
    const std::int32_t pieces = (crop.width + DCTSIZE - 1) / DCTSIZE;
    std::vector<std::uint8_t> piecesChanged(std::size_t(region.bottom - region.top) * std::size_t(pieces));
    auto pieceChanged = [&](std::int32_t piece, std::int32_t y) -> std::uint8_t& {
        return piecesChanged[std::size_t(y - region.top) * std::size_t(pieces) + std::size_t(piece)];
    };
    auto pieceLeft = [&](std::int32_t piece) { return crop.left + piece * DCTSIZE; };
    // The MCUs holding a changed piece bound the blocks to encode again.
    std::int32_t left = width, right = 0, top = height, bottom = 0;
    for (std::int32_t y = region.top; y < region.bottom; ++y)
        for (std::int32_t piece = 0; piece < pieces; ++piece) {
            const std::int32_t x = pieceLeft(piece);
            const std::int32_t count = std::min(DCTSIZE, crop.left + crop.width - x);
            if (std::memcmp(changedPixel(x, y), decodedPixel(x, y), std::size_t(count) * 3) == 0)
                continue;
            pieceChanged(piece, y) = 1;
            left = std::min(left, x);
            right = std::max(right, x + count);
            top = std::min(top, y);
            bottom = std::max(bottom, y + 1);
        }
    if (left >= right) return 0;
    const BlockBox box = BlocksOf(c, down(left, mcuWidth), down(top, mcuHeight),
                                  std::min(width, up(right, mcuWidth)),
                                  std::min(height, up(bottom, mcuHeight)));

    // A block of each component is encoded again when a pixel it covers
    // changed; the others in the box stay as they are.
    std::array<std::vector<std::uint8_t>, 4> marks;
    for (int ci = 0; ci < box.components; ++ci)
        marks[std::size_t(ci)].assign(std::size_t(box.columns[ci]) * box.rows[ci], 0);
    for (std::int32_t y = top; y < bottom; ++y)
        for (std::int32_t piece = (left - crop.left) / DCTSIZE; pieceLeft(piece) < right; ++piece) {
            if (!pieceChanged(piece, y)) continue;
            for (int ci = 0; ci < box.components; ++ci) {
                const std::size_t row = std::size_t((y - box.top) / box.blockHeight[ci]);
                const std::size_t column = std::size_t((pieceLeft(piece) - box.left) / box.blockWidth[ci]);
                marks[std::size_t(ci)][row * box.columns[ci] + column] = 1;
            }
        }

    // The box's pixels: changed where the region reaches, as decoded
    // elsewhere.
    std::vector<const std::uint8_t*> pixels(static_cast<std::size_t>(box.height));
    for (std::int32_t y = box.top; y < box.top + box.height; ++y) {
        const bool inRegion = y >= region.top && y < region.bottom;
        pixels[std::size_t(y - box.top)] = inRegion ? changedPixel(box.left, y) : decodedPixel(box.left, y);
    }
    const JpegBytes encoded = EncodeBgr(pixels, box.width, encoding_);
    return CopyMarkedBlocks(in_->d, in_->arrays, box, encoded, marks);
}

void JpegTranscoder::Write(const std::string& path, const PictureMetadata& metadata,
                           SafeFileWriter::Temporary temporary) {
    if (!in_->arrays) throw BitmapError("JPEG: the coefficients were not read");
    SafeFileWriter file(path, "JPEG: ", temporary);
    FileCompressor e;
    e.file = &file;
    if (!WriteAllCoefficients(&e, &in_->d, in_->arrays, &encoding_,
                              metadata.Empty() ? nullptr : &metadata))
        e.Failed();
    file.Commit();
}

}  // namespace sigillon
