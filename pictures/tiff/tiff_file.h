// TIFF files for the batch tool, through libtiff (library sigillon_tiff,
// which the desktop program does not link).
//
// Reading takes the first page of a file, classic or BigTIFF: grey (1 to
// 16 bits), RGB (8 or 16 bits), palette (1 to 8 bits) and JPEG-compressed
// YCbCr, in strips or tiles, its samples together or in planes, with any
// compression libtiff decodes. The rows come out as 24-bit blue, green,
// red; 16-bit samples are rounded to 8 bits, never cut. An alpha sample,
// associated (premultiplied) or not, becomes the picture's separate alpha
// plane. Rows are decoded a strip row or a band of tiles at a time, so
// memory grows with the width, not the area.
//
// Damaged files (libtiff fails to decode a strip or tile) are refused with
// libtiff's reason, or with acceptDamaged decoded as far as they go, the
// parts that fail left black and the damage told in the warnings. Sizes are
// checked before anything is allocated: a side may not be longer than
// kMaxTiffSide, and a band of rows, or a picture read whole, must fit the
// storage limit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pictures/metadata/metadata.h"
#include "pictures/rows/held_rows.h"
#include "pictures/rows/picture_rows.h"

namespace sigillon {

inline constexpr std::int64_t kMaxTiffSide = std::int64_t(1) << 20;

using TiffReading = ReadSettings;  // metadata: EXIF, XMP, IPTC and the ICC profile

// Rows of up to a million pixels, and pictures as large as a JPEG output
// can be.
inline constexpr RowLimits kTiffRowLimits{StrideFor(kMaxTiffSide, 24),
                                          StrideFor(65500, 24) * 65500};

// A row reader of the file's first page; none (and why not) for a picture
// with alpha, whose plane is handed on whole, and for rows longer than
// limits.rowBytes. Throws BitmapError("TIFF: ...") for a file it refuses,
// and for a picture larger than limits.pictureBytes.
RowReaderOpening OpenTiffRowReader(const std::string& path, const TiffReading& reading,
                                   const RowLimits& limits = kTiffRowLimits);

// The whole picture and its alpha plane. Throws BitmapError("TIFF: ...").
HeldPicture ReadTiffFile(const std::string& path, const TiffReading& reading);

// A writer of 8-bit RGB rows, RGBA when alpha holds width * height
// opacities (top row first; it must stay valid until Finish), Deflate-
// compressed, with the EXIF, XMP, IPTC and ICC of the metadata. What the
// format cannot carry (extended XMP, other Photoshop resources, the EXIF
// maker note) is named in warnings. Throws BitmapError("TIFF: ...").
std::unique_ptr<PictureRowWriter> CreateTiffRowWriter(const std::string& path,
                                                      const TBitmapImage& format,
                                                      std::span<const std::uint8_t> alpha,
                                                      const PictureMetadata& metadata,
                                                      std::vector<std::string>& warnings);

}  // namespace sigillon
