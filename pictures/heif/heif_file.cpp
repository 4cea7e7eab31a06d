// HEIF reading through libheif. libheif reports failures as heif_error
// values and never jumps, so each call's result is checked and turned into
// BitmapError here.
//
// libheif 1.15 has no limits on what a file may ask it to allocate beyond
// a cap on the sides, so the picture's size is checked against the storage
// limit from its handle before anything is decoded. libheif's own buffers
// (the decoded planes and its RGB picture) come on top of ours, about twice
// the picture at most.
#include "pictures/heif/heif_file.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "pictures/files/safe_save.h"
#include "pictures/files/shared_library.h"
#include "pictures/heif/heif_boxes.h"
#include "pictures/raster/bitmap_image.h"

namespace sigillon {
namespace {

// The calls made into libheif, loaded when the first file needs it
// (pictures/files/shared_library.h).
// clang-format off
#define SIGILLON_HEIF_CALLS(X) \
    X(heif_init) X(heif_context_alloc) X(heif_context_free) \
    X(heif_context_get_primary_image_handle) X(heif_context_read_from_memory_without_copy) \
    X(heif_context_set_maximum_image_size_limit) X(heif_decode_image) \
    X(heif_decoding_options_alloc) X(heif_decoding_options_free) \
    X(heif_image_get_bits_per_pixel_range) X(heif_image_get_decoding_warnings) \
    X(heif_image_get_plane_readonly) X(heif_image_get_primary_height) \
    X(heif_image_get_primary_width) X(heif_image_handle_get_color_profile_type) \
    X(heif_image_handle_get_height) X(heif_image_handle_get_luma_bits_per_pixel) \
    X(heif_image_handle_get_metadata) X(heif_image_handle_get_metadata_content_type) \
    X(heif_image_handle_get_metadata_size) X(heif_image_handle_get_metadata_type) \
    X(heif_image_handle_get_nclx_color_profile) \
    X(heif_image_handle_get_number_of_metadata_blocks) \
    X(heif_image_handle_get_raw_color_profile) X(heif_image_handle_get_raw_color_profile_size) \
    X(heif_image_handle_get_width) X(heif_image_handle_has_alpha_channel) \
    X(heif_image_handle_release) X(heif_image_release) X(heif_nclx_color_profile_free) \
    X(heif_image_handle_get_list_of_metadata_block_IDs)
// clang-format on
struct HeifCalls {
    SIGILLON_HEIF_CALLS(SIGILLON_DECLARE_CALL)
};

const HeifCalls& Heif() {
    static const HeifCalls table = [] {
        static const SharedLibrary library(SIGILLON_LIBHEIF, "HEIF: ");
        HeifCalls calls;
        SIGILLON_HEIF_CALLS(SIGILLON_RESOLVE_CALL)
        // libheif finds its decoders once per process.
        calls.heif_init(nullptr);
        return calls;
    }();
    return table;
}

// No HEIF file larger than this is read: its picture would not fit.
constexpr std::uint64_t kMaxHeifFileBytes = std::uint64_t(1) << 32;
// Metadata blocks larger than this are dropped with a warning.
constexpr std::size_t kMaxMetadataBytes = std::size_t(16) << 20;

constexpr const char* kHeifBrands[] = {"heic", "heix", "hevc", "hevx",
                                       "mif1", "msf1", "heim", "heis"};
constexpr const char* kAvifBrands[] = {"avif", "avis"};

template <std::size_t N>
bool IsOneOf(const std::uint8_t* fourcc, const char* const (&brands)[N]) {
    return std::any_of(std::begin(brands), std::end(brands),
                       [&](const char* brand) { return std::memcmp(fourcc, brand, 4) == 0; });
}

std::uint32_t Load32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

struct Reader {
    std::string prefix;

    [[noreturn]] void Refuse(const std::string& why) const { throw BitmapError(prefix + why); }

