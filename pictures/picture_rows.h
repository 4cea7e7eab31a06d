// Pictures that pass through a few rows at a time: read from a JPEG or an
// uncompressed BMP file top row first, and written into a JPEG or BMP file,
// without the whole picture ever being held.
//
// The rows are exactly those the whole-picture readers give (TJPEGImage
// with the same decoding settings, ReadBmpData), fill bytes included, and
// the files exactly those the whole-picture writers make (TJPEGImage's
// Compress at the same quality, EncodeBmp). A file that cannot be read this
// way is named with the reason, and is then for the whole-picture reader.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pictures/bitmap.h"
#include "pictures/jpeg_image.h"
#include "pictures/metadata.h"
#include "pictures/safe_save.h"

namespace sigillon {

// The largest pictures a row reader takes, counted in bytes of the format
// the rows have.
struct RowLimits {
    std::int64_t rowBytes;      // one row; a longer one is for the whole-picture reader
    std::int64_t pictureBytes;  // every row together; a larger picture is refused
};

// A BMP file's 32-bit size fields say how far its rows can reach; rows
// wider than 4 MiB (a million pixels and more) are left to the
// whole-picture reader, so that memory stays small.
inline constexpr RowLimits kBmpRowLimits{std::int64_t(4) << 20, 0xFFFFFFFF};
// libjpeg's own limit of 65,500 pixels a side.
inline constexpr RowLimits kJpegRowLimits{StrideFor(kMaxJpegSide, 24),
                                         StrideFor(kMaxJpegSide, 24) * kMaxJpegSide};

class PictureRowReader {
public:
    virtual ~PictureRowReader();
    PictureRowReader(const PictureRowReader&) = delete;
    PictureRowReader& operator=(const PictureRowReader&) = delete;

    // The picture's record as the whole-picture reader would make it,
    // without storage: size, row format, palette, masks, row order, BMP
    // fields (pictures/bitmap_image.h).
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
    // A JPEG file's metadata when it was asked for, and the blocks dropped.
    PictureMetadata metadata;
    std::vector<std::string> metadataDropped;
};

// Reads the file's headers. Throws BitmapError, with the reason the
// whole-picture reader gives, for a file it refuses (one it cannot open
// among them). An empty file, RLE rows and rows beyond limits.rowBytes are
// not read row by row.
RowReaderOpening OpenBmpRowReader(const std::string& path, const RowLimits& limits = kBmpRowLimits);
// The same on an open regular file, which the reader closes; name stands
// for it in messages.
RowReaderOpening OpenBmpRowReader(int fd, const std::string& name,
                                  const RowLimits& limits = kBmpRowLimits);

// Reads the file's header and starts decoding (a progressive file's scans
// are all read here, into libjpeg's whole-picture coefficient buffer).
// Throws BitmapError as the whole-picture reader would. An empty file and
// colours quantised in two passes are not read row by row. With
// withMetadata the opening also holds the metadata of the header it read.
RowReaderOpening OpenJpegRowReader(const std::string& path,
                                   const JpegDecodeSettings& settings = {},
                                   const RowLimits& limits = kJpegRowLimits,
                                   bool withMetadata = false);
RowReaderOpening OpenJpegRowReader(int fd, const std::string& name,
                                   const JpegDecodeSettings& settings = {},
                                   const RowLimits& limits = kJpegRowLimits,
                                   bool withMetadata = false);

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

// The file EncodeBmp makes of a picture of the format, rows placed where
// they belong as they come. Throws BitmapError ("BMP: ...") for a format
// BMP cannot hold and for a target that cannot be written, before any row.
std::unique_ptr<PictureRowWriter> CreateBmpRowWriter(
    const std::string& path, const TBitmapImage& format,
    SafeFileWriter::Temporary temporary = SafeFileWriter::Temporary::Unnamed);

// The file TJPEGImage's Compress makes at that quality of a picture of the
// format (colour, baseline; other formats encoded from their 24-bit form),
// with the metadata given as its output metadata, encoded as the rows come
// straight into the file. Throws BitmapError ("JPEG: ...") for a side
// longer than kMaxJpegSide and for a target that cannot be written, before
// any row.
std::unique_ptr<PictureRowWriter> CreateJpegRowWriter(
    const std::string& path, const TBitmapImage& format, int quality,
    const PictureMetadata& metadata = {},
    SafeFileWriter::Temporary temporary = SafeFileWriter::Temporary::Unnamed);

}  // namespace sigillon
