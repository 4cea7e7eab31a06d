#include "pictures/rows/picture_rows.h"

#include <string>

#include "pictures/raster/bitmap_image.h"

namespace sigillon {

PictureRowReader::PictureRowReader() : format_(std::make_unique<TBitmapImage>()) {}
PictureRowReader::~PictureRowReader() = default;

std::int32_t PictureRowReader::Width() const { return format_->width; }
std::int32_t PictureRowReader::Height() const { return format_->height; }
PixelDepth PictureRowReader::Depth() const { return DepthOf(*format_); }
std::int64_t PictureRowReader::Stride() const { return format_->stride; }

void PictureRowReader::Read(std::uint8_t* rows, std::int32_t count) {
    if (count < 0 || count > format_->height - next_)
        throw BitmapError("rows " + std::to_string(next_) + " to " +
                          std::to_string(std::int64_t(next_) + count - 1) +
                          " are outside the picture");
    if (count == 0) return;
    ReadRows(rows, count);
    next_ += count;
}

}  // namespace sigillon
