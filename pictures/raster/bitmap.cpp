#include "pictures/raster/bitmap.h"

#include "pictures/raster/bitmap_image.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstring>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace sigillon {
namespace {

std::atomic<int> displayBits{32};
std::atomic<std::int64_t> storageLimit{kMaxStorageBytes};

constexpr ColorMasks kMasks565{0xF800, 0x07E0, 0x001F};
constexpr ColorMasks kMasks555{0x7C00, 0x03E0, 0x001F};
constexpr ColorMasks kMasks888{0xFF0000, 0x00FF00, 0x0000FF};

RowFormat FormatOf(PixelDepth depth) {
    switch (depth) {
        case Depth1: return RowFormat::Index1;
        case Depth4: return RowFormat::Index4;
        case Depth8: return RowFormat::Index8;
        case Depth15: return RowFormat::Rgb555;
        case Depth16: return RowFormat::Masks16;
        case Depth24: return RowFormat::Bgr24;
        case Depth32: return RowFormat::Bgrx32;
        case DepthDevice: return RowFormat::Device;
        default: throw BitmapError("pixel format cannot be requested");
    }
}

// One channel held under a mask, scaled to 0..255.
std::uint8_t Extract(std::uint32_t value, std::uint32_t mask) {
    if (mask == 0) return 0;
    int shift = std::countr_zero(mask);
    std::uint32_t max = mask >> shift;
    std::uint32_t v = (value & mask) >> shift;
    if (max == 255) return std::uint8_t(v);
    if (max > 255) return std::uint8_t((std::uint64_t(v) * 255 + max / 2) / max);
    return std::uint8_t((v * 255 + max / 2) / max);
}

// An 8-bit channel placed under a mask.
std::uint32_t Insert(std::uint8_t channel, std::uint32_t mask) {
    if (mask == 0) return 0;
    int shift = std::countr_zero(mask);
    std::uint64_t max = mask >> shift;
    std::uint64_t v = (std::uint64_t(channel) * max + 127) / 255;
    return std::uint32_t(v << shift) & mask;
}

const ColorMasks& MasksOf(const TBitmapImage& image) {
    if (image.HasMasks()) return image.masks;
    return image.BitsPerPixel() == 16 ? kMasks555 : kMasks888;
}

// The palette index stored at column x of a 1-, 4- or 8-bit row.
int IndexAt(const std::uint8_t* row, int bits, std::int32_t x) {
    switch (bits) {
        case 1: return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4: return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        default: return row[x];
    }
}

void SetIndexAt(std::uint8_t* row, int bits, std::int32_t x, int index) {
    switch (bits) {
        case 1: {
            std::uint8_t bit = std::uint8_t(0x80 >> (x & 7));
            row[x >> 3] = index ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit);
            break;
        }
        case 4:
            if (x & 1)
                row[x >> 1] = std::uint8_t((row[x >> 1] & 0xF0) | (index & 0x0F));
            else
                row[x >> 1] = std::uint8_t((row[x >> 1] & 0x0F) | ((index & 0x0F) << 4));
            break;
        default: row[x] = std::uint8_t(index);
    }
}

std::uint8_t* StorageRow(TBitmapImage& image, std::int32_t row) {
    std::int64_t storageRow = image.topDown ? row : image.height - 1 - row;
    return image.pixels.get() + storageRow * image.stride;
}

const std::uint8_t* StorageRow(const TBitmapImage& image, std::int32_t row) {
    return StorageRow(const_cast<TBitmapImage&>(image), row);
}

// Remembers nearest-colour answers during one conversion: photographs
// repeat colours, and a search of 256 entries per pixel would dominate.
class NearestCache {
public:
    explicit NearestCache(const std::vector<TColor>& palette) : palette_(palette) {
        keys_.fill(0xFFFFFFFF);
    }
    int Find(TColor colour) {
        std::size_t slot = (colour * 2654435761u) >> 20 & (kSlots - 1);
        if (keys_[slot] != colour) {
            keys_[slot] = colour;
            values_[slot] = std::uint8_t(NearestPaletteIndex(palette_, colour));
        }
        return values_[slot];
    }

private:
    static constexpr std::size_t kSlots = 4096;
    const std::vector<TColor>& palette_;
    std::array<TColor, kSlots> keys_;
    std::array<std::uint8_t, kSlots> values_{};
};

