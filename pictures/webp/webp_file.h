// WebP files for the batch tool: pictures and stamps read, stamped copies
// written. libwebp decodes and encodes, its demuxer finds the metadata
// chunks and its muxer lays them out; this code sizes, checks and converts.
// It lives in the library sigillon_webp, which the desktop program does not
// link.
//
// A picture read from a WebP file comes out as 24-bit blue, green, red rows
// and, when the file says it has transparency, a separate alpha plane; lossy
// and lossless files alike, their pixels exactly those libwebp gives.
// Animated files are refused. The ICC profile (ICCP), the EXIF block (EXIF,
// a leading "Exif\0\0" dropped) and the XMP packet (XMP ) of an extended
// file are kept when asked for.
//
// Hostile files are refused with BitmapError("WebP: <reason>") before they
// cost memory: the picture, its alpha plane and the buffer it is decoded
// into must fit StorageLimit(), checked from the header before any
// decoding. A file whose picture data is damaged or ends early is refused,
// or, when damage is accepted, decoded as far as libwebp's incremental
// decoder gets with the rows below filled grey and a warning; a file of
// which not one row can be decoded is refused either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "pictures/files/safe_save.h"
#include "pictures/metadata/metadata.h"
#include "pictures/raster/bitmap.h"
#include "pictures/rows/picture_rows.h"

namespace sigillon {

// The quality of a lossy WebP file when none is given, as cwebp's users
// know it for photographs worth keeping.
inline constexpr int kDefaultWebpQuality = 90;

using WebpReading = ReadSettings;

struct WebpPicture {
    std::unique_ptr<TBitmap> pixels;  // Depth24
    // Width * height opacities, top row first; empty when the file has no
    // alpha.
    std::vector<std::uint8_t> alpha;
    PictureMetadata metadata;
    // Metadata dropped while reading and damage accepted, each with why.
    std::vector<std::string> warnings;
};

// Reads a whole WebP file held in memory. Throws BitmapError("WebP: ...").
WebpPicture ReadWebpData(const std::uint8_t* data, std::size_t size, const WebpReading& reading);

// Reads the file at path; failing to read it is a BitmapError("WebP: ...")
// too.
WebpPicture ReadWebpFile(const std::string& path, const WebpReading& reading);

struct WebpEncoding {
    int quality = kDefaultWebpQuality;  // 1..100, for lossy files
    bool lossless = false;              // every pixel kept exactly; quality unused
};

// What of the metadata a WebP file cannot carry, one warning each.
std::vector<std::string> WebpMetadataWarnings(const PictureMetadata& metadata);

// The WebP file of a picture: lossy or lossless as encoding says, with an
// alpha channel when alpha holds width * height opacities (top row first;
// empty: opaque), and the ICC profile, EXIF block and XMP packet in an
// extended file's chunks when the metadata has them. Pictures of other
// depths are written from a 24-bit copy. Throws BitmapError("WebP: ...")
// for an empty picture, a side longer than WebP's 16383 pixels and an alpha
// plane of the wrong size.
ByteBlock EncodeWebp(const TBitmap& picture, std::span<const std::uint8_t> alpha,
                     const PictureMetadata& metadata, const WebpEncoding& encoding);

// EncodeWebp saved at path with SaveFileSafely: the old file stays whole
// if anything fails. Throws BitmapError("WebP: ...").
void WriteWebpFile(const std::string& path, const TBitmap& picture,
                   std::span<const std::uint8_t> alpha, const PictureMetadata& metadata,
                   const WebpEncoding& encoding);

}  // namespace sigillon
