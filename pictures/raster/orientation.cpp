#include "pictures/raster/orientation.h"

#include "pictures/raster/bitmap_image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace sigillon {
namespace {

// Where the pixel shown at (x, y) of the upright picture is stored, for a
// stored picture of width w and height h. From the EXIF definitions: for 6,
// the stored top row is shown as the right-hand column, and the stored
// left-hand column as the top row.
struct Source {
    std::int32_t x, y;
};

Source StoredAt(int orientation, std::int32_t x, std::int32_t y, std::int32_t w, std::int32_t h) {
    switch (orientation) {
        case 2:
            return {w - 1 - x, y};
        case 3:
            return {w - 1 - x, h - 1 - y};
        case 4:
            return {x, h - 1 - y};
        case 5:
            return {y, x};
        case 6:
            return {y, h - 1 - x};
        case 7:
            return {w - 1 - y, h - 1 - x};
        case 8:
            return {w - 1 - y, x};
        default:
            return {x, y};
    }
}

// Pixels are copied in square tiles so that the quarter turns read and
// write both pictures a few cache lines at a time.
constexpr std::int32_t kTile = 64;

}  // namespace

void ApplyOrientation(TBitmap& picture, int orientation) {
    if (orientation < 1 || orientation > 8)
        throw BitmapError("orientation " + std::to_string(orientation) + " is not 1 to 8");
    if (orientation == 1 || picture.IsEmpty()) return;
    const TBitmapImage& from = picture.Image();
    const int bits = from.BitsPerPixel();
    if (from.format == RowFormat::Device || (bits != 8 && bits != 16 && bits != 24 && bits != 32))
        throw BitmapError("pictures of " + std::to_string(bits) +
                          " bits per pixel cannot be turned upright");

    const std::int32_t w = from.width, h = from.height;
    const bool sidesSwap = orientation >= 5;
    const std::int32_t outW = sidesSwap ? h : w, outH = sidesSwap ? w : h;
    std::unique_ptr<TBitmapImage> to = TBitmap::NewImage(outW, outH, from.format);
    to->masks = from.masks;
    to->palette = from.palette;
    to->bmpInfo = from.bmpInfo;
    if (sidesSwap) std::swap(to->bmpInfo.xPelsPerMeter, to->bmpInfo.yPelsPerMeter);

    // Row 0 is the top row in both; the new record is bottom-up.
    std::vector<const std::uint8_t*> stored(static_cast<std::size_t>(h));
    const TBitmap& source = picture;
    for (std::int32_t y = 0; y < h; ++y) stored[std::size_t(y)] = source.RowAddress(y);
    const std::size_t bytes = std::size_t(bits / 8);
    auto outRow = [&](std::int32_t y) { return to->pixels.get() + (outH - 1 - y) * to->stride; };
    for (std::int32_t y = 0; y < outH; ++y) {
        std::uint8_t* row = outRow(y);
        std::memset(row + std::size_t(outW) * bytes, 0, std::size_t(to->stride) - outW * bytes);
    }
    for (std::int32_t ty = 0; ty < outH; ty += kTile)
        for (std::int32_t tx = 0; tx < outW; tx += kTile)
            for (std::int32_t y = ty; y < std::min(outH, ty + kTile); ++y) {
                std::uint8_t* row = outRow(y);
                for (std::int32_t x = tx; x < std::min(outW, tx + kTile); ++x) {
                    const Source s = StoredAt(orientation, x, y, w, h);
                    std::memcpy(row + std::size_t(x) * bytes,
                                stored[std::size_t(s.y)] + std::size_t(s.x) * bytes, bytes);
                }
            }
    picture.AdoptImage(std::move(to));
}

}  // namespace sigillon