// Writes one pixel, taking palette indices from the cache.
void WriteConverted(TBitmapImage& image, std::uint8_t* row, std::int32_t x, TColor colour,
                    NearestCache& cache) {
    if (image.BitsPerPixel() <= 8)
        SetIndexAt(row, image.BitsPerPixel(), x, cache.Find(colour));
    else
        WritePixel(image, row, x, colour);
}

void FillWhite(TBitmapImage& image) {
    std::int64_t bytes = image.StorageBytes();
    if (image.BitsPerPixel() >= 24) {
        std::memset(image.pixels.get(), 0xFF, std::size_t(bytes));
        return;
    }
    // Lay out one white row in the format, then repeat it.
    std::uint8_t* first = image.pixels.get();
    std::memset(first, 0, std::size_t(image.stride));
    for (std::int32_t x = 0; x < image.width; ++x) WritePixel(image, first, x, clWhite);
    for (std::int32_t y = 1; y < image.height; ++y)
        std::memcpy(first + y * image.stride, first, std::size_t(image.stride));
}

std::unique_ptr<TBitmapImage> CopyRecord(const TBitmapImage& from, bool withPixels) {
    auto to = std::make_unique<TBitmapImage>();
    to->width = from.width;
    to->height = from.height;
    to->format = from.format;
    to->masks = from.masks;
    to->topDown = from.topDown;
    to->stride = from.stride;
    to->palette = from.palette;
    to->bmpInfo = from.bmpInfo;
    if (withPixels && from.pixels) {
        std::size_t bytes = std::size_t(from.StorageBytes());
        to->pixels.reset(new (std::nothrow) std::uint8_t[bytes]);
        if (!to->pixels) throw BitmapError("out of memory for a copy of the picture");
        std::memcpy(to->pixels.get(), from.pixels.get(), bytes);
    }
    return to;
}

// A fresh photo of tens of megabytes costs one page fault per 4 KiB when it
// is first filled; large pages cut that to one per 2 MiB where the system
// offers them. Only a hint: nothing changes when it is refused.
void AskForLargePages(std::uint8_t* storage, std::size_t bytes) {
    constexpr std::size_t kWorthIt = std::size_t(8) << 20;
    if (bytes < kWorthIt) return;
    std::uintptr_t page = std::uintptr_t(sysconf(_SC_PAGESIZE));
    std::uintptr_t begin = (std::uintptr_t(storage) + page - 1) & ~(page - 1);
    std::uintptr_t end = (std::uintptr_t(storage) + bytes) & ~(page - 1);
#ifdef MADV_HUGEPAGE
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
}

void Allocate(TBitmapImage& image) {
    if (!CanHoldRows(image.width, image.height, image.BitsPerPixel()))
        throw BitmapError("picture of " + std::to_string(image.width) + " x " +
                          std::to_string(image.height) + " pixels is too large");
    std::int64_t bytes = image.stride * std::int64_t(image.height);
    image.pixels.reset(new (std::nothrow) std::uint8_t[std::size_t(bytes)]);
    if (!image.pixels) throw BitmapError("out of memory for the picture");
    AskForLargePages(image.pixels.get(), std::size_t(bytes));
}

}  // namespace

std::int64_t StorageLimit() { return storageLimit.load(std::memory_order_relaxed); }

void SetStorageLimit(std::int64_t bytes) {
    storageLimit.store(std::clamp<std::int64_t>(bytes, 0, kMaxStorageBytes),
                       std::memory_order_relaxed);
}

bool CanHoldRows(std::int64_t width, std::int64_t rows, int bitsPerPixel) {
    return CanHoldRows(width, rows, bitsPerPixel, StorageLimit());
}

bool CanHoldRows(std::int64_t width, std::int64_t rows, int bitsPerPixel, std::int64_t limit) {
    // A side beyond 2^32 or a pixel beyond 64 bits is no picture; below
    // that the stride fits easily in 64 bits. Divide rather than multiply:
    // stride and rows of a hostile header can each be near 2^33, and their
    // product would overflow.
    if (width < 0 || rows < 0 || bitsPerPixel < 0 || bitsPerPixel > 64) return false;
    if (width > (std::int64_t(1) << 32) || rows > (std::int64_t(1) << 32)) return false;
    if (rows == 0) return true;
    return StrideFor(width, bitsPerPixel) <= limit / rows;
}

