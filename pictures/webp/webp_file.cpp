// WebP reading and writing through libwebp. Like libspng, libwebp reports
// every failure as a return value and never jumps, so each call's result is
// checked and turned into BitmapError here.
//
// A picture without alpha is decoded straight into its rows, blue, green,
// red; one with alpha into one buffer of blue, green, red and alpha, which
// is then split into the rows and the alpha plane.
#include "pictures/webp/webp_file.h"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstring>
#include <new>
#include <utility>

#include "pictures/raster/bitmap_image.h"

namespace sigillon {
namespace {

// A RIFF file holds at most 4 GiB; its size field is 32 bits.
constexpr std::uint64_t kMaxWebpFileBytes = std::uint64_t(1) << 32;

// The longest side a WebP file has: its header fields are 14 bits.
constexpr std::int32_t kMaxWebpSide = 16383;

// cwebp's default effort: on 6000 x 4000 photographs method 6 took about
// twice as long for files 1-2 % smaller, and method 2 saved a third of the
// time for files 4 % larger.
constexpr int kMethod = 4;
// cwebp's default for lossless files: at method 4, quality 75 is where more
// effort stops paying.
constexpr float kLosslessEffort = 75;

// Undecoded rows of a damaged file, as a damaged JPEG file shows them.
constexpr std::uint8_t kGrey = 0x80;

constexpr const char* kPrefix = "WebP: ";

[[noreturn]] void Refuse(const std::string& why) { throw BitmapError(kPrefix + why); }

// A decoder status in our words.
std::string Reason(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_NOT_ENOUGH_DATA: return "the file ends early: it is truncated";
        case VP8_STATUS_BITSTREAM_ERROR: return "the picture data is damaged";
        case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
        case VP8_STATUS_UNSUPPORTED_FEATURE: return "the file uses a feature libwebp does not decode";
        case VP8_STATUS_INVALID_PARAM: return "the decoder refused its settings";
        default: return "the decoder failed (status " + std::to_string(int(status)) + ")";
    }
}

struct FreeDemuxer {
    void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};
using Demuxer = std::unique_ptr<WebPDemuxer, FreeDemuxer>;

struct FreeIncremental {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};
using Incremental = std::unique_ptr<WebPIDecoder, FreeIncremental>;

// ---- Reading ----

bool IsTiffHeader(const std::uint8_t* p, std::size_t size) {
    return size >= 4 && ((p[0] == 'I' && p[1] == 'I' && p[2] == 42 && p[3] == 0) ||
                         (p[0] == 'M' && p[1] == 'M' && p[2] == 0 && p[3] == 42));
}

// The chunks of an extended file: ICCP, EXIF and "XMP ". Some writers put
// JPEG's "Exif\0\0" before the TIFF header; the block is kept from the
// header on, as from a JPEG file.
void ReadMetadata(WebPDemuxer* demux, WebpPicture& result) {
    auto chunk = [&](const char* id, auto&& take) {
        WebPChunkIterator it;
        if (WebPDemuxGetChunk(demux, id, 1, &it)) take(it.chunk.bytes, it.chunk.size);
        WebPDemuxReleaseChunkIterator(&it);
    };
    chunk("ICCP", [&](const std::uint8_t* p, std::size_t n) { result.metadata.icc.assign(p, p + n); });
    chunk("EXIF", [&](const std::uint8_t* p, std::size_t n) {
        static constexpr char kJpegSignature[6] = {'E', 'x', 'i', 'f', 0, 0};
        if (n >= 6 && std::memcmp(p, kJpegSignature, 6) == 0) p += 6, n -= 6;
        if (IsTiffHeader(p, n))
            result.metadata.exif.assign(p, p + n);
        else
            result.warnings.push_back("EXIF chunk left out: it does not start with a TIFF header");
    });
    chunk("XMP ", [&](const std::uint8_t* p, std::size_t n) {
        result.metadata.xmp.assign(reinterpret_cast<const char*>(p), n);
    });
}

// Where the decoder writes: the picture's rows, or one buffer of blue,
// green, red and alpha.
struct Target {
    std::uint8_t* pixels;
    int stride;
    std::size_t size;
};

void SetOutput(WebPDecoderConfig& config, const Target& target, bool withAlpha) {
    config.output.colorspace = withAlpha ? MODE_BGRA : MODE_BGR;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = target.pixels;
    config.output.u.RGBA.stride = target.stride;
    config.output.u.RGBA.size = target.size;
}

// The rows a damaged file still gives: as many as the incremental decoder
// decodes before the damage or the end. 0 when it gives none.
int DecodeWhatIsLeft(const std::uint8_t* data, std::size_t size, const Target& target,
                     bool withAlpha) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) Refuse("the decoder library does not match");
    SetOutput(config, target, withAlpha);
    Incremental decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder) Refuse("out of memory");
    WebPIAppend(decoder.get(), data, size);  // damage or the end stops it
    int rows = 0, width = 0, height = 0, stride = 0;
    if (!WebPIDecGetRGB(decoder.get(), &rows, &width, &height, &stride)) return 0;
    return rows;
}

