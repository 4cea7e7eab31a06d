// PNG reading and writing through libspng. libspng rather than libpng: it
// reports failures as return codes instead of longjmp, bounds chunk sizes
// and decompressed metadata itself, and decodes faster (SIMD filters).
//
// libspng reports every failure as a return code and never jumps, so the
// C++ side needs no setjmp boundary: each call's code is checked and turned
// into BitmapError here. Decoding goes row by row into a buffer of one row
// in the library's output format, and each row is converted straight into
// the picture and the alpha plane; an interlaced file comes as the rows of
// its seven passes, each holding only that pass's pixels at their places,
// and only those are converted.
#include "pictures/png/png_file.h"

#include <spng.h>
#include <zlib.h>

#include <cstring>
#include <new>

#include "pictures/raster/bitmap_image.h"
#include "pictures/rows/held_rows.h"

namespace sigillon {
namespace {

// No PNG file larger than this can be read: its picture would not fit.
constexpr std::uint64_t kMaxPngFileBytes = std::uint64_t(1) << 32;

// Run-length matching (zlib's Z_RLE, for which the level does not matter)
// after the Up filter on every row. On two 6000 x 4000 photo-like pictures
// (bench/png_bench.cpp makes the noisier one) it took 0.7 s where libspng's
// defaults (level 6, Z_FILTERED, the filter chosen per row) took 3.3 s and
// 16 s; its files were within 4 % of the defaults' and within 6 % of the
// smallest any setting gave (Z_RLE with the filter chosen per row, at
// twice the time).
constexpr int kCompressionLevel = 1;
constexpr int kCompressionStrategy = Z_RLE;
constexpr int kFilters = SPNG_FILTER_CHOICE_UP;

constexpr const char* kXmpKeyword = "XML:com.adobe.xmp";
constexpr const char* kIccProfileName = "ICC Profile";

// The first column and the column step of each Adam7 pass.
constexpr std::uint32_t kPassStart[7] = {0, 4, 0, 2, 0, 1, 0};
constexpr std::uint32_t kPassStep[7] = {8, 8, 4, 4, 2, 2, 1};

constexpr const char* kPrefix = "PNG: ";

[[noreturn]] void Refuse(const std::string& why) { throw BitmapError(kPrefix + why); }

// A library failure in our words where the library's own are unclear.
[[noreturn]] void Fail(int code) {
    switch (code) {
        case SPNG_IO_EOF:
        case SPNG_EOF:
        case SPNG_EIDAT_TOO_SHORT:
            Refuse("the file ends early: it is truncated");
        case SPNG_ESIGNATURE:
            Refuse("not a PNG file");
        case SPNG_ECHUNK_CRC:
            Refuse("a chunk's checksum is wrong: the file is damaged");
        case SPNG_ECHUNK_LIMITS:
            Refuse("a chunk, or the metadata decompressed from the chunks, takes more than " +
                   std::to_string(kMaxPngChunkBytes >> 20) + " MiB");
        case SPNG_EMEM:
            Refuse("out of memory");
        default:
            Refuse(spng_strerror(code));
    }
}

void Check(int code) {
    if (code != SPNG_OK) Fail(code);
}

std::uint32_t Load32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

// What the chunk framing of a file says, read without libspng: whether the
// chunks reach a whole IEND chunk and, when asked, the first chunk whose
// checksum is wrong. libspng checks a chunk's checksum only after using
// its bytes, so damaged image data usually stops it with a complaint about
// what the damage produced; and it accepts an IEND chunk cut short.
struct Framing {
    bool complete = false;
    std::string damaged;  // "IDAT chunk at byte 41", or empty
};

Framing ReadFraming(const std::uint8_t* data, std::size_t size, bool checksums) {
    Framing framing;
    for (std::size_t at = 8; at <= size && size - at >= 12;) {
        // No chunk is longer than 2^31 - 1 bytes.
        const std::uint32_t length = Load32(data + at);
        if (length > 0x7FFFFFFF || length > size - at - 12) break;
        const std::uint8_t* type = data + at + 4;
        if (checksums && crc32(0, type, length + 4) != Load32(type + 4 + length)) {
            framing.damaged = std::string(reinterpret_cast<const char*>(type), 4) +
                              " chunk at byte " + std::to_string(at);
            return framing;
        }
        if (std::memcmp(type, "IEND", 4) == 0) {
            framing.complete = true;
            return framing;
        }
        at += 12 + std::size_t(length);
    }
    return framing;
}

// A libspng failure while reading the file, explained once its chunk
// framing has been looked at.
void CheckRead(int code, std::span<const std::uint8_t> file) {
    if (code == SPNG_OK) return;
    const Framing framing = ReadFraming(file.data(), file.size(), true);
    if (!framing.damaged.empty())
        Refuse("a chunk's checksum is wrong: the " + framing.damaged + " is damaged");
    Fail(code);
}

struct FreeContext {
    void operator()(spng_ctx* ctx) const { spng_ctx_free(ctx); }
};
using Context = std::unique_ptr<spng_ctx, FreeContext>;

Context NewContext(int flags) {
    Context ctx(spng_ctx_new(flags));
    if (!ctx) Refuse("out of memory");
    return ctx;
}

// ---- Reading ----

std::uint8_t To8(std::uint8_t v) { return v; }
// Rounded to the nearest of the 256 levels; libspng would cut the low byte.
std::uint8_t To8(std::uint16_t v) { return std::uint8_t((std::uint32_t(v) * 255 + 32767) / 65535); }

// Converts the pixels x0, x0 + step, ... of one decoded row (red, green,
// blue and, with kChannels 4, alpha) into blue, green, red and the alpha
// row (kept only when alpha is not null).
template <typename Sample, int kChannels>
void ConvertPixels(const Sample* from, std::uint8_t* bgr, std::uint8_t* alpha, std::uint32_t x0,
                   std::uint32_t step, std::uint32_t width) {
    for (std::uint32_t x = x0; x < width; x += step) {
        const Sample* p = from + std::size_t(x) * kChannels;
        std::uint8_t* q = bgr + std::size_t(x) * 3;
        q[0] = To8(p[2]);
        q[1] = To8(p[1]);
        q[2] = To8(p[0]);
        if constexpr (kChannels == 4) {
            if (alpha) alpha[x] = To8(p[3]);
        }
    }
}

// The step is 1 for every row of a plain file; a loop with a constant step
// is one the compiler can unroll and vectorise.
template <typename Sample, int kChannels>
void ConvertRow(const void* from, std::uint8_t* bgr, std::uint8_t* alpha, std::uint32_t x0,
                std::uint32_t step, std::uint32_t width) {
    const Sample* samples = static_cast<const Sample*>(from);
    if (step == 1)
        ConvertPixels<Sample, kChannels>(samples, bgr, alpha, 0, 1, width);
    else
        ConvertPixels<Sample, kChannels>(samples, bgr, alpha, x0, step, width);
}

using RowConverter = void (*)(const void*, std::uint8_t*, std::uint8_t*, std::uint32_t,
                              std::uint32_t, std::uint32_t);

// How a file is decoded: libspng's output format, its bytes per pixel and
// the conversion from it.
struct Decoding {
    int format;
    std::size_t pixelBytes;
    RowConverter convert;
};

Decoding DecodingFor(const spng_ihdr& ihdr, bool hasAlpha) {
    if (ihdr.bit_depth == 16) return {SPNG_FMT_RGBA16, 8, ConvertRow<std::uint16_t, 4>};
    if (hasAlpha) return {SPNG_FMT_RGBA8, 4, ConvertRow<std::uint8_t, 4>};
    return {SPNG_FMT_RGB8, 3, ConvertRow<std::uint8_t, 3>};
}

// Whether the file holds a chunk: libspng answers "not available" for one
// it does not have, and any other failure is the file's.
bool Available(int code, std::span<const std::uint8_t> file) {
    if (code == SPNG_ECHUNKAVAIL) return false;
    CheckRead(code, file);
    return true;
}

PictureMetadata ReadMetadata(spng_ctx* ctx, std::span<const std::uint8_t> file) {
    PictureMetadata metadata;
    spng_iccp iccp{};
    if (Available(spng_get_iccp(ctx, &iccp), file)) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(iccp.profile);
        metadata.icc.assign(p, p + iccp.profile_len);
    }
    spng_exif exif{};
    if (Available(spng_get_exif(ctx, &exif), file)) {
        const auto* p = reinterpret_cast<const std::uint8_t*>(exif.data);
        metadata.exif.assign(p, p + exif.length);
    }
    std::uint32_t count = 0;
    if (Available(spng_get_text(ctx, nullptr, &count), file) && count > 0) {
        std::vector<spng_text> texts(count);
        CheckRead(spng_get_text(ctx, texts.data(), &count), file);
        for (const spng_text& text : texts) {
            if (text.type == SPNG_ITXT && std::strcmp(text.keyword, kXmpKeyword) == 0) {
                metadata.xmp.assign(text.text, text.length);
                break;
            }
        }
    }
    return metadata;
}

PngPicture Decode(const std::uint8_t* data, std::size_t size) {
    if (size == 0) Refuse("the file is empty");
    const std::span<const std::uint8_t> file(data, size);
    Context owner = NewContext(0);
    spng_ctx* ctx = owner.get();
    // A damaged ancillary chunk is refused like a critical one, rather
    // than dropped: a profile or camera data would be lost without a word.
    CheckRead(spng_set_crc_action(ctx, SPNG_CRC_ERROR, SPNG_CRC_ERROR), file);
    CheckRead(spng_set_chunk_limits(ctx, kMaxPngChunkBytes, kMaxPngChunkBytes), file);
    CheckRead(spng_set_png_buffer(ctx, data, size), file);

    spng_ihdr ihdr{};
    CheckRead(spng_get_ihdr(ctx, &ihdr), file);
    // Asking for tRNS reads the chunks up to the image data, which checks
    // the header's checksum before its sizes are believed.
    spng_trns trns{};
    const bool hasTrns = Available(spng_get_trns(ctx, &trns), file);
    const bool hasAlpha = hasTrns || ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                          ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
    const std::int64_t width = ihdr.width;
    const std::int64_t height = ihdr.height;
    const std::string dimensions = std::to_string(width) + " x " + std::to_string(height);
    if (width == 0 || height == 0) Refuse("picture of " + dimensions + " pixels is empty");
    if (width > kMaxPngSide || height > kMaxPngSide)
        Refuse("picture of " + dimensions + " pixels: a side is longer than " +
               std::to_string(kMaxPngSide) + " pixels");

    // The picture and its alpha plane together, before anything is
    // decoded; with the sides capped above, nothing here can overflow.
    const std::int64_t rowBytes = StrideFor(width, 24) + (hasAlpha ? width : 0);
    if (!CanHoldRows(width, height, 24) || rowBytes > StorageLimit() / height)
        Refuse("picture of " + dimensions + " pixels is too large");

    const Decoding decoding = DecodingFor(ihdr, hasAlpha);
    PngPicture result;
    std::vector<std::uint8_t> row;
    try {
        result.pixels = std::make_unique<TBitmap>();
        result.pixels->AdoptImage(
            TBitmap::NewImage(std::int32_t(width), std::int32_t(height), RowFormat::Bgr24));
        if (hasAlpha) result.alpha.resize(std::size_t(width * height));
        row.resize(std::size_t(width) * decoding.pixelBytes);
    } catch (const std::bad_alloc&) {
        Refuse("out of memory for a picture of " + dimensions + " pixels");
    }
    TBitmap& picture = *result.pixels;
    std::uint8_t* const row0 = picture.RowAddress(0);
    const std::ptrdiff_t step = height > 1 ? picture.RowAddress(1) - row0 : 0;
    // Fill bytes at the row ends carry no pixels; keep them defined.
    const std::size_t used = std::size_t(width) * 3;
    for (std::int64_t y = 0; y < height; ++y)
        std::memset(row0 + y * step + used, 0, std::size_t(picture.Stride()) - used);

    CheckRead(spng_decode_image(ctx, nullptr, 0, decoding.format,
                                SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE),
              file);
    const bool interlaced = ihdr.interlace_method == SPNG_INTERLACE_ADAM7;
    for (;;) {
        spng_row_info info{};
        CheckRead(spng_get_row_info(ctx, &info), file);
        const int code = spng_decode_row(ctx, row.data(), row.size());
        if (code != SPNG_EOI) CheckRead(code, file);
        // libspng checks the pass and the row against the header; check
        // again before writing where they point.
        if (info.row_num >= height || info.pass < 0 || info.pass > 6)
            Refuse("decoder gave a row outside the picture");
        const std::uint32_t x0 = interlaced ? kPassStart[info.pass] : 0;
        const std::uint32_t xStep = interlaced ? kPassStep[info.pass] : 1;
        std::uint8_t* alpha =
            hasAlpha ? result.alpha.data() + std::size_t(info.row_num) * std::size_t(width)
                     : nullptr;
        decoding.convert(row.data(), row0 + std::ptrdiff_t(info.row_num) * step, alpha, x0, xStep,
                         std::uint32_t(width));
        if (code == SPNG_EOI) break;
    }
    // The chunks after the pixels, up to IEND: metadata may follow the
    // image data, and a file cut short must be noticed there too.
    CheckRead(spng_decode_chunks(ctx), file);
    if (!ReadFraming(data, size, false).complete) Refuse("the file ends early: it is truncated");
    result.metadata = ReadMetadata(ctx, file);
    return result;
}

// ---- Writing ----

// Where the encoder's bytes go: one block grown as needed, cut to size at
// the end.
struct Sink {
    ByteBlock block;
    std::size_t used = 0;
    bool outOfMemory = false;
};

int WriteToSink(spng_ctx*, void* user, void* bytes, std::size_t length) {
    Sink& sink = *static_cast<Sink*>(user);
    if (length > sink.block.size() - sink.used) {
        std::size_t grown = std::max(sink.block.size() + sink.block.size() / 2, sink.used + length);
        if (!sink.block.Resize(grown)) {
            sink.outOfMemory = true;
            return SPNG_IO_ERROR;
        }
    }
    std::memcpy(sink.block.data() + sink.used, bytes, length);
    sink.used += length;
    return 0;
}

// Blue, green, red (and the alpha row) into red, green, blue (, alpha).
void PackRow(const std::uint8_t* bgr, const std::uint8_t* alpha, std::uint32_t width,
             std::uint8_t* out) {
    if (alpha) {
        for (std::uint32_t x = 0; x < width; ++x) {
            out[4 * x] = bgr[3 * x + 2];
            out[4 * x + 1] = bgr[3 * x + 1];
            out[4 * x + 2] = bgr[3 * x];
            out[4 * x + 3] = alpha[x];
        }
    } else {
        for (std::uint32_t x = 0; x < width; ++x) {
            out[3 * x] = bgr[3 * x + 2];
            out[3 * x + 1] = bgr[3 * x + 1];
            out[3 * x + 2] = bgr[3 * x];
        }
    }
}

bool IsTiffHeader(const std::vector<std::uint8_t>& exif) {
    static constexpr std::uint8_t kIntel[4] = {'I', 'I', 42, 0};
    static constexpr std::uint8_t kMotorola[4] = {'M', 'M', 0, 42};
    return exif.size() >= 4 && (std::memcmp(exif.data(), kIntel, 4) == 0 ||
                                std::memcmp(exif.data(), kMotorola, 4) == 0);
}

ByteBlock Encode(const TBitmap& rows, std::span<const std::uint8_t> alpha,
                 const PictureMetadata& metadata) {
    const std::uint32_t width = std::uint32_t(rows.Width());
    const std::uint32_t height = std::uint32_t(rows.Height());
    const bool withAlpha = !alpha.empty();

    Context owner = NewContext(SPNG_CTX_ENCODER);
    spng_ctx* ctx = owner.get();
    Sink sink;
    // A photograph compresses to about its raw size at most; only the pages
    // written cost memory.
    const std::size_t rowBytes = std::size_t(width) * (withAlpha ? 4 : 3);
    if (!sink.block.Resize(rowBytes * height / 2 + 65536)) Refuse("out of memory for the file");
    Check(spng_set_png_stream(ctx, WriteToSink, &sink));

    spng_ihdr ihdr{};
    ihdr.width = width;
    ihdr.height = height;
    ihdr.bit_depth = 8;
    ihdr.color_type = withAlpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    Check(spng_set_ihdr(ctx, &ihdr));
    if (!metadata.icc.empty()) {
        spng_iccp iccp{};
        std::strcpy(iccp.profile_name, kIccProfileName);
        iccp.profile_len = metadata.icc.size();
        iccp.profile = reinterpret_cast<char*>(const_cast<std::uint8_t*>(metadata.icc.data()));
        Check(spng_set_iccp(ctx, &iccp));
    }
    if (!metadata.exif.empty()) {
        if (!IsTiffHeader(metadata.exif))
            Refuse("the EXIF block does not start with a TIFF header");
        spng_exif exif{};
        exif.length = metadata.exif.size();
        exif.data = reinterpret_cast<char*>(const_cast<std::uint8_t*>(metadata.exif.data()));
        Check(spng_set_exif(ctx, &exif));
    }
    Check(spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, kCompressionLevel));
    Check(spng_set_option(ctx, SPNG_IMG_COMPRESSION_STRATEGY, kCompressionStrategy));
    Check(spng_set_option(ctx, SPNG_FILTER_CHOICE, kFilters));

