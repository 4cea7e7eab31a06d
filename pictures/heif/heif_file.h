// HEIF files (HEIC, and AVIF, which is HEIF with AV1 pictures) read for the
// batch tool through libheif. It lives in the library sigillon_heif, which
// the desktop program does not link.
//
// The primary picture comes out as libheif shows it: a grid assembled, and
// its rotation, mirroring and crop (irot, imir, clap) applied. It is then
// upright already, so an EXIF orientation it carries must be reset, never
// applied again. 10- and 12-bit samples are rounded
// to 8 bits, never cut. Thumbnails and depth or other auxiliary pictures
// are not read.
//
// Refusals are BitmapError("HEIF: <reason>") (or "AVIF: ", by the file's
// brand): a file libheif cannot parse or decode, in its words; a side
// longer than kMaxHeifSide, for the picture or any of its parts; a grid of
// more than kMaxHeifTiles tiles; and a picture, grid or overlay whose pixels
// would not fit StorageLimit(), checked before anything is decoded.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pictures/metadata/metadata.h"
#include "pictures/raster/bitmap.h"
#include "pictures/rows/picture_rows.h"

namespace sigillon {

// The longest side of a picture or of one of its grid's tiles.
inline constexpr std::int32_t kMaxHeifSide = 65500;
// The most tiles a grid may have: each is decoded on its own, so a tiny
// file naming one tile 65,536 times would take minutes.
inline constexpr std::uint32_t kMaxHeifTiles = 4096;

// Which kind of HEIF file the first bytes show, by the brands of its
// "ftyp" box (the major brand and the compatible ones within head).
enum class HeifBrand { None, Heif, Avif };
HeifBrand HeifBrandOf(std::span<const std::uint8_t> head);

// Damage accepted: decoded with libheif's tolerance, whatever it makes of
// damage, and what it noticed told in warnings; otherwise refused.
using HeifReading = ReadSettings;

struct HeifPicture {
    std::unique_ptr<TBitmap> pixels;  // Depth24
    std::vector<std::uint8_t> alpha;  // width * height, top row first; empty: opaque
    // The EXIF block from its TIFF header on, the XMP packet and the ICC
    // profile. A colour description given as numbers (nclx) instead of a
    // profile is not carried: sRGB and BT.709 are taken as sRGB, others are
    // told among the warnings.
    PictureMetadata metadata;
    std::vector<std::string> warnings;
};

// Throws BitmapError.
HeifPicture ReadHeifData(std::span<const std::uint8_t> file, const HeifReading& how);
HeifPicture ReadHeifFile(const std::string& path, const HeifReading& how);

// The picture as rows, when it has 8-bit samples and no alpha, as phones
// write it: decoded whole by libheif as above, the rows handed out from
// libheif's picture as they are read, without a copy of it. Otherwise
// whyNot says why, before anything is decoded. The rows are upright;
// decoding warnings come from the reader's Warnings(). Throws BitmapError
// as above.
RowReaderOpening OpenHeifRowReader(const std::string& path, const HeifReading& how);

}  // namespace sigillon