WebpPicture Decode(const std::uint8_t* data, std::size_t size, const WebpReading& reading) {
    if (size == 0) Refuse("the file is empty");
    WebPBitstreamFeatures features;
    const VP8StatusCode header = WebPGetFeatures(data, size, &features);
    if (header == VP8_STATUS_BITSTREAM_ERROR) Refuse("not a WebP file, or its header is damaged");
    if (header != VP8_STATUS_OK) Refuse(Reason(header));
    if (features.has_animation) Refuse("animated WebP files are not supported");

    const std::int64_t width = features.width;
    const std::int64_t height = features.height;
    const bool withAlpha = features.has_alpha != 0;
    const std::string dimensions = std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0 || width > kMaxWebpSide || height > kMaxWebpSide)
        Refuse("picture of " + dimensions + " pixels: no WebP picture has that size");
    // The rows, and with alpha the plane and the buffer decoded into; the
    // sides are capped above, so nothing here can overflow.
    const std::int64_t rowBytes = StrideFor(width, 24) + (withAlpha ? 5 * width : 0);
    if (!CanHoldRows(width, height, 24) || rowBytes > StorageLimit() / height)
        Refuse("picture of " + dimensions + " pixels is too large");

    WebpPicture result;
    std::vector<std::uint8_t> bgra;
    try {
        auto image = TBitmap::NewImage(std::int32_t(width), std::int32_t(height), RowFormat::Bgr24);
        // Top row first, as the decoder writes.
        image->topDown = true;
        result.pixels = std::make_unique<TBitmap>();
        result.pixels->AdoptImage(std::move(image));
        if (withAlpha) {
            bgra.resize(std::size_t(width * height * 4));
            result.alpha.resize(std::size_t(width * height));
        }
    } catch (const std::bad_alloc&) {
        Refuse("out of memory for a picture of " + dimensions + " pixels");
    }
    TBitmap& picture = *result.pixels;
    std::uint8_t* const rows = picture.RowAddress(0);
    const std::int64_t stride = picture.Stride();
    const Target target = withAlpha ? Target{bgra.data(), int(width * 4), bgra.size()}
                                    : Target{rows, int(stride), std::size_t(stride * height)};

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config)) Refuse("the decoder library does not match");
    SetOutput(config, target, withAlpha);
    const VP8StatusCode status = WebPDecode(data, size, &config);
    std::int64_t decoded = height;
    if (status != VP8_STATUS_OK) {
        if (!reading.acceptDamaged ||
            (status != VP8_STATUS_NOT_ENOUGH_DATA && status != VP8_STATUS_BITSTREAM_ERROR))
            Refuse(Reason(status));
        decoded = DecodeWhatIsLeft(data, size, target, withAlpha);
        if (decoded <= 0) Refuse(Reason(status) + ", and not one row of it can be decoded");
        // Every row: the file is cut after the picture, which the chunks
        // below tell.
        if (decoded < height)
            result.warnings.push_back(Reason(status) + ": " + std::to_string(decoded) + " of " +
                                      std::to_string(height) + " rows decoded, the rest grey");
    }

    // Fill bytes at the row ends carry no pixels; keep them defined.
    const std::size_t used = std::size_t(width) * 3;
    for (std::int64_t y = 0; y < height; ++y) {
        std::uint8_t* row = rows + y * stride;
        if (y >= decoded) std::memset(row, kGrey, used);
        std::memset(row + used, 0, std::size_t(stride) - used);
    }
    if (withAlpha) {
        for (std::int64_t y = 0; y < decoded; ++y) {
            const std::uint8_t* from = bgra.data() + y * width * 4;
            std::uint8_t* row = rows + y * stride;
            std::uint8_t* alpha = result.alpha.data() + y * width;
            for (std::int64_t x = 0; x < width; ++x, from += 4) {
                row[3 * x] = from[0];
                row[3 * x + 1] = from[1];
                row[3 * x + 2] = from[2];
                alpha[x] = from[3];
            }
        }
        std::memset(result.alpha.data() + decoded * width, 0xFF,
                    std::size_t((height - decoded) * width));
    }

    // The chunks, which may follow the picture data: a file cut in them or
    // with damaged chunk headers is damaged too.
    const WebPData whole{data, size};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    Demuxer demux(WebPDemuxPartial(&whole, &state));
    if (state != WEBP_DEMUX_DONE && decoded == height) {
        const std::string why = state == WEBP_DEMUX_PARSE_ERROR
                                    ? "the file's chunks are damaged"
                                    : "the file ends early: it is truncated";
        if (!reading.acceptDamaged) Refuse(why);
        result.warnings.push_back(why + (reading.withMetadata ? ": its metadata may be lost" : ""));
    }
    if (reading.withMetadata && demux) ReadMetadata(demux.get(), result);
    return result;
}

