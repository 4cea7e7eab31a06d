#include "pictures/rows/held_rows.h"

#include <cstring>
#include <new>
#include <utility>

#include "pictures/raster/bitmap_image.h"

namespace sigillon {

HeldRowReader::HeldRowReader(std::shared_ptr<TBitmap> picture, std::vector<std::uint8_t> alpha)
    : picture_(std::move(picture)), alpha_(std::move(alpha)) {
    if (!picture_) throw BitmapError("no picture to read rows from");
    // A device-format picture gets plain 32-bit rows first, the form its
    // rows are written in.
    if (picture_->Image().format == RowFormat::Device && picture_->Height() > 0)
        picture_->RowAddress(0);
    *format_ = CopyFormat(picture_->Image());
    if (!alpha_.empty() &&
        alpha_.size() != std::size_t(picture_->Width()) * std::size_t(picture_->Height()))
        throw BitmapError("the alpha plane does not fit the picture");
}

void HeldRowReader::ReadRows(std::uint8_t* rows, std::int32_t count) {
    const std::size_t stride = std::size_t(Stride());
    const TBitmap& picture = *picture_;
    for (std::int32_t i = 0; i < count; ++i)
        std::memcpy(rows + std::size_t(i) * stride, picture.RowAddress(NextRow() + i), stride);
}

CollectingRowWriter::CollectingRowWriter(const TBitmapImage& format, Save save)
    : save_(std::move(save)) {
    auto image = std::make_unique<TBitmapImage>(CopyFormat(format));
    // Stored top row first, the order the whole-picture encoders read in.
    image->topDown = true;
    if (!CanHoldRows(image->width, image->height, image->BitsPerPixel()))
        throw BitmapError("picture storage too large");
    const std::size_t bytes = std::size_t(image->StorageBytes());
    if (bytes > 0) image->pixels.reset(new (std::nothrow) std::uint8_t[bytes]);
    if (bytes > 0 && !image->pixels) throw BitmapError("out of memory");
    picture_.AdoptImage(std::move(image));
}

void CollectingRowWriter::Write(const std::uint8_t* rows, std::int32_t count) {
    if (count < 0 || count > picture_.Height() - next_)
        throw BitmapError("more rows than the picture has");
    const std::size_t stride = std::size_t(picture_.Stride());
    for (std::int32_t i = 0; i < count; ++i)
        std::memcpy(picture_.RowAddress(next_ + i), rows + std::size_t(i) * stride, stride);
    next_ += count;
}

void CollectingRowWriter::Finish() {
    if (next_ != picture_.Height()) throw BitmapError("the picture's rows did not all arrive");
    save_(picture_);
}

void LayRowOverWhite(std::uint8_t* row, const std::uint8_t* alpha, std::int32_t width) {
    for (std::int32_t x = 0; x < width; ++x, row += 3) {
        const unsigned opacity = alpha[x];
        const unsigned white = (255 - opacity) * 255 + 127;
        for (int c = 0; c < 3; ++c) row[c] = std::uint8_t((opacity * row[c] + white) / 255);
    }
}

std::string WholePictureRefusal(std::int32_t width, std::int32_t height,
                                std::span<const std::uint8_t> alpha, std::int32_t maxSide) {
    if (width <= 0 || height <= 0) return "an empty picture cannot be written";
    if (width > maxSide || height > maxSide)
        return "a side longer than " + std::to_string(maxSide) + " pixels cannot be written";
    if (!alpha.empty() && alpha.size() != std::size_t(width) * std::size_t(height))
        return "the alpha plane holds " + std::to_string(alpha.size()) + " values for " +
               std::to_string(width) + " x " + std::to_string(height) + " pixels";
    return {};
}

std::string WholePictureRefusal(const TBitmap& picture, std::span<const std::uint8_t> alpha,
                                std::int32_t maxSide) {
    return WholePictureRefusal(picture.IsEmpty() ? 0 : picture.Width(), picture.Height(), alpha,
                               maxSide);
}

}  // namespace sigillon
