// The metadata blocks of a JPEG file, between its APP segments and a
// PictureMetadata, at the level of libjpeg.
//
// Reading keeps the first EXIF block (APP1 "Exif\0\0") and the first main
// XMP packet (APP1 "http://ns.adobe.com/xap/1.0/\0"), every extended XMP
// segment (APP1 "http://ns.adobe.com/xmp/extension/\0") and every
// Photoshop segment (APP13 "Photoshop 3.0\0") in file order, and the ICC
// profile as libjpeg reassembles it from its APP2 segments. A segment the
// file cut short is left out. Nothing here parses what is inside a block.
//
// Writing puts them after the JFIF header in the order readers expect:
// EXIF, XMP, extended XMP, ICC, Photoshop. A block that cannot be carried
// in a JPEG file (an EXIF block or XMP packet larger than one segment, an
// ICC profile longer than 255 segments or of the wrong colour space) is
// left out, and JpegMetadataWarnings says so beforehand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pictures/metadata/metadata.h"

struct jpeg_compress_struct;
struct jpeg_decompress_struct;

namespace sigillon {

// Most bytes of each repeated kind (extended XMP, Photoshop) that reading
// keeps; a file with more loses that kind whole, with a warning.
inline constexpr std::size_t kMaxJpegMetadataKindBytes = std::size_t(16) << 20;

// The metadata among the segments a decompressor kept (one whose header
// jpeg_codec::ReadHeaderFrom read with keepMetadata). Needs no setjmp of
// the caller's. Blocks dropped for their size are named in *dropped when it
// is given. Throws std::bad_alloc.
PictureMetadata CollectJpegMetadata(jpeg_decompress_struct* cinfo,
                                    std::vector<std::string>* dropped = nullptr);

// Reads the header of a JPEG file's bytes and collects its metadata; empty
// when the bytes do not have a readable JPEG header (*dropped then says
// why). Throws std::bad_alloc.
PictureMetadata ReadJpegMetadata(const std::uint8_t* data, std::size_t size,
                                 std::vector<std::string>* dropped = nullptr);

// What WriteJpegMetadata will leave out of a file of that many colour
// components (1 or 3), one sentence for each block, and why.
std::vector<std::string> JpegMetadataWarnings(const PictureMetadata& metadata, int components);

// Writes the blocks of metadata that a JPEG file can carry. Call between
// jpeg_start_compress and the first jpeg_write_scanlines, inside the
// caller's setjmp boundary: libjpeg's errors (its destination running out of
// room) leave through the caller's error manager. C-style: it allocates
// nothing and throws nothing, so that a longjmp out of it skips no
// destructor. Empty metadata writes nothing.
void WriteJpegMetadata(jpeg_compress_struct* cinfo, const PictureMetadata& metadata);

}  // namespace sigillon
