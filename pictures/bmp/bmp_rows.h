// BMP files row by row: uncompressed rows read where they lie and written
// where they belong. The rows are exactly those ReadBmpData gives, fill bytes
// included, and the files exactly those EncodeBmp makes.
#pragma once

#include <memory>
#include <string>

#include "pictures/files/safe_save.h"
#include "pictures/rows/picture_rows.h"

namespace sigillon {

// A BMP file's 32-bit size fields say how far its rows can reach; rows
// wider than 4 MiB (a million pixels and more) are left to the
// whole-picture reader, so that memory stays small.
inline constexpr RowLimits kBmpRowLimits{std::int64_t(4) << 20, 0xFFFFFFFF};
// Reads the file's headers. Throws BitmapError, with the reason the
// whole-picture reader gives, for a file it refuses (one it cannot open
// among them). An empty file, RLE rows and rows beyond limits.rowBytes are
// not read row by row.
RowReaderOpening OpenBmpRowReader(const std::string& path, const RowLimits& limits = kBmpRowLimits);
// The same on an open regular file, which the reader closes; name stands
// for it in messages.
RowReaderOpening OpenBmpRowReader(int fd, const std::string& name,
                                  const RowLimits& limits = kBmpRowLimits);

// The file EncodeBmp makes of a picture of the format, rows placed where
// they belong as they come. Throws BitmapError ("BMP: ...") for a format
// BMP cannot hold and for a target that cannot be written, before any row.
std::unique_ptr<PictureRowWriter> CreateBmpRowWriter(
    const std::string& path, const TBitmapImage& format,
    SafeFileWriter::Temporary temporary = SafeFileWriter::Temporary::Unnamed);

}  // namespace sigillon