int DisplayBitsPerPixel() { return displayBits.load(std::memory_order_relaxed); }
void SetDisplayBitsPerPixel(int bits) { displayBits.store(bits, std::memory_order_relaxed); }

TColor ReadPixel(const TBitmapImage& image, const std::uint8_t* row, std::int32_t x) {
    int bits = image.BitsPerPixel();
    if (bits <= 8) {
        std::size_t index = std::size_t(IndexAt(row, bits, x));
        return index < image.palette.size() ? image.palette[index] : clBlack;
    }
    if (bits == 24) {
        const std::uint8_t* p = row + 3 * std::int64_t(x);
        return RGBColor(p[2], p[1], p[0]);
    }
    std::uint32_t value;
    if (bits == 16) {
        const std::uint8_t* p = row + 2 * std::int64_t(x);
        value = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8);
    } else {
        const std::uint8_t* p = row + 4 * std::int64_t(x);
        if (!image.HasMasks()) return RGBColor(p[2], p[1], p[0]);
        value = std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
                (std::uint32_t(p[3]) << 24);
    }
    const ColorMasks& m = MasksOf(image);
    return RGBColor(Extract(value, m.red), Extract(value, m.green), Extract(value, m.blue));
}

void WritePixel(TBitmapImage& image, std::uint8_t* row, std::int32_t x, TColor colour) {
    int bits = image.BitsPerPixel();
    if (bits <= 8) {
        SetIndexAt(row, bits, x, NearestPaletteIndex(image.palette, colour));
        return;
    }
    if (bits == 24 || (bits == 32 && !image.HasMasks())) {
        std::uint8_t* p = row + (bits / 8) * std::int64_t(x);
        p[0] = BlueOf(colour);
        p[1] = GreenOf(colour);
        p[2] = RedOf(colour);
        if (bits == 32) p[3] = 0;
        return;
    }
    const ColorMasks& m = MasksOf(image);
    std::uint32_t value =
        Insert(RedOf(colour), m.red) | Insert(GreenOf(colour), m.green) | Insert(BlueOf(colour), m.blue);
    std::uint8_t* p = row + (bits / 8) * std::int64_t(x);
    for (int i = 0; i < bits / 8; ++i) p[i] = std::uint8_t(value >> (8 * i));
}

TBitmapImage CopyFormat(const TBitmapImage& image) {
    std::unique_ptr<TBitmapImage> copy = CopyRecord(image, false);
    return std::move(*copy);
}

void ConvertRowToDepth24(const TBitmapImage& format, const std::uint8_t* from, std::uint8_t* to) {
    if (format.format == RowFormat::Bgrx32 || format.format == RowFormat::Device) {
        for (std::int32_t x = 0; x < format.width; ++x) std::memcpy(to + 3 * x, from + 4 * x, 3);
        return;
    }
    for (std::int32_t x = 0; x < format.width; ++x) {
        TColor colour = ReadPixel(format, from, x);
        std::uint8_t* p = to + 3 * std::int64_t(x);
        p[0] = BlueOf(colour);
        p[1] = GreenOf(colour);
        p[2] = RedOf(colour);
    }
}

TBitmap::TBitmap() : image_(std::make_shared<TBitmapImage>()) {}
TBitmap::~TBitmap() = default;

std::int32_t TBitmap::Width() const { return image_->width; }
std::int32_t TBitmap::Height() const { return image_->height; }
bool TBitmap::IsEmpty() const { return !image_->HasStorage(); }
std::int64_t TBitmap::Stride() const { return image_->stride; }
bool TBitmap::IsTopDown() const { return image_->topDown; }
const std::vector<TColor>& TBitmap::Palette() const { return image_->palette; }
ColorMasks TBitmap::Masks() const { return image_->HasMasks() ? image_->masks : ColorMasks{}; }
const BmpFileInfo& TBitmap::BmpInfo() const { return image_->bmpInfo; }