    std::vector<std::uint8_t> packed;
    try {
        packed.resize(rowBytes);
    } catch (const std::bad_alloc&) {
        Refuse("out of memory for the file");
    }
    auto failed = [&](int code) {
        if (sink.outOfMemory) Refuse("out of memory for the file");
        Fail(code);
    };
    int code = spng_encode_image(ctx, nullptr, 0, SPNG_FMT_PNG,
                                 SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE);
    if (code != SPNG_OK) failed(code);
    for (std::uint32_t y = 0; y < height; ++y) {
        PackRow(rows.RowAddress(std::int32_t(y)),
                withAlpha ? alpha.data() + std::size_t(y) * width : nullptr, width, packed.data());
        code = spng_encode_row(ctx, packed.data(), packed.size());
        // The last row finishes the file and is answered "end of image".
        if (code != SPNG_OK && !(code == SPNG_EOI && y + 1 == height)) failed(code);
    }
    sink.block.Resize(sink.used);
    return std::move(sink.block);
}

}  // namespace

PngPicture ReadPngData(const std::uint8_t* data, std::size_t size) { return Decode(data, size); }

PngPicture ReadPngFile(const std::string& path) {
    const ByteBlock bytes = ReadFileBytes(path, kMaxPngFileBytes, kPrefix);
    return ReadPngData(bytes.data(), bytes.size());
}

ByteBlock EncodePng(const TBitmap& picture, std::span<const std::uint8_t> alpha,
                    const PictureMetadata& metadata) {
    if (const std::string why = WholePictureRefusal(picture, alpha, kMaxPngSide); !why.empty())
        Refuse(why);
    // Other formats are written from a 24-bit copy; a Depth24 picture is
    // read where it is.
    TBitmap source;
    source.ShareImage(picture);
    if (source.GetDepth() != Depth24) source.SetDepth(Depth24);
    return Encode(source, alpha, metadata);
}

void WritePngFile(const std::string& path, const TBitmap& picture,
                  std::span<const std::uint8_t> alpha, const PictureMetadata& metadata) {
    ByteBlock bytes = EncodePng(picture, alpha, metadata);
    SaveFileSafely(path, bytes.data(), bytes.size(), kPrefix);
}

}  // namespace sigillon
