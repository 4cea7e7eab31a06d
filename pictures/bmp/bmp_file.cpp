// Windows BMP files: the 12-byte core header and the 40-byte info header or
// any longer one (V4, V5, OS/2 2.x), 1, 4, 8, 16, 24 and 32 bits per pixel,
// bit-field masks, colour tables, top-down rows, and RLE4 / RLE8 pictures.
//
// Every field is read little-endian from the bytes after checking that the
// bytes are there, every size is computed in 64 bits and checked against
// the storage limit before anything is allocated, and the picture is built
// in a record of its own that replaces the caller's only when the whole
// file was understood.
#include <algorithm>
#include <cstring>
#include <new>

#include "pictures/raster/bitmap_image.h"
#include "pictures/raster/bitmap.h"
#include "pictures/bmp/bmp.h"
#include "pictures/bmp/bmp_layout.h"
#include "pictures/files/safe_save.h"

namespace sigillon {
namespace {

constexpr std::uint64_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kV2HeaderSize = 52;  // the first form that holds the masks itself
constexpr std::uint32_t kMaxColourTable = 256;

// Compression values of the info header.
constexpr std::uint32_t kRgb = 0;
constexpr std::uint32_t kRle8 = 1;
constexpr std::uint32_t kRle4 = 2;
constexpr std::uint32_t kBitFields = 3;

// No offset or size field of a BMP file reaches beyond 4 GiB; together with
// the largest pixel storage, nothing past this point of a file can be used.
constexpr std::uint64_t kMaxUsefulFileBytes = (std::uint64_t(1) << 32) + kMaxStorageBytes;

[[noreturn]] void Refuse(const std::string& why) { throw BitmapError("BMP: " + why); }

std::uint16_t Load16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }
std::uint32_t Load32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

// The file's bytes, with every read checked against their end. Only the
// first held of them may be in memory (the headers of a file read row by
// row); the rest are never looked at here.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t held, std::uint64_t size)
        : data_(data), held_(held), size_(size) {}
    std::uint64_t size() const { return size_; }
    bool Has(std::uint64_t offset, std::uint64_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    const std::uint8_t* At(std::uint64_t offset, std::uint64_t count, const char* what) const {
        if (!Has(offset, count)) Refuse(std::string("file ends inside the ") + what);
        if (offset + count > held_) Refuse(std::string("the ") + what + " lies beyond the bytes read");
        return data_ + offset;
    }

private:
    const std::uint8_t* data_;
    std::uint64_t held_;
    std::uint64_t size_;
};

struct InfoHeader {
    std::uint32_t size = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;  // negative: rows stored top-down
    std::uint32_t planes = 0;
    std::uint32_t bitCount = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t imageSize = 0;
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t colorsUsed = 0;
    std::uint32_t colorsImportant = 0;
};

InfoHeader ReadInfoHeader(const Bytes& file) {
    InfoHeader h;
    h.size = Load32(file.At(kFileHeaderSize, 4, "info header"));
    if (h.size == kCoreHeaderSize) {
        // The old form: 16-bit sizes and nothing after the bit count.
        const std::uint8_t* p = file.At(kFileHeaderSize, kCoreHeaderSize, "info header");
        h.width = Load16(p + 4);
        h.height = Load16(p + 6);
        h.planes = Load16(p + 8);
        h.bitCount = Load16(p + 10);
        return h;
    }
    if (h.size < kInfoHeaderSize)
        Refuse("info header of " + std::to_string(h.size) + " bytes is not a known form");
    const std::uint8_t* p = file.At(kFileHeaderSize, h.size, "info header");
    h.width = std::int32_t(Load32(p + 4));
    h.height = std::int32_t(Load32(p + 8));
    h.planes = Load16(p + 12);
    h.bitCount = Load16(p + 14);
    h.compression = Load32(p + 16);
    h.imageSize = Load32(p + 20);
    h.xPelsPerMeter = std::int32_t(Load32(p + 24));
    h.yPelsPerMeter = std::int32_t(Load32(p + 28));
    h.colorsUsed = Load32(p + 32);
    h.colorsImportant = Load32(p + 36);
    return h;
}

void CheckFormat(const InfoHeader& h) {
    if (h.planes != 1) Refuse("planes must be 1, not " + std::to_string(h.planes));
    switch (h.bitCount) {
        case 1:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            Refuse(std::to_string(h.bitCount) + " bits per pixel are not supported");
    }
    bool fits = (h.compression == kRgb) || (h.compression == kRle8 && h.bitCount == 8) ||
                (h.compression == kRle4 && h.bitCount == 4) ||
                (h.compression == kBitFields && (h.bitCount == 16 || h.bitCount == 32));
    if (!fits)
        Refuse("compression " + std::to_string(h.compression) + " with " +
               std::to_string(h.bitCount) + " bits per pixel is not supported");
    if (h.width <= 0) Refuse("width " + std::to_string(h.width) + " is not positive");
    if (h.height == 0 || h.height == INT32_MIN) Refuse("height " + std::to_string(h.height));
    if (h.height < 0 && h.compression != kRgb && h.compression != kBitFields)
        Refuse("run-length-encoded rows cannot be stored top-down");
}

// A mask is one run of bits inside the pixel; an empty mask is a channel
// the file does not have.
bool ValidMask(std::uint32_t mask, std::uint32_t bitCount) {
    if (bitCount == 16 && (mask >> 16) != 0) return false;
    if (mask == 0) return true;
    std::uint32_t low = mask & (~mask + 1);
    return ((mask + low) & mask) == 0;
}

TColor PaletteEntry(const std::uint8_t* p) { return RGBColor(p[2], p[1], p[0]); }

// Run-length-encoded pixels expanded into 32-bit blue, green, red, 0 rows,
// bottom row first. Runs and jumps that leave the picture are clipped, and
// missing data leaves black pixels: the file decides nothing outside the
// storage.
void ExpandRle(const std::uint8_t* data, std::size_t size, int bits,
               const std::vector<TColor>& palette, TBitmapImage& out) {
    const std::int64_t width = out.width;
    const std::int64_t height = out.height;
    std::memset(out.pixels.get(), 0, std::size_t(out.StorageBytes()));

    std::int64_t x = 0;
    std::int64_t y = 0;
    auto put = [&](unsigned index) {
        if (x < width) {
            TColor c = palette[index];
            std::uint8_t* p = out.pixels.get() + y * out.stride + 4 * x;
            p[0] = BlueOf(c);
            p[1] = GreenOf(c);
            p[2] = RedOf(c);
        }
        ++x;
    };

    std::size_t i = 0;
    while (i + 2 <= size && y < height) {
        unsigned count = data[i];
        unsigned value = data[i + 1];
        i += 2;
        if (count > 0) {
            // Encoded mode: count pixels of one index (RLE8) or of two
            // alternating indices (RLE4).
            // Pixels past the end of the row are dropped.
            for (unsigned k = 0; k < count; ++k)
                put(bits == 8 ? value : (k & 1) ? (value & 0x0F) : (value >> 4));
            continue;
        }
        switch (value) {
            case 0:  // end of line
                x = 0;
                ++y;
                break;
            case 1:  // end of picture
                return;
            case 2:  // jump right and up
                if (i + 2 > size) return;
                x += data[i];
                y += data[i + 1];
                i += 2;
                break;
            default: {
                // Absolute mode: value literal pixels, padded to 16 bits.
                std::size_t bytes = bits == 8 ? value : (value + 1) / 2;
                std::size_t available = std::min(bytes, size - i);
                for (unsigned k = 0; k < value; ++k) {
                    std::size_t at = bits == 8 ? k : k / 2;
                    if (at >= available) break;
                    unsigned b = data[i + at];
                    put(bits == 8 ? b : (k & 1) ? (b & 0x0F) : (b >> 4));
                }
                i += bytes + (bytes & 1);
                break;
            }
        }
    }
}

BmpLayout ReadLayout(const Bytes& file, std::int64_t storageLimit) {
    const std::uint8_t* signature = file.At(0, kFileHeaderSize, "file header");
    if (signature[0] != 'B' || signature[1] != 'M') Refuse("not a BMP file");
    const std::uint32_t dataOffset = Load32(signature + 10);

    const InfoHeader h = ReadInfoHeader(file);
    CheckFormat(h);
    const bool core = h.size == kCoreHeaderSize;
    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    const std::int64_t rows = h.height < 0 ? -h.height : h.height;
    const int bits = int(h.bitCount);

    // Run-length pictures are expanded into 32-bit device rows.
    if (!CanHoldRows(h.width, rows, rle ? 32 : bits, storageLimit))
        Refuse("picture of " + std::to_string(h.width) + " x " + std::to_string(rows) +
               " pixels is too large");

    std::uint64_t offset = kFileHeaderSize + h.size;
    ColorMasks masks;
    if (h.compression == kBitFields) {
        // Longer headers hold the masks themselves; the 40-byte one is
        // followed by them.
        std::uint64_t at = h.size >= kV2HeaderSize ? kFileHeaderSize + kInfoHeaderSize : offset;
        const std::uint8_t* p = file.At(at, 12, "colour masks");
        masks = {Load32(p), Load32(p + 4), Load32(p + 8)};
        if (!ValidMask(masks.red, h.bitCount) || !ValidMask(masks.green, h.bitCount) ||
            !ValidMask(masks.blue, h.bitCount))
            Refuse("colour masks are not runs of bits inside the pixel");
        if (h.size < kV2HeaderSize) offset += 12;
    }

    std::uint32_t entries = h.colorsUsed ? h.colorsUsed : bits <= 8 ? 1u << bits : 0u;
    if (entries > kMaxColourTable)
        Refuse("colour table of " + std::to_string(entries) + " entries");
    const std::uint64_t entrySize = core ? 3 : 4;
    const std::uint8_t* table = file.At(offset, entries * entrySize, "colour table");
    offset += entries * entrySize;

    // Every palette index of the pixels names an entry: colours the table
    // leaves out are black.
    std::vector<TColor> palette;
    if (bits <= 8) {
        palette.assign(std::size_t(1) << bits, clBlack);
        for (std::uint32_t e = 0; e < entries && e < palette.size(); ++e)
            palette[e] = PaletteEntry(table + e * entrySize);
    }

    // The data offset says where the pixels begin; files that leave a gap
    // after the colour table rely on it. An offset inside the headers or
    // past the end cannot be right, and then the pixels follow the table.
    if (dataOffset >= offset && dataOffset < file.size()) offset = dataOffset;
    const std::uint64_t fileStride = std::uint64_t(StrideFor(h.width, bits));
    const std::uint64_t length = h.imageSize ? h.imageSize : fileStride * std::uint64_t(rows);

    BmpLayout layout;
    TBitmapImage& format = layout.format;
    format.width = std::int32_t(h.width);
    format.height = std::int32_t(rows);
    format.format = PlainFormatOf(bits);
    if (rle) format.format = RowFormat::Device;
    if (h.compression == kBitFields)
        format.format = bits == 16 ? RowFormat::Masks16 : RowFormat::Masks32;
    format.stride = StrideFor(h.width, format.BitsPerPixel());
    format.bmpInfo = {h.xPelsPerMeter, h.yPelsPerMeter, h.colorsImportant, core};
    layout.pixelOffset = offset;
    layout.pixelBytes = std::min(length, file.size() - offset);
    if (rle) {
        layout.rle = true;
        layout.runBits = bits;
        layout.runPalette = std::move(palette);
        return layout;
    }
    format.topDown = h.height < 0;
    format.masks = masks;
    format.palette = std::move(palette);
    return layout;
}

std::unique_ptr<TBitmapImage> ParseBmp(const Bytes& file, const std::uint8_t* data) {
    BmpLayout layout = ReadLayout(file, StorageLimit());
    const TBitmapImage& format = layout.format;
    std::unique_ptr<TBitmapImage> image = TBitmap::NewImage(format.width, format.height, format.format);
    image->topDown = format.topDown;
    image->masks = format.masks;
    image->palette = format.palette;
    image->bmpInfo = format.bmpInfo;

    const std::uint8_t* pixels = data + layout.pixelOffset;
    if (layout.rle) {
        ExpandRle(pixels, std::size_t(layout.pixelBytes), layout.runBits, layout.runPalette, *image);
        return image;
    }
    // A short file gives the rows it has; the rest are zero bytes (black,
    // or the first colour of the table).
    const std::uint64_t storage = std::uint64_t(image->StorageBytes());
    const std::uint64_t copied = std::min(layout.pixelBytes, storage);
    std::memcpy(image->pixels.get(), pixels, std::size_t(copied));
    std::memset(image->pixels.get() + copied, 0, std::size_t(storage - copied));
    return image;
}

void Store16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}
void Store32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Store16(out, v & 0xFFFF);
    Store16(out, v >> 16);
}

}  // namespace

