#include "pictures/formats.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "pictures/avif/avif_file.h"
#include "pictures/bmp/bmp_rows.h"
#include "pictures/heif/heif_file.h"
#include "pictures/jpeg/jpeg_image.h"
#include "pictures/jpeg/jpeg_metadata.h"
#include "pictures/jpeg/jpeg_rows.h"
#include "pictures/png/png_file.h"
#include "pictures/raster/bitmap_image.h"
#include "pictures/tiff/tiff_file.h"
#include "pictures/webp/webp_file.h"

namespace sigillon {
namespace {

bool StartsWith(std::span<const std::uint8_t> head, std::initializer_list<std::uint8_t> bytes) {
    if (head.size() < bytes.size()) return false;
    return std::equal(bytes.begin(), bytes.end(), head.begin());
}

// ---- JPEG: a start-of-image marker followed by another marker.

bool IsJpeg(std::span<const std::uint8_t> head) { return StartsWith(head, {0xFF, 0xD8, 0xFF}); }

JpegDamage DamageOf(const ReadSettings& settings) {
    return settings.acceptDamaged ? JpegDamage::Fill : JpegDamage::Refuse;
}

RowReaderOpening OpenJpegRows(const std::string& path, const ReadSettings& settings) {
    return OpenJpegRowReader(path, {}, kJpegRowLimits, settings.withMetadata, DamageOf(settings));
}

// Through the row reader too, into a picture held within the storage limit,
// so that damage is found the same way and as early; its rows are those
// TJPEGImage decodes. What the row reader leaves to TJPEGImage has no
// picture data to be damaged: an empty file (colours quantised in two
// passes, its other case, never come here: the tool decodes in 24 bits).
HeldPicture ReadJpeg(const std::string& path, const ReadSettings& settings) {
    RowReaderOpening opening =
        OpenJpegRowReader(path, {}, {kJpegRowLimits.rowBytes, StorageLimit()},
                          settings.withMetadata, DamageOf(settings));
    HeldPicture picture;
    picture.pixels = std::make_unique<TBitmap>();
    if (!opening.reader) {
        TJPEGImage jpeg;
        jpeg.LoadFromFile(path);
        picture.pixels->ShareImage(jpeg.Bitmap());
        return picture;
    }
    PictureRowReader& reader = *opening.reader;
    const TBitmapImage& format = reader.Format();
    std::unique_ptr<TBitmapImage> image =
        TBitmap::NewImage(format.width, format.height, format.format);
    image->palette = format.palette;
    picture.pixels->AdoptImage(std::move(image));
    // The picture is stored bottom-up: a row at a time.
    for (std::int32_t y = 0; y < format.height; ++y) reader.Read(picture.pixels->RowAddress(y), 1);
    reader.Finish();
    picture.metadata = std::move(opening.metadata);
    picture.warnings = std::move(opening.metadataDropped);
    for (std::string& warning : reader.Warnings()) picture.warnings.push_back(std::move(warning));
    return picture;
}

std::unique_ptr<PictureRowWriter> CreateJpegRows(const std::string& path,
                                                 const TBitmapImage& format,
                                                 const WriteSettings& settings,
                                                 std::vector<std::string>& warnings) {
    static const PictureMetadata none;
    const PictureMetadata& metadata = settings.metadata ? *settings.metadata : none;
    // Written in colour, three components, unless encoded as a grey file was.
    if (!metadata.Empty()) {
        std::vector<std::string> left = JpegMetadataWarnings(
            metadata, settings.jpegEncoding ? settings.jpegEncoding->components : 3);
        warnings.insert(warnings.end(), left.begin(), left.end());
    }
    if (settings.jpegEncoding)
        return CreateJpegRowWriter(path, format, *settings.jpegEncoding, metadata);
    return CreateJpegRowWriter(
        path, format, settings.quality == kDefaultQuality ? kSavedJpegQuality : settings.quality,
        metadata);
}

// ---- BMP: "BM", the signature the reader takes.

bool IsBmp(std::span<const std::uint8_t> head) { return StartsWith(head, {'B', 'M'}); }

RowReaderOpening OpenBmpRows(const std::string& path, const ReadSettings&) {
    return OpenBmpRowReader(path);
}

HeldPicture ReadBmp(const std::string& path, const ReadSettings&) {
    HeldPicture picture;
    picture.pixels = std::make_unique<TBitmap>();
    picture.pixels->ReadBmpFile(path);
    return picture;
}

// BMP files carry no metadata, and nothing is said of what they drop.
std::unique_ptr<PictureRowWriter> CreateBmpRows(const std::string& path, const TBitmapImage& format,
                                                const WriteSettings&, std::vector<std::string>&) {
    return CreateBmpRowWriter(path, format);
}

// ---- What the formats decoded and encoded whole share.

// A picture a whole-picture reader gave, as the table hands it on.
template <typename Decoded>
HeldPicture Held(Decoded decoded) {
    HeldPicture picture;
    picture.pixels = std::move(decoded.pixels);
    picture.alpha = std::move(decoded.alpha);
    picture.metadata = std::move(decoded.metadata);
    picture.warnings = std::move(decoded.warnings);
    return picture;
}

// The metadata to write: none when none is given.
const PictureMetadata& MetadataOf(const WriteSettings& settings) {
    static const PictureMetadata none;
    return settings.metadata ? *settings.metadata : none;
}

// A writer for an encoder that takes the whole picture: the rows are
// collected, then write(picture, alpha, metadata) makes the file. The alpha
// and metadata are copied, since the writer outlives the settings.
template <typename Write>
std::unique_ptr<PictureRowWriter> CollectThenWrite(const TBitmapImage& format,
                                                   const WriteSettings& settings, Write write) {
    std::vector<std::uint8_t> alpha(settings.alpha.begin(), settings.alpha.end());
    PictureMetadata metadata = MetadataOf(settings);
    return std::make_unique<CollectingRowWriter>(
        format,
        [alpha = std::move(alpha), metadata = std::move(metadata),
         write = std::move(write)](const TBitmap& picture) { write(picture, alpha, metadata); });
}

// ---- PNG: its eight-byte signature. Read and written whole.

bool IsPng(std::span<const std::uint8_t> head) {
    return StartsWith(head, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
}

HeldPicture ReadPng(const std::string& path, const ReadSettings& settings) {
    PngPicture png = ReadPngFile(path);
    HeldPicture picture;
    picture.pixels = std::move(png.pixels);
    picture.alpha = std::move(png.alpha);
    if (settings.withMetadata) picture.metadata = std::move(png.metadata);
    return picture;
}

std::unique_ptr<PictureRowWriter> CreatePngRows(const std::string& path, const TBitmapImage& format,
                                                const WriteSettings& settings,
                                                std::vector<std::string>&) {
    return CollectThenWrite(
        format, settings,
        [path](const TBitmap& picture, const auto& alpha, const PictureMetadata& metadata) {
            WritePngFile(path, picture, alpha, metadata);
        });
}

// ---- TIFF: either byte order, classic (42) or BigTIFF (43). Rows from
// strips and tiles; a picture with alpha is read whole.

bool IsTiff(std::span<const std::uint8_t> head) {
    return StartsWith(head, {'I', 'I', 42, 0}) || StartsWith(head, {'M', 'M', 0, 42}) ||
           StartsWith(head, {'I', 'I', 43, 0}) || StartsWith(head, {'M', 'M', 0, 43});
}

RowReaderOpening OpenTiffRows(const std::string& path, const ReadSettings& settings) {
    return OpenTiffRowReader(path, settings);
}

HeldPicture ReadTiff(const std::string& path, const ReadSettings& settings) {
    return ReadTiffFile(path, settings);
}

std::unique_ptr<PictureRowWriter> CreateTiffRows(const std::string& path,
                                                 const TBitmapImage& format,
                                                 const WriteSettings& settings,
                                                 std::vector<std::string>& warnings) {
    return CreateTiffRowWriter(path, format, settings.alpha, MetadataOf(settings), warnings);
}

// ---- HEIF and AVIF: an ISO-BMFF "ftyp" box whose brands say which. Both
// decoded whole by libheif, upright already, and handed out as rows when
// coded as phones code them; AVIF written by libavif, HEIF (HEVC) not at
// all: its encoder comes with GPL and patent terms.

bool IsHeif(std::span<const std::uint8_t> head) { return HeifBrandOf(head) == HeifBrand::Heif; }
bool IsAvif(std::span<const std::uint8_t> head) { return HeifBrandOf(head) == HeifBrand::Avif; }

RowReaderOpening OpenHeifRows(const std::string& path, const ReadSettings& settings) {
    return OpenHeifRowReader(path, settings);
}

HeldPicture ReadHeif(const std::string& path, const ReadSettings& settings) {
    HeldPicture picture = Held(ReadHeifFile(path, settings));
    picture.upright = true;
    return picture;
}

std::unique_ptr<PictureRowWriter> CreateAvifRows(const std::string& path,
                                                 const TBitmapImage& format,
                                                 const WriteSettings& settings,
                                                 std::vector<std::string>& warnings) {
    if (settings.metadata &&
        (!settings.metadata->extendedXmp.empty() || !settings.metadata->photoshop.empty()))
        warnings.push_back("AVIF files carry no extended XMP and no Photoshop/IPTC block: dropped");
    const int quality =
        settings.quality == kDefaultQuality ? kDefaultAvifQuality : settings.quality;
    return CreateAvifRowWriter(path, format, settings.alpha, MetadataOf(settings), quality);
}

// ---- WebP: a RIFF file of form type "WEBP". Read and written whole:
// libwebp decodes and encodes whole pictures.

bool IsWebp(std::span<const std::uint8_t> head) {
    return head.size() >= 12 && StartsWith(head, {'R', 'I', 'F', 'F'}) && head[8] == 'W' &&
           head[9] == 'E' && head[10] == 'B' && head[11] == 'P';
}

HeldPicture ReadWebp(const std::string& path, const ReadSettings& settings) {
    return Held(ReadWebpFile(path, settings));
}

std::unique_ptr<PictureRowWriter> CreateWebpRows(const std::string& path,
                                                 const TBitmapImage& format,
                                                 const WriteSettings& settings,
                                                 std::vector<std::string>& warnings) {
    if (settings.metadata) {
        std::vector<std::string> left = WebpMetadataWarnings(*settings.metadata);
        warnings.insert(warnings.end(), left.begin(), left.end());
    }
    const WebpEncoding encoding{
        settings.quality == kDefaultQuality ? kDefaultWebpQuality : settings.quality,
        settings.lossless};
    return CollectThenWrite(format, settings,
                            [path, encoding](const TBitmap& picture, const auto& alpha,
                                             const PictureMetadata& metadata) {
                                WriteWebpFile(path, picture, alpha, metadata, encoding);
                            });
}

// clang-format off
const PictureFormat kFormats[] = {
    {"JPEG", {".jpg", ".jpeg", ".jpe", ".jfif", ".jif"}, IsJpeg, false, false, OpenJpegRows,
     ReadJpeg, CreateJpegRows},
    {"BMP", {".bmp", ".dib"}, IsBmp, false, true, OpenBmpRows, ReadBmp, CreateBmpRows},
    {"PNG", {".png"}, IsPng, true, true, nullptr, ReadPng, CreatePngRows},
    {"TIFF", {".tif", ".tiff"}, IsTiff, true, true, OpenTiffRows, ReadTiff, CreateTiffRows},
    {"WebP", {".webp"}, IsWebp, true, true, nullptr, ReadWebp, CreateWebpRows},
    {"AVIF", {".avif"}, IsAvif, true, false, OpenHeifRows, ReadHeif, CreateAvifRows},
    {"HEIF", {".heic", ".heif", ".hif"}, IsHeif, false, false, OpenHeifRows, ReadHeif, nullptr},
};
// clang-format on

std::string LowerExtension(std::string_view path) {
    const std::size_t slash = path.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return {};
    std::string extension(name.substr(dot));
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return extension;
}

}  // namespace

std::span<const PictureFormat> PictureFormats() { return kFormats; }

const PictureFormat* FormatOfName(std::string_view path) {
    const std::string extension = LowerExtension(path);
    if (extension.empty()) return nullptr;
    for (const PictureFormat& format : kFormats)
        for (std::string_view known : format.extensions)
            if (extension == known) return &format;
    return nullptr;
}

const PictureFormat* FormatOfContent(std::span<const std::uint8_t> head) {
    for (const PictureFormat& format : kFormats)
        if (format.sniff(head)) return &format;
    return nullptr;
}

const PictureFormat* SniffFile(const std::string& path, std::string& problem) {
    problem.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        problem = std::strerror(errno);
        return nullptr;
    }
    std::uint8_t head[kSniffBytes];
    std::size_t got = 0;
    while (got < sizeof head) {
        const ssize_t n = ::pread(fd, head + got, sizeof head - got, off_t(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) problem = std::strerror(errno);
        if (n <= 0) break;
        got += std::size_t(n);
    }
    ::close(fd);
    return problem.empty() ? FormatOfContent({head, got}) : nullptr;
}

std::string KnownExtensions(bool writtenOnly) {
    std::string list;
    for (const PictureFormat& format : kFormats)
        if (!writtenOnly || format.createRowWriter)
            for (std::string_view extension : format.extensions) {
                if (!list.empty()) list += ", ";
                list += extension;
            }
    return list;
}

}  // namespace sigillon