// ---- Writing ----

// Where the encoder's bytes go: one block grown as needed, cut to size at
// the end.
struct Sink {
    ByteBlock block;
    std::size_t used = 0;
};

int WriteToSink(const std::uint8_t* bytes, std::size_t length, const WebPPicture* picture) {
    Sink& sink = *static_cast<Sink*>(picture->custom_ptr);
    if (length > sink.block.size() - sink.used) {
        const std::size_t grown =
            std::max(sink.block.size() + sink.block.size() / 2, sink.used + length);
        if (!sink.block.Resize(grown)) return 0;
    }
    std::memcpy(sink.block.data() + sink.used, bytes, length);
    sink.used += length;
    return 1;
}

// An encoder failure in our words.
[[noreturn]] void FailEncoding(WebPEncodingError error) {
    switch (error) {
        case VP8_ENC_ERROR_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BAD_WRITE:
            Refuse("out of memory for the file");
        case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
            Refuse("the picture's block modes take more than the 512 KiB a lossy file allows; a "
                   "lower --quality may fit");
        case VP8_ENC_ERROR_FILE_TOO_BIG:
            Refuse("the file would be larger than the 4 GiB a WebP file can be");
        default:
            Refuse("the encoder failed (error " + std::to_string(int(error)) + ")");
    }
}

struct FreePicture {
    void operator()(WebPPicture* picture) const { WebPPictureFree(picture); }
};

// The picture's bitstream alone, a plain VP8 or VP8L file.
ByteBlock EncodeBitstream(const TBitmap& rows, std::span<const std::uint8_t> alpha,
                          const WebpEncoding& encoding) {
    const int width = rows.Width();
    const int height = rows.Height();
    WebPConfig config;
    if (!WebPConfigInit(&config)) Refuse("the encoder library does not match");
    config.method = kMethod;
    if (encoding.lossless) {
        config.lossless = 1;
        config.quality = kLosslessEffort;
        // Colours under transparent pixels are kept too: lossless means
        // every value comes back.
        config.exact = 1;
    } else {
        config.quality = float(encoding.quality);
    }
    if (!WebPValidateConfig(&config)) Refuse("the encoder refused its settings");

    WebPPicture picture;
    if (!WebPPictureInit(&picture)) Refuse("the encoder library does not match");
    std::unique_ptr<WebPPicture, FreePicture> owner(&picture);
    picture.width = width;
    picture.height = height;
    // Lossy files are converted to YUV straight from the rows, as cwebp
    // does; lossless ones keep blue, green, red and alpha.
    picture.use_argb = encoding.lossless ? 1 : 0;
    Sink sink;
    picture.writer = WriteToSink;
    picture.custom_ptr = &sink;

    const std::uint8_t* top = rows.RowAddress(0);
    // Rows stored bottom-up are handed over with a negative step.
    const std::ptrdiff_t step = height > 1 ? rows.RowAddress(1) - top : rows.Stride();
    int imported = 0;
    if (alpha.empty()) {
        imported = WebPPictureImportBGR(&picture, top, int(step));
    } else {
        std::vector<std::uint8_t> bgra;
        try {
            bgra.resize(std::size_t(width) * std::size_t(height) * 4);
        } catch (const std::bad_alloc&) {
            Refuse("out of memory for the file");
        }
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = top + y * step;
            const std::uint8_t* a = alpha.data() + std::size_t(y) * std::size_t(width);
            std::uint8_t* to = bgra.data() + std::size_t(y) * std::size_t(width) * 4;
            for (int x = 0; x < width; ++x, to += 4) {
                to[0] = row[3 * x];
                to[1] = row[3 * x + 1];
                to[2] = row[3 * x + 2];
                to[3] = a[x];
            }
        }
        imported = WebPPictureImportBGRA(&picture, bgra.data(), width * 4);
    }
    if (!imported) FailEncoding(picture.error_code);
    if (!WebPEncode(&config, &picture)) FailEncoding(picture.error_code);
    sink.block.Resize(sink.used);
    return std::move(sink.block);
}

