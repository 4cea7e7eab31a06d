// A picture decoded whole, handed out through the row interface, so that a
// picture that cannot be read row by row (a PNG file, an RLE-compressed BMP
// file, a picture made in memory or turned upright) takes the same way from
// there on as one that can.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pictures/metadata/metadata.h"
#include "pictures/raster/bitmap.h"
#include "pictures/rows/picture_rows.h"

namespace sigillon {

// A whole picture as a file gave it.
struct HeldPicture {
    std::unique_ptr<TBitmap> pixels;
    // width * height opacities, top row first; empty: opaque. Only Depth24
    // pictures carry one.
    std::vector<std::uint8_t> alpha;
    PictureMetadata metadata;
    std::vector<std::string> warnings;  // metadata dropped while reading, and why
    // The file's own turns are applied already (HEIF's irot and imir): an
    // EXIF orientation must then be reset, never applied again.
    bool upright = false;
};

// Hands out the rows of a held picture top row first, in the picture's own
// row format, and its alpha rows.
class HeldRowReader : public PictureRowReader {
public:
    // The picture stays shared with whoever else holds it; it must not
    // change while the reader is in use.
    HeldRowReader(std::shared_ptr<TBitmap> picture, std::vector<std::uint8_t> alpha);

    std::span<const std::uint8_t> Alpha() const override { return alpha_; }

private:
    void ReadRows(std::uint8_t* rows, std::int32_t count) override;

    std::shared_ptr<TBitmap> picture_;
    std::vector<std::uint8_t> alpha_;
};

// Why an encoder cannot take a picture of width x height and this alpha
// plane (empty, a side longer than maxSide, an alpha plane of another
// size), in words to follow the format's name; empty when it can.
std::string WholePictureRefusal(std::int32_t width, std::int32_t height,
                                std::span<const std::uint8_t> alpha, std::int32_t maxSide);
// The same for a held picture, which without storage is empty.
std::string WholePictureRefusal(const TBitmap& picture, std::span<const std::uint8_t> alpha,
                                std::int32_t maxSide);

// Takes rows into a picture of the given format and, once the last one is
// in, hands the whole picture to save, which writes the file. For formats
// whose encoder needs the whole picture at once.
class CollectingRowWriter : public PictureRowWriter {
public:
    using Save = std::function<void(const TBitmap& picture)>;
    // Throws BitmapError for a picture the storage limit refuses.
    CollectingRowWriter(const TBitmapImage& format, Save save);

    void Write(const std::uint8_t* rows, std::int32_t count) override;
    void Finish() override;

private:
    TBitmap picture_;
    std::int32_t next_ = 0;
    Save save_;
};

// Lays a row of width Depth24 pixels over white by their opacities, for
// formats that have no transparency: each channel becomes
// (a * p + (255 - a) * 255 + 127) / 255.
void LayRowOverWhite(std::uint8_t* row, const std::uint8_t* alpha, std::int32_t width);

}  // namespace sigillon
