// PNG files for the batch tool: pictures and stamps read, stamped copies
// written. libspng handles the format; this code sizes, checks and converts.
// It lives in the library sigillon_png, which the desktop program does not
// link.
//
// A picture read from a PNG file comes out as 24-bit blue, green, red rows
// and, when the file has any transparency (an alpha channel or a tRNS
// chunk), a separate alpha plane. Every colour type and bit depth is read;
// 16-bit samples are rounded to 8 bits, never cut. Interlaced files give
// the same pixels as plain ones.
//
// Hostile files are refused with BitmapError("PNG: <reason>") before they
// cost memory: the picture and its alpha plane must fit StorageLimit()
// (checked before any decoding), a side may not be longer than kMaxPngSide,
// no chunk may be longer than kMaxPngChunkBytes, and the metadata kept from
// the chunks, once decompressed, may not take more than that altogether.
// Every checksum is checked, and a file that ends before its IEND chunk is
// refused as truncated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "pictures/metadata/metadata.h"
#include "pictures/files/safe_save.h"

namespace sigillon {

// The longest side read or written, as for JPEG files.
inline constexpr std::int32_t kMaxPngSide = 65500;

// The longest chunk read, and the most decompressed metadata (ICC profile,
// EXIF, texts) one file may hold.
inline constexpr std::size_t kMaxPngChunkBytes = std::size_t(16) << 20;

struct PngPicture {
    std::unique_ptr<TBitmap> pixels;  // Depth24
    // Width * height opacities, top row first, 0 transparent to 255
    // opaque; empty when the file has no alpha channel and no tRNS chunk.
    std::vector<std::uint8_t> alpha;
    // The ICC profile (iCCP, decompressed), the EXIF block (eXIf) and the
    // XMP packet (the iTXt chunk with keyword "XML:com.adobe.xmp"), byte for
    // byte as the file holds them.
    PictureMetadata metadata;
};

// Reads a whole PNG file held in memory. Throws BitmapError("PNG: ...").
PngPicture ReadPngData(const std::uint8_t* data, std::size_t size);

// Reads the file at path; failing to read it is a BitmapError("PNG: ...")
// too.
PngPicture ReadPngFile(const std::string& path);

// The PNG file of a picture: 8-bit RGB (colour type 2), or RGBA (colour
// type 6) when alpha holds width * height opacities, top row first; an
// empty alpha means opaque. Pictures of other depths are written from a
// 24-bit copy. Writes the ICC profile (iCCP, named "ICC Profile") and the
// EXIF block (eXIf) when the metadata has them, and no other ancillary
// chunk. Throws BitmapError("PNG: ...") for an empty picture, a side longer
// than kMaxPngSide, an alpha plane of the wrong size and an EXIF block that
// does not start with a TIFF header.
ByteBlock EncodePng(const TBitmap& picture, std::span<const std::uint8_t> alpha,
                    const PictureMetadata& metadata);

// EncodePng saved at path with SaveFileSafely: the old file stays whole if
// anything fails. Throws BitmapError("PNG: ...").
void WritePngFile(const std::string& path, const TBitmap& picture,
                  std::span<const std::uint8_t> alpha, const PictureMetadata& metadata);

}  // namespace sigillon