std::unique_ptr<TBitmapImage> TBitmap::NewImage(std::int32_t width, std::int32_t height,
                                                RowFormat format) {
    if (width <= 0 || height <= 0) throw BitmapError("picture dimensions must be positive");
    if (format == RowFormat::None) throw BitmapError("storage needs a pixel format");
    auto image = std::make_unique<TBitmapImage>();
    image->width = width;
    image->height = height;
    image->format = format;
    image->stride = StrideFor(width, BitsOf(format));
    Allocate(*image);
    return image;
}

std::unique_ptr<TBitmap> TBitmap::FromRows(
    std::int32_t width, std::int32_t height, PixelDepth depth,
    const std::function<void(std::int32_t row, std::uint8_t* bytes)>& fill) {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(depth);  // records the palette and masks only: no storage yet
    auto image = NewImage(width, height, FormatOf(depth));
    image->masks = picture->Image().masks;
    image->palette = picture->Image().palette;
    for (std::int32_t y = 0; y < height; ++y) fill(y, StorageRow(*image, y));
    picture->AdoptImage(std::move(image));
    return picture;
}

void TBitmap::Changed() {
    if (OnChange) OnChange();
}

void TBitmap::SetWidth(std::int32_t width) {
    if (width == image_->width) return;
    if (width < 0) throw BitmapError("negative picture width");
    const TBitmapImage& old = *image_;
    auto next = CopyRecord(old, false);
    next->width = width;
    if (width > 0 && old.height > 0) {
        // Widening keeps the storage order the picture had.
        if (next->format == RowFormat::None) next->format = RowFormat::Device;
        const int bits = next->BitsPerPixel();
        next->stride = StrideFor(width, bits);
        Allocate(*next);
        FillWhite(*next);
        if (old.pixels) {
            std::int32_t columns = std::min(old.width, width);
            for (std::int32_t y = 0; y < old.height; ++y) {
                const std::uint8_t* from = StorageRow(old, y);
                std::uint8_t* to = StorageRow(*next, y);
                if (bits >= 8) {
                    std::memcpy(to, from, std::size_t(columns) * (bits / 8));
                } else {
                    for (std::int32_t x = 0; x < columns; ++x)
                        SetIndexAt(to, bits, x, IndexAt(from, bits, x));
                }
            }
        }
    } else {
        next->stride = StrideFor(width, next->BitsPerPixel());
    }
    image_ = std::move(next);
    Changed();
}

void TBitmap::SetHeight(std::int32_t height) {
    if (height == image_->height) return;
    if (height < 0) throw BitmapError("negative picture height");
    const TBitmapImage& old = *image_;
    auto next = CopyRecord(old, false);
    next->height = height;
    if (height > 0 && old.width > 0) {
        if (next->format == RowFormat::None) next->format = RowFormat::Device;
        next->topDown = false;  // storage made by setting the height is bottom-up
        next->stride = StrideFor(old.width, next->BitsPerPixel());
        Allocate(*next);
        FillWhite(*next);
        if (old.pixels) {
            std::int32_t rows = std::min(old.height, height);
            for (std::int32_t y = 0; y < rows; ++y)
                std::memcpy(StorageRow(*next, y), StorageRow(old, y), std::size_t(old.stride));
        }
    }
    image_ = std::move(next);
    Changed();
}

PixelDepth TBitmap::GetDepth() const { return DepthOf(*image_); }

PixelDepth DepthOf(const TBitmapImage& image) {
    switch (image.format) {
        case RowFormat::None:
        case RowFormat::Device: return DepthDevice;
        case RowFormat::Index1: return Depth1;
        case RowFormat::Index4: return Depth4;
        case RowFormat::Index8: return Depth8;
        case RowFormat::Rgb555: return Depth15;
        case RowFormat::Masks16: return image.masks.green == 0x07E0 ? Depth16 : DepthCustom;
        case RowFormat::Bgr24: return Depth24;
        case RowFormat::Bgrx32: return Depth32;
        case RowFormat::Masks32: return DepthCustom;
    }
    return DepthCustom;
}