void ReadBmpData(TBitmap& picture, const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        picture.AdoptImage(std::make_unique<TBitmapImage>());
        return;
    }
    picture.AdoptImage(ParseBmp(Bytes(data, size, size), data));
}

BmpLayout ReadBmpLayout(const std::uint8_t* head, std::size_t headSize, std::uint64_t fileSize,
                        std::int64_t storageLimit) {
    return ReadLayout(Bytes(head, headSize, fileSize), storageLimit);
}

std::uint64_t BmpHeadBytesNeeded(const std::uint8_t* head, std::size_t headSize) {
    const std::uint64_t fixed = kFileHeaderSize + 4;
    if (headSize < fixed) return fixed;
    // The masks come after a 40-byte header, and no table is longer than
    // 256 entries of 4 bytes.
    const std::uint64_t header = std::max(Load32(head + kFileHeaderSize), kCoreHeaderSize);
    return kFileHeaderSize + header + 12 + 4 * kMaxColourTable;
}

BmpFilePlan PlanBmpFile(const TBitmapImage& image) {
    // Device rows are plain 32-bit rows once given row storage, which is
    // how they are written.
    const int bits = image.BitsPerPixel();
    if (bits == 0) throw BitmapError("BMP: a picture without a format cannot be written");
    const bool masks = image.HasMasks();
    const bool core = image.bmpInfo.coreHeader && !masks && !image.topDown &&
                      image.width <= 0xFFFF && image.height <= 0xFFFF;
    const std::uint32_t entries = bits <= 8 ? 1u << bits : 0u;
    const std::uint32_t entrySize = core ? 3 : 4;
    const std::uint32_t headerSize = core ? kCoreHeaderSize : kInfoHeaderSize;
    const std::uint64_t rowBytes = std::uint64_t(StrideFor(image.width, bits));
    if (std::uint64_t(image.stride) < rowBytes)
        throw BitmapError("BMP: picture rows are shorter than its width");
    const std::uint32_t dataOffset =
        std::uint32_t(kFileHeaderSize) + headerSize + (masks ? 12 : 0) + entries * entrySize;
    // The file's size and the pixels' size are 32-bit fields.
    const std::uint64_t pixelBytes = rowBytes * std::uint64_t(image.height);
    if (dataOffset + pixelBytes > 0xFFFFFFFFu)
        throw BitmapError("BMP: a picture of " + std::to_string(image.width) + " x " +
                          std::to_string(image.height) + " pixels does not fit in a BMP file");
    const std::uint32_t imageSize = std::uint32_t(pixelBytes);

    BmpFilePlan plan;
    plan.rowBytes = rowBytes;
    plan.topDown = image.topDown;
    plan.fileSize = dataOffset + pixelBytes;
    std::vector<std::uint8_t>& out = plan.head;
    out.reserve(dataOffset);
    // File header.
    out.push_back('B');
    out.push_back('M');
    Store32(out, dataOffset + imageSize);  // file size
    Store32(out, 0);                       // two reserved 16-bit fields
    Store32(out, dataOffset);              // where the pixels begin
    // Info header.
    Store32(out, headerSize);
    if (core) {
        Store16(out, std::uint32_t(image.width));
        Store16(out, std::uint32_t(image.height));
        Store16(out, 1);  // planes
        Store16(out, std::uint32_t(bits));
    } else {
        Store32(out, std::uint32_t(image.width));
        Store32(out, std::uint32_t(image.topDown ? -image.height : image.height));
        Store16(out, 1);  // planes
        Store16(out, std::uint32_t(bits));
        Store32(out, masks ? kBitFields : kRgb);
        Store32(out, imageSize);
        Store32(out, std::uint32_t(image.bmpInfo.xPelsPerMeter));
        Store32(out, std::uint32_t(image.bmpInfo.yPelsPerMeter));
        Store32(out, entries);  // colours used: the whole table
        Store32(out, image.bmpInfo.colorsImportant);
    }
    if (masks) {
        Store32(out, image.masks.red);
        Store32(out, image.masks.green);
        Store32(out, image.masks.blue);
    }
    // The whole table that the bits per pixel can index, so that every
    // index of the rows names an entry; entries the palette lacks are black.
    for (std::uint32_t e = 0; e < entries; ++e) {
        TColor c = e < image.palette.size() ? image.palette[e] : clBlack;
        out.push_back(BlueOf(c));
        out.push_back(GreenOf(c));
        out.push_back(RedOf(c));
        if (!core) out.push_back(0);
    }
    return plan;
}

std::vector<std::uint8_t> EncodeBmp(const TBitmap& picture) {
    const TBitmapImage& image = picture.Image();
    if (!image.HasStorage()) return {};
    BmpFilePlan plan = PlanBmpFile(image);
    std::vector<std::uint8_t> out = std::move(plan.head);
    out.reserve(std::size_t(plan.fileSize));
    // The rows in storage order.
    for (std::int32_t row = 0; row < image.height; ++row) {
        const std::uint8_t* from = image.pixels.get() + row * image.stride;
        out.insert(out.end(), from, from + plan.rowBytes);
    }
    return out;
}

void TBitmap::ReadBmpFile(const std::string& path) {
    const ByteBlock bytes = ReadFileBytes(path, kMaxUsefulFileBytes, "BMP: ");
    ReadBmpData(*this, bytes.data(), bytes.size());
}

void TBitmap::WriteBmpFile(const std::string& path) const {
    try {
        std::vector<std::uint8_t> bytes = EncodeBmp(*this);
        SaveFileSafely(path, bytes.data(), bytes.size(), "BMP: ");
    } catch (const std::bad_alloc&) {
        throw BitmapError("BMP: out of memory for the file");
    }
}

}  // namespace sigillon
