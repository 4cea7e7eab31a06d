// Pictures that pass through a few rows at a time: read from a file top
// row first and written into a file, without the whole picture ever being
// held. Each format's readers and writers live with the format
// (pictures/bmp/bmp_rows.h, pictures/jpeg/jpeg_rows.h); a picture decoded
// whole is handed out through the same interface (pictures/rows/held_rows.h).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pictures/metadata/metadata.h"
#include "pictures/raster/bitmap.h"

namespace sigillon {

// How the batch tool reads a file.
struct ReadSettings {
    bool withMetadata = false;  // the file's metadata too
    // A JPEG, TIFF or WebP file whose picture data is damaged or ends
    // early: refused at the first damaged row, or with this decoded as far
    // as it goes (the rest grey or garbled, as the desktop program shows it;
    // a TIFF file's undecodable parts black) and the damage told among the
    // reading's warnings. A HEIF or AVIF file: refused, or with this
    // whatever libheif's tolerant decoding makes of it.
    bool acceptDamaged = false;
};

// The largest pictures a row reader takes, counted in bytes of the format
// the rows have.
struct RowLimits {
    std::int64_t rowBytes;      // one row; a longer one is for the whole-picture reader
    std::int64_t pictureBytes;  // every row together; a larger picture is refused
};

class PictureRowReader {
public:
    virtual ~PictureRowReader();
    PictureRowReader(const PictureRowReader&) = delete;
    PictureRowReader& operator=(const PictureRowReader&) = delete;

    // The picture's record as the whole-picture reader would make it,
    // without storage: size, row format, palette, masks, row order, BMP
    // fields (pictures/raster/bitmap_image.h).
    const TBitmapImage& Format() const { return *format_; }
    std::int32_t Width() const;
    std::int32_t Height() const;
    PixelDepth Depth() const;
    std::int64_t Stride() const;  // bytes of each row, fill included

    // The row the next Read begins with; rows come top row first.
    std::int32_t NextRow() const { return next_; }

    // Fills the next count rows, Stride() bytes each, one after the other
    // at rows. Throws BitmapError for a file that fails, and for rows below
    // the picture.
    void Read(std::uint8_t* rows, std::int32_t count);

    // After the last row: reads what the file holds after its rows, as the
    // whole-picture reader does (a JPEG file's end), and fails as it would.
    // Throws BitmapError.
    virtual void Finish() {}

    // The opacities of every pixel, Width() a row, top row first, or empty
    // when the picture has none. Only pictures held whole
    // (rows/held_rows.h) have them; they never change while rows are read.
    virtual std::span<const std::uint8_t> Alpha() const { return {}; }

    // What the reading found wrong with the file without refusing it, one
    // sentence each ("JPEG: skipped 2 stray bytes before marker 0xd9");
    // complete once Finish has returned.
    virtual std::vector<std::string> Warnings() const { return {}; }

protected:
    PictureRowReader();
    virtual void ReadRows(std::uint8_t* rows, std::int32_t count) = 0;

    std::unique_ptr<TBitmapImage> format_;  // never null

private:
    std::int32_t next_ = 0;
};

// A reader, or why the file is not read row by row.
struct RowReaderOpening {
    std::unique_ptr<PictureRowReader> reader;
    std::string whyNot;  // set when there is no reader
    std::string note;    // what else there is to know of the reading, or empty
    // The file's metadata when it was asked for, and the blocks dropped.
    PictureMetadata metadata;
    std::vector<std::string> metadataDropped;
    // The file's own turns are applied to the rows (HEIF's irot and imir):
    // an EXIF orientation must be reset, never applied.
    bool upright = false;
};

class PictureRowWriter {
public:
    // Without Finish, the target stays as it was and no file is left.
    virtual ~PictureRowWriter() = default;
    PictureRowWriter(const PictureRowWriter&) = delete;
    PictureRowWriter& operator=(const PictureRowWriter&) = delete;

    // The next count rows, top row first, in the format the writer was made
    // for, its stride bytes each, one after the other. Throws BitmapError.
    virtual void Write(const std::uint8_t* rows, std::int32_t count) = 0;
    // After the last row: completes the file and gives it the target's
    // name. Throws BitmapError.
    virtual void Finish() = 0;

protected:
    PictureRowWriter() = default;
};

}  // namespace sigillon
