// AVIF files written for the batch tool through libavif (with libaom's AV1
// encoder). It lives in the library sigillon_avif, which the desktop
// program does not link. AVIF files are read by pictures/heif.
//
// A picture is written as 8-bit 4:2:0 YUV, full range, with its alpha
// plane (lossless) when it has one; the ICC profile, the EXIF block and
// the XMP packet go with it. Without a profile the colours are said to be
// sRGB (nclx primaries BT.709, transfer sRGB, matrix BT.601).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "pictures/metadata/metadata.h"
#include "pictures/raster/bitmap.h"
#include "pictures/rows/picture_rows.h"

namespace sigillon {

// The quality an AVIF file is written at when none is asked for.
inline constexpr int kDefaultAvifQuality = 70;

// libaom's speed: 0 slowest .. 10 fastest. 8 rather than avifenc's 6: on
// a 24-megapixel photo-like JPEG at quantizer 19, avifenc took 10.7 s at 8
// and 26.9 s at 6, and its file at 8 was not larger (3.55 MB against 3.70).
inline constexpr int kAvifSpeed = 8;

// The AV1 quantizer (0 lossless .. 63 coarsest) a quality of 1..100 is
// written at, as libavif 1.0 maps its quality: ((100 - q) * 63 + 50) / 100.
// The same number is given as both the least and the most quantizer, so
// avifenc --min Q --max Q makes the same file.
int AvifQuantizerFor(int quality);

// A writer of the AVIF file at path, for rows of format (of any depth;
// others than Depth24 written as the 24-bit rows they convert to). The rows
// become YUV as they come; the file is encoded and saved at Finish, as
// SaveFileSafely saves, so that the old file stays whole if anything fails.
// alpha holds width * height opacities, top row first, and must outlive the
// writer; empty for opaque. Throws BitmapError("AVIF: ...").
std::unique_ptr<PictureRowWriter> CreateAvifRowWriter(const std::string& path,
                                                      const TBitmapImage& format,
                                                      std::span<const std::uint8_t> alpha,
                                                      const PictureMetadata& metadata, int quality);

}  // namespace sigillon