void TBitmap::SetDepth(PixelDepth depth) {
    if (depth == GetDepth()) return;
    if (depth == DepthCustom || depth > DepthCustom)
        throw BitmapError("a custom pixel format cannot be requested");
    const TBitmapImage& old = *image_;
    auto next = CopyRecord(old, false);
    next->format = FormatOf(depth);
    next->masks = depth == Depth16 ? kMasks565 : ColorMasks{};
    next->topDown = false;
    next->bmpInfo.coreHeader = false;
    next->bmpInfo.colorsImportant = 0;
    switch (depth) {
        case Depth1:
            if (old.palette.size() != 2) next->palette = {clBlack, clWhite};
            break;
        case Depth4: next->palette = StandardPalette16(); break;
        case Depth8: next->palette = HalftonePalette256(); break;
        default: next->palette.clear();
    }
    const int bits = next->BitsPerPixel();
    next->stride = StrideFor(old.width, bits);
    if (old.pixels) {
        Allocate(*next);
        NearestCache cache(next->palette);
        for (std::int32_t y = 0; y < old.height; ++y) {
            const std::uint8_t* from = StorageRow(old, y);
            std::uint8_t* to = StorageRow(*next, y);
            if (bits < 8) std::memset(to, 0, std::size_t(next->stride));
            if (bits == 24) {
                ConvertRowToDepth24(old, from, to);
            } else {
                for (std::int32_t x = 0; x < old.width; ++x)
                    WriteConverted(*next, to, x, ReadPixel(old, from, x), cache);
            }
            // Fill bytes carry no pixels; keep them defined.
            std::int64_t used = (std::int64_t(old.width) * bits + 7) / 8;
            std::memset(to + used, 0, std::size_t(next->stride - used));
        }
    }
    image_ = std::move(next);
    Changed();
}

void TBitmap::MakeRowsAddressable() {
    // Device-dependent storage already holds 32-bit rows; from now on they
    // are plain 32-bit rows. The record is changed where it is, not copied:
    // every picture that shares it sees the same rows in the same format.
    image_->format = RowFormat::Bgrx32;
}

std::uint8_t* TBitmap::RowAddress(std::int32_t row) {
    if (row < 0 || row >= image_->height || !image_->pixels)
        throw BitmapError("row " + std::to_string(row) + " is outside the picture");
    if (image_->format == RowFormat::Device) MakeRowsAddressable();
    return StorageRow(*image_, row);
}

const std::uint8_t* TBitmap::RowAddress(std::int32_t row) const {
    if (row < 0 || row >= image_->height || !image_->pixels)
        throw BitmapError("row " + std::to_string(row) + " is outside the picture");
    return StorageRow(*image_, row);
}

void TBitmap::ShareImage(const TBitmap& source) {
    image_ = source.image_;  // takes the new reference before dropping the old
    hasTransparentColor_ = source.hasTransparentColor_;
    transparentColor_ = source.transparentColor_;
    Changed();
}

void TBitmap::Unshare() {
    if (image_.use_count() > 1) image_ = CopyRecord(*image_, true);
}

TColor TBitmap::PixelAt(std::int32_t x, std::int32_t y) const {
    const TBitmapImage& image = *image_;
    if (!image.pixels || x < 0 || y < 0 || x >= image.width || y >= image.height) return 0xFFFFFFFF;
    return ReadPixel(image, StorageRow(image, y), x);
}

void TBitmap::SetPixelAt(std::int32_t x, std::int32_t y, TColor colour) {
    if (!image_->pixels || x < 0 || y < 0 || x >= image_->width || y >= image_->height) return;
    Unshare();
    WritePixel(*image_, StorageRow(*image_, y), x, colour);
    Changed();
}

TColor TBitmap::TransparentColor() const {
    if (hasTransparentColor_) return transparentColor_;
    if (image_->format == RowFormat::Index1) return clWhite;
    return PixelAt(0, image_->height - 1);
}

void TBitmap::SetTransparentColor(TColor colour) {
    hasTransparentColor_ = true;
    transparentColor_ = colour;
}

void TBitmap::ClearTransparentColor() { hasTransparentColor_ = false; }

void TBitmap::AdoptImage(std::unique_ptr<TBitmapImage> image) {
    if (!image) image = std::make_unique<TBitmapImage>();
    if (image->pixels && !CanHoldRows(image->width, image->height, image->BitsPerPixel()))
        throw BitmapError("picture storage too large");
    image_ = std::move(image);
    Changed();
}

}  // namespace sigillon
