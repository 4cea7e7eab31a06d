// The image record pictures share, for the picture code only: TBitmap keeps
// it consistent, the file readers fill a new one and hand it over whole.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "pictures/raster/bitmap.h"

namespace sigillon {

// How rows hold their pixels. One value rather than separate flags, so that
// no record can claim, say, masks on a palette format.
enum class RowFormat : std::uint8_t {
    None,     // never given a format: reports DepthDevice, holds no storage
    Device,   // DepthDevice storage: 32-bit blue, green, red, unused
    Index1,
    Index4,
    Index8,
    Rgb555,   // plain 16-bit pixels
    Masks16,  // 16-bit pixels described by the masks
    Bgr24,
    Bgrx32,   // plain 32-bit pixels
    Masks32,  // 32-bit pixels described by the masks
};

inline constexpr int BitsOf(RowFormat format) {
    switch (format) {
        case RowFormat::None: return 0;
        case RowFormat::Index1: return 1;
        case RowFormat::Index4: return 4;
        case RowFormat::Index8: return 8;
        case RowFormat::Rgb555:
        case RowFormat::Masks16: return 16;
        case RowFormat::Bgr24: return 24;
        case RowFormat::Device:
        case RowFormat::Bgrx32:
        case RowFormat::Masks32: return 32;
    }
    return 0;
}

// The plain format of a bit count, or None for a count no format has.
inline constexpr RowFormat PlainFormatOf(int bits) {
    switch (bits) {
        case 1: return RowFormat::Index1;
        case 4: return RowFormat::Index4;
        case 8: return RowFormat::Index8;
        case 16: return RowFormat::Rgb555;
        case 24: return RowFormat::Bgr24;
        case 32: return RowFormat::Bgrx32;
        default: return RowFormat::None;
    }
}

struct TBitmapImage {
    std::int32_t width = 0;
    std::int32_t height = 0;  // never negative; row order is in topDown
    RowFormat format = RowFormat::None;
    ColorMasks masks;         // for Masks16 and Masks32
    bool topDown = false;
    std::int64_t stride = 0;
    std::vector<TColor> palette;  // at most 256 entries, for 8 bits or fewer
    BmpFileInfo bmpInfo;
    std::unique_ptr<std::uint8_t[]> pixels;  // height * stride bytes, or null

    int BitsPerPixel() const { return BitsOf(format); }
    bool HasMasks() const { return format == RowFormat::Masks16 || format == RowFormat::Masks32; }
    bool HasStorage() const { return pixels != nullptr; }
    std::int64_t StorageBytes() const { return stride * height; }
};

// A record with the format of image (size, row format, masks, palette, row
// order, BMP fields) and no storage: what a file's header says of a picture
// read row by row.
TBitmapImage CopyFormat(const TBitmapImage& image);

// The depth of a record's format, as TBitmap::GetDepth gives it; the record
// need not hold storage.
PixelDepth DepthOf(const TBitmapImage& format);

// One row of a record's format as the 24-bit row that converting the whole
// picture to Depth24 gives (blue, green, red; the fill bytes after the
// pixels are not written).
void ConvertRowToDepth24(const TBitmapImage& format, const std::uint8_t* from, std::uint8_t* to);

// Reads the colour of one pixel of a record, whatever its format.
TColor ReadPixel(const TBitmapImage& image, const std::uint8_t* row, std::int32_t x);
// Writes one pixel; palette formats take the nearest palette colour.
void WritePixel(TBitmapImage& image, std::uint8_t* row, std::int32_t x, TColor colour);

}  // namespace sigillon