struct FreeMux {
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

// The bitstream in an extended file with the metadata's chunks; the muxer
// sets the header's flags for them and for alpha.
ByteBlock AddChunks(ByteBlock bitstream, const PictureMetadata& metadata) {
    const WebPData image{bitstream.data(), bitstream.size()};
    std::unique_ptr<WebPMux, FreeMux> mux(WebPMuxCreate(&image, 0));
    if (!mux) Refuse("out of memory for the file");
    auto add = [&](const char* id, const std::uint8_t* bytes, std::size_t size) {
        if (size == 0) return;
        const WebPData chunk{bytes, size};
        if (WebPMuxSetChunk(mux.get(), id, &chunk, 0) != WEBP_MUX_OK)
            Refuse(std::string("the ") + id + " chunk cannot be added");
    };
    add("ICCP", metadata.icc.data(), metadata.icc.size());
    add("EXIF", metadata.exif.data(), metadata.exif.size());
    add("XMP ", reinterpret_cast<const std::uint8_t*>(metadata.xmp.data()), metadata.xmp.size());
    WebPData file{nullptr, 0};
    if (WebPMuxAssemble(mux.get(), &file) != WEBP_MUX_OK) {
        WebPDataClear(&file);
        Refuse("the file's chunks cannot be laid out");
    }
    ByteBlock block;
    try {
        block = ByteBlock(file.bytes, file.size);
    } catch (const std::bad_alloc&) {
        WebPDataClear(&file);
        Refuse("out of memory for the file");
    }
    WebPDataClear(&file);
    return block;
}

}  // namespace

WebpPicture ReadWebpData(const std::uint8_t* data, std::size_t size, const WebpReading& reading) {
    return Decode(data, size, reading);
}

WebpPicture ReadWebpFile(const std::string& path, const WebpReading& reading) {
    const ByteBlock bytes = ReadFileBytes(path, kMaxWebpFileBytes, kPrefix);
    return ReadWebpData(bytes.data(), bytes.size(), reading);
}

std::vector<std::string> WebpMetadataWarnings(const PictureMetadata& metadata) {
    std::vector<std::string> warnings;
    if (!metadata.extendedXmp.empty())
        warnings.push_back("extended XMP left out: a WebP file holds one XMP packet");
    if (!metadata.photoshop.empty())
        warnings.push_back("Photoshop/IPTC data left out: a WebP file has no place for it");
    return warnings;
}

ByteBlock EncodeWebp(const TBitmap& picture, std::span<const std::uint8_t> alpha,
                     const PictureMetadata& metadata, const WebpEncoding& encoding) {
    if (picture.IsEmpty() || picture.Width() <= 0 || picture.Height() <= 0)
        Refuse("an empty picture cannot be written");
    if (picture.Width() > kMaxWebpSide || picture.Height() > kMaxWebpSide)
        Refuse("a side longer than " + std::to_string(kMaxWebpSide) + " pixels cannot be written");
    if (!alpha.empty() &&
        alpha.size() != std::size_t(picture.Width()) * std::size_t(picture.Height()))
        Refuse("the alpha plane holds " + std::to_string(alpha.size()) + " values for " +
               std::to_string(picture.Width()) + " x " + std::to_string(picture.Height()) +
               " pixels");
    if (!metadata.exif.empty() && !IsTiffHeader(metadata.exif.data(), metadata.exif.size()))
        Refuse("the EXIF block does not start with a TIFF header");
    // Other formats are written from a 24-bit copy; a Depth24 picture is
    // read where it is.
    TBitmap source;
    source.ShareImage(picture);
    if (source.GetDepth() != Depth24) source.SetDepth(Depth24);
    ByteBlock bitstream = EncodeBitstream(source, alpha, encoding);
    if (metadata.icc.empty() && metadata.exif.empty() && metadata.xmp.empty()) return bitstream;
    return AddChunks(std::move(bitstream), metadata);
}

void WriteWebpFile(const std::string& path, const TBitmap& picture,
                   std::span<const std::uint8_t> alpha, const PictureMetadata& metadata,
                   const WebpEncoding& encoding) {
    ByteBlock bytes = EncodeWebp(picture, alpha, metadata, encoding);
    SaveFileSafely(path, bytes.data(), bytes.size(), kPrefix);
}

}  // namespace sigillon