    void Check(const heif_error& error) const {
        if (error.code == heif_error_Ok) return;
        if (error.code == heif_error_Memory_allocation_error) Refuse("out of memory");
        Refuse(error.message && *error.message ? error.message : "libheif failed");
    }
};

struct FreeContext {
    void operator()(heif_context* ctx) const { Heif().heif_context_free(ctx); }
};
struct ReleaseHandle {
    void operator()(heif_image_handle* handle) const { Heif().heif_image_handle_release(handle); }
};
struct ReleaseImage {
    void operator()(heif_image* image) const { Heif().heif_image_release(image); }
};
struct FreeOptions {
    void operator()(heif_decoding_options* options) const {
        Heif().heif_decoding_options_free(options);
    }
};

// The EXIF item starts with the offset of the TIFF header from the end of
// that field (HEIF, annex A.2.1), usually past an "Exif\0\0".
void TakeExif(const std::vector<std::uint8_t>& item, HeifPicture& picture) {
    static constexpr std::uint8_t kIntel[4] = {'I', 'I', 42, 0};
    static constexpr std::uint8_t kMotorola[4] = {'M', 'M', 0, 42};
    if (item.size() >= 8) {
        const std::uint64_t at = 4 + std::uint64_t(Load32(item.data()));
        if (at + 4 <= item.size() && (std::memcmp(item.data() + at, kIntel, 4) == 0 ||
                                      std::memcmp(item.data() + at, kMotorola, 4) == 0)) {
            picture.metadata.exif.assign(item.begin() + std::ptrdiff_t(at), item.end());
            return;
        }
    }
    picture.warnings.push_back("the EXIF block has no TIFF header where it says: dropped");
}

void ReadMetadataBlocks(const heif_image_handle* handle, HeifPicture& picture) {
    const int count = Heif().heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    std::vector<heif_item_id> ids(std::size_t(std::max(count, 0)));
    Heif().heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    bool haveExif = false, haveXmp = false;
    for (heif_item_id id : ids) {
        const std::string type = Heif().heif_image_handle_get_metadata_type(handle, id);
        const char* content = Heif().heif_image_handle_get_metadata_content_type(handle, id);
        const bool exif = type == "Exif";
        const bool xmp =
            type == "mime" && content && std::strcmp(content, "application/rdf+xml") == 0;
        if ((!exif || haveExif) && (!xmp || haveXmp)) continue;
        const std::size_t size = Heif().heif_image_handle_get_metadata_size(handle, id);
        const char* what = exif ? "EXIF block" : "XMP packet";
        if (size > kMaxMetadataBytes) {
            picture.warnings.push_back(std::string("the ") + what + " of " + std::to_string(size) +
                                       " bytes is larger than " +
                                       std::to_string(kMaxMetadataBytes >> 20) + " MiB: dropped");
            continue;
        }
        std::vector<std::uint8_t> bytes(size);
        const heif_error error = Heif().heif_image_handle_get_metadata(handle, id, bytes.data());
        if (error.code != heif_error_Ok) {
            picture.warnings.push_back(std::string("the ") + what + " cannot be read (" +
                                       error.message + "): dropped");
            continue;
        }
        if (exif) {
            TakeExif(bytes, picture);
            haveExif = true;
        } else {
            picture.metadata.xmp.assign(bytes.begin(), bytes.end());
            haveXmp = true;
        }
    }
}

// A profile is carried as it is. Numbers (nclx) cannot become one; those
// that mean sRGB, or BT.709's primaries with its or sRGB's curve, are what
// a picture without a profile is taken to be anyway.
void ReadColour(const Reader& reader, const heif_image_handle* handle, HeifPicture& picture) {
    const heif_color_profile_type type = Heif().heif_image_handle_get_color_profile_type(handle);
    if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
        std::vector<std::uint8_t> icc(Heif().heif_image_handle_get_raw_color_profile_size(handle));
        reader.Check(Heif().heif_image_handle_get_raw_color_profile(handle, icc.data()));
        picture.metadata.icc = std::move(icc);
        return;
    }
    if (type != heif_color_profile_type_nclx) return;
    // libheif hands out the numbers even with an error (for values it does
    // not know); they are freed either way.
    heif_color_profile_nclx* nclx = nullptr;
    const heif_error error = Heif().heif_image_handle_get_nclx_color_profile(handle, &nclx);
    if (!nclx) return;
    const int primaries = nclx->color_primaries;
    const int transfer = nclx->transfer_characteristics;
    Heif().heif_nclx_color_profile_free(nclx);
    if (error.code != heif_error_Ok) return;
    const bool srgbPrimaries = primaries == 1 || primaries == 2;
    const bool srgbCurve = transfer == 1 || transfer == 2 || transfer == 6 || transfer == 13;
    if (!srgbPrimaries || !srgbCurve)
        picture.warnings.push_back("the colours are described by numbers (primaries " +
                                   std::to_string(primaries) + ", transfer " +
                                   std::to_string(transfer) +
                                   "), which cannot be carried: they are taken as sRGB");
}

// Rounded to the nearest of the 256 levels: (v * 255 + max / 2) / max.
template <typename Sample, int kChannels>
void ConvertRows(const heif_image* image, int bits, TBitmap& pixels,
                 std::vector<std::uint8_t>& alpha) {
    int stride = 0;
    const std::uint8_t* plane =
        Heif().heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    const std::int32_t width = pixels.Width();
    const std::uint32_t max = (1u << bits) - 1;
    auto to8 = [max](std::uint32_t v) {
        if constexpr (sizeof(Sample) == 1) return std::uint8_t(v);
        return std::uint8_t((std::min(v, max) * 255 + max / 2) / max);
    };
    for (std::int32_t y = 0; y < pixels.Height(); ++y) {
        const Sample* p = reinterpret_cast<const Sample*>(plane + std::ptrdiff_t(y) * stride);
        std::uint8_t* q = pixels.RowAddress(y);
        std::uint8_t* a =
            kChannels == 4 ? alpha.data() + std::size_t(y) * std::size_t(width) : nullptr;
        for (std::int32_t x = 0; x < width; ++x, p += kChannels, q += 3) {
            q[0] = to8(p[2]);
            q[1] = to8(p[1]);
            q[2] = to8(p[0]);
            if constexpr (kChannels == 4) a[x] = to8(p[3]);
        }
        std::memset(q, 0, std::size_t(pixels.Stride()) - std::size_t(width) * 3);
    }
}

// A file parsed and its primary picture checked, not yet decoded.
struct OpenedHeif {
    Reader reader;
    std::unique_ptr<heif_context, FreeContext> context;
    std::unique_ptr<heif_image_handle, ReleaseHandle> handle;
    std::int64_t width = 0, height = 0;
    std::string dimensions;
    bool hasAlpha = false;
    HeifPicture picture;  // the metadata and its warnings so far
};

OpenedHeif Open(std::span<const std::uint8_t> file, const HeifReading& how) {
    OpenedHeif opened{
        {HeifBrandOf(file) == HeifBrand::Avif ? "AVIF: " : "HEIF: "}, {}, {}, 0, 0, {}, false, {}};
    const Reader& reader = opened.reader;
    if (file.empty()) reader.Refuse("the file is empty");
    opened.context.reset(Heif().heif_context_alloc());
    if (!opened.context) reader.Refuse("out of memory");
    heif_context* ctx = opened.context.get();
    // Refuses any picture or tile with a longer side while parsing.
    Heif().heif_context_set_maximum_image_size_limit(ctx, kMaxHeifSide + 1);
    reader.Check(
        Heif().heif_context_read_from_memory_without_copy(ctx, file.data(), file.size(), nullptr));

    heif_image_handle* handlePointer = nullptr;
    const heif_error primary = Heif().heif_context_get_primary_image_handle(ctx, &handlePointer);
    opened.handle.reset(handlePointer);
    reader.Check(primary);
    heif_image_handle* handle = opened.handle.get();

    // The size shown, after rotation and crop: what is allocated.
    const std::int64_t width = opened.width = Heif().heif_image_handle_get_width(handle);
    const std::int64_t height = opened.height = Heif().heif_image_handle_get_height(handle);
    const std::string dimensions = opened.dimensions =
        std::to_string(width) + " x " + std::to_string(height);
    if (width <= 0 || height <= 0) reader.Refuse("picture of " + dimensions + " pixels is empty");
    if (width > kMaxHeifSide || height > kMaxHeifSide)
        reader.Refuse("picture of " + dimensions + " pixels: a side is longer than " +
                      std::to_string(kMaxHeifSide) + " pixels");
    const bool hasAlpha = opened.hasAlpha = Heif().heif_image_handle_has_alpha_channel(handle) != 0;
    const std::int64_t rowBytes = StrideFor(width, 24) + (hasAlpha ? width : 0);
    if (!CanHoldRows(width, height, 24) || rowBytes > StorageLimit() / height)
        reader.Refuse("picture of " + dimensions + " pixels is too large");
    // A grid's or an overlay's canvas is allocated from the item's own data,
    // whatever size the picture shows: looked at before decoding.
    for (const DerivedPicture& derived : DerivedPictures(file)) {
        const std::string what = std::string(derived.type == "grid" ? "a grid" : "an overlay") +
                                 " of " + std::to_string(derived.width) + " x " +
                                 std::to_string(derived.height) + " pixels";
        if (derived.tiles > kMaxHeifTiles)
            reader.Refuse("a grid of " + std::to_string(derived.tiles) + " tiles, more than " +
                          std::to_string(kMaxHeifTiles));
        if (derived.width > std::uint32_t(kMaxHeifSide) ||
            derived.height > std::uint32_t(kMaxHeifSide))
            reader.Refuse(what + ": a side is longer than " + std::to_string(kMaxHeifSide) +
                          " pixels");
        // Four bytes a pixel: the canvas libheif fills, with alpha.
        if (std::uint64_t(derived.width) * derived.height * 4 > std::uint64_t(StorageLimit()))
            reader.Refuse(what + " is too large");
    }

    if (how.withMetadata) {
        ReadColour(reader, handle, opened.picture);
        ReadMetadataBlocks(handle, opened.picture);
    }
    return opened;
}

std::unique_ptr<heif_image, ReleaseImage> DecodeAs(const OpenedHeif& opened, heif_colorspace space,
                                                   heif_chroma chroma, bool acceptDamaged) {
    std::unique_ptr<heif_decoding_options, FreeOptions> options(
        Heif().heif_decoding_options_alloc());
    if (!options) opened.reader.Refuse("out of memory");
    options->strict_decoding = acceptDamaged ? 0 : 1;
    heif_image* imagePointer = nullptr;
    const heif_error decoded =
        Heif().heif_decode_image(opened.handle.get(), &imagePointer, space, chroma, options.get());
    std::unique_ptr<heif_image, ReleaseImage> image(imagePointer);
    opened.reader.Check(decoded);
    if (Heif().heif_image_get_primary_width(image.get()) != opened.width ||
        Heif().heif_image_get_primary_height(image.get()) != opened.height)
        opened.reader.Refuse("the decoded picture is not the " + opened.dimensions +
                             " pixels the file says");
    return image;
}

// What libheif overlooked in a damaged file, when that is accepted.
void TakeDecodingWarnings(const Reader& reader, heif_image* image,
                          std::vector<std::string>& warnings) {
    heif_error warning{};
    for (int i = 0; Heif().heif_image_get_decoding_warnings(image, i, &warning, 1) == 1; ++i)
        warnings.push_back(reader.prefix +
                           "damage accepted: " + (warning.message ? warning.message : "unknown"));
}

HeifPicture Decode(std::span<const std::uint8_t> file, const HeifReading& how) {
    OpenedHeif opened = Open(file, how);
    const Reader& reader = opened.reader;
    const std::int64_t width = opened.width, height = opened.height;
    const bool hasAlpha = opened.hasAlpha;
    HeifPicture picture = std::move(opened.picture);

    const bool deep = Heif().heif_image_handle_get_luma_bits_per_pixel(opened.handle.get()) > 8;
    const heif_chroma chroma =
        deep ? (hasAlpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (hasAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    const auto image = DecodeAs(opened, heif_colorspace_RGB, chroma, how.acceptDamaged);
    const int bits =
        Heif().heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    if (bits < 8 || bits > 16) reader.Refuse("samples of " + std::to_string(bits) + " bits");

    try {
        picture.pixels = std::make_unique<TBitmap>();
        picture.pixels->AdoptImage(
            TBitmap::NewImage(std::int32_t(width), std::int32_t(height), RowFormat::Bgr24));
        if (hasAlpha) picture.alpha.resize(std::size_t(width * height));
    } catch (const std::bad_alloc&) {
        reader.Refuse("out of memory for a picture of " + opened.dimensions + " pixels");
    }
    if (deep && hasAlpha)
        ConvertRows<std::uint16_t, 4>(image.get(), bits, *picture.pixels, picture.alpha);
    else if (deep)
        ConvertRows<std::uint16_t, 3>(image.get(), bits, *picture.pixels, picture.alpha);
    else if (hasAlpha)
        ConvertRows<std::uint8_t, 4>(image.get(), bits, *picture.pixels, picture.alpha);
    else
        ConvertRows<std::uint8_t, 3>(image.get(), bits, *picture.pixels, picture.alpha);
    TakeDecodingWarnings(reader, image.get(), picture.warnings);
    return picture;
}

// Rows of a picture of 8-bit samples without alpha, handed out from
// libheif's own RGB picture as they are read, in the blue, green, red
// order of a row: the same bytes as ReadHeifFile gives, without a second
// copy of the whole picture to allocate and fill before the first row.
class HeifRows : public PictureRowReader {
public:
    HeifRows(std::unique_ptr<heif_image, ReleaseImage> image, std::int32_t width,
             std::int32_t height, std::vector<std::string> warnings)
        : image_(std::move(image)), warnings_(std::move(warnings)) {
        rgb_ =
            Heif().heif_image_get_plane_readonly(image_.get(), heif_channel_interleaved, &stride_);
        format_->width = width;
        format_->height = height;
        format_->format = RowFormat::Bgr24;
        format_->stride = StrideFor(width, 24);
    }

    std::vector<std::string> Warnings() const override { return warnings_; }

private:
    void ReadRows(std::uint8_t* rows, std::int32_t count) override {
        const std::int32_t width = Width();
        for (std::int32_t i = 0; i < count; ++i) {
            const std::uint8_t* from = rgb_ + std::ptrdiff_t(NextRow() + i) * stride_;
            std::uint8_t* row = rows + std::ptrdiff_t(i) * Stride();
            std::uint8_t* to = row;
            for (std::int32_t x = 0; x < width; ++x, from += 3, to += 3) {
                to[0] = from[2];
                to[1] = from[1];
                to[2] = from[0];
            }
            std::fill(to, row + Stride(), 0);
        }
    }

    std::unique_ptr<heif_image, ReleaseImage> image_;
    std::vector<std::string> warnings_;
    const std::uint8_t* rgb_ = nullptr;
    int stride_ = 0;
};

}  // namespace

HeifBrand HeifBrandOf(std::span<const std::uint8_t> head) {
    // size, "ftyp", major brand, minor version, compatible brands.
    if (head.size() < 12 || std::memcmp(head.data() + 4, "ftyp", 4) != 0) return HeifBrand::None;
    const std::size_t end = std::min<std::uint64_t>(head.size(), Load32(head.data()));
    std::vector<const std::uint8_t*> brands = {head.data() + 8};
    for (std::size_t at = 16; at + 4 <= end; at += 4) brands.push_back(head.data() + at);
    // An AVIF file lists "mif1" too; it is AVIF all the same.
    for (const std::uint8_t* brand : brands)
        if (IsOneOf(brand, kAvifBrands)) return HeifBrand::Avif;
    for (const std::uint8_t* brand : brands)
        if (IsOneOf(brand, kHeifBrands)) return HeifBrand::Heif;
    return HeifBrand::None;
}

HeifPicture ReadHeifData(std::span<const std::uint8_t> file, const HeifReading& how) {
    return Decode(file, how);
}

RowReaderOpening OpenHeifRowReader(const std::string& path, const HeifReading& how) {
    const ByteBlock bytes = ReadFileBytes(path, kMaxHeifFileBytes, "HEIF: ");
    OpenedHeif opened = Open({bytes.data(), bytes.size()}, how);
    RowReaderOpening opening;
    if (opened.hasAlpha) {
        opening.whyNot = "its alpha plane is read whole with it";
        return opening;
    }
    if (Heif().heif_image_handle_get_luma_bits_per_pixel(opened.handle.get()) != 8) {
        opening.whyNot = "its samples are deeper than 8 bits";
        return opening;
    }
    auto image =
        DecodeAs(opened, heif_colorspace_RGB, heif_chroma_interleaved_RGB, how.acceptDamaged);
    if (Heif().heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved) != 8)
        opened.reader.Refuse("the decoded samples are not the 8 bits the file says");
    std::vector<std::string> warnings;
    TakeDecodingWarnings(opened.reader, image.get(), warnings);
    opening.reader = std::make_unique<HeifRows>(std::move(image), std::int32_t(opened.width),
                                                std::int32_t(opened.height), std::move(warnings));
    opening.metadata = std::move(opened.picture.metadata);
    opening.metadataDropped = std::move(opened.picture.warnings);
    opening.upright = true;
    opening.note = "decoded whole by libheif, its rows handed out from libheif's picture";
    return opening;
}

HeifPicture ReadHeifFile(const std::string& path, const HeifReading& how) {
    // The prefix before the file's brand is known.
    const ByteBlock bytes = ReadFileBytes(path, kMaxHeifFileBytes, "HEIF: ");
    return Decode({bytes.data(), bytes.size()}, how);
}

}  // namespace sigillon
