#include "pictures/raster/screen_rows.h"

#include <algorithm>
#include <cstring>

#include "pictures/raster/bitmap_image.h"

namespace sigillon {

RowReader::RowReader(const TBitmap& picture) : picture_(picture), layout_(Layout::Other) {
    const TBitmapImage& image = picture.Image();
    const ColorMasks plain{0xFF0000, 0x00FF00, 0x0000FF};
    switch (image.format) {
        case RowFormat::Bgr24: layout_ = Layout::Bgr24; break;
        case RowFormat::Device:
        case RowFormat::Bgrx32: layout_ = Layout::Bgrx32; break;
        case RowFormat::Masks32:
            if (image.masks == plain) layout_ = Layout::Bgrx32;
            break;
        case RowFormat::Index8: layout_ = Layout::Index8; break;
        case RowFormat::Index4: layout_ = Layout::Index4; break;
        case RowFormat::Index1: layout_ = Layout::Index1; break;
        default: break;
    }
    palette_.fill(0xFF000000u);
    std::size_t entries = std::min<std::size_t>(image.palette.size(), palette_.size());
    for (std::size_t i = 0; i < entries; ++i) palette_[i] = ScreenColor(image.palette[i]);
}

std::uint32_t RowReader::ReadOne(const std::uint8_t* row, std::int32_t x) const {
    switch (layout_) {
        case Layout::Bgr24: {
            const std::uint8_t* p = row + 3 * std::int64_t(x);
            return 0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        }
        case Layout::Bgrx32: {
            std::uint32_t v;
            std::memcpy(&v, row + 4 * std::int64_t(x), 4);
            return 0xFF000000u | (v & 0x00FFFFFFu);
        }
        case Layout::Index8: return palette_[row[x]];
        case Layout::Index4: return palette_[(x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4)];
        case Layout::Index1: return palette_[(row[x >> 3] >> (7 - (x & 7))) & 1];
        case Layout::Other: break;
    }
    return ScreenColor(ReadPixel(picture_.Image(), row, x));
}

void RowReader::ReadSpan(std::int32_t y, std::int32_t x0, std::int32_t count,
                         std::uint32_t* out) const {
    const std::uint8_t* row = picture_.RowAddress(y);
    if (layout_ == Layout::Bgr24) {
        // The common case, a photograph: kept free of per-pixel dispatch.
        const std::uint8_t* p = row + 3 * std::int64_t(x0);
        for (std::int32_t i = 0; i < count; ++i, p += 3)
            out[i] = 0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) out[i] = ReadOne(row, x0 + i);
}

void RowReader::ReadColumns(std::int32_t y, const std::int32_t* columns, std::int32_t count,
                            std::uint32_t* out) const {
    const std::uint8_t* row = picture_.RowAddress(y);
    if (layout_ == Layout::Bgr24) {
        for (std::int32_t i = 0; i < count; ++i) {
            const std::uint8_t* p = row + 3 * std::int64_t(columns[i]);
            out[i] = 0xFF000000u | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
        }
        return;
    }
    for (std::int32_t i = 0; i < count; ++i) out[i] = ReadOne(row, columns[i]);
}

}  // namespace sigillon
