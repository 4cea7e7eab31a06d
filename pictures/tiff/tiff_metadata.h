// Metadata between TIFF files and the blocks PictureMetadata holds.
//
// EXIF: a TIFF file keeps its EXIF tags in sub-IFDs of its own IFD0, with
// offsets counted from the start of the file, and its descriptive tags
// (make, model, date, orientation, ...) in IFD0 beside the picture's
// layout. An EXIF block is the same structure on its own. So the IFDs are
// copied entry by entry into a new structure, each value placed after its
// IFD and its offset counted anew; pointers to the EXIF, GPS and
// interoperability IFDs are followed. The maker note is left out and said
// so: it holds offsets into the structure it came from, which a copy would
// leave pointing at the wrong bytes.
//
// IPTC: a TIFF file holds the IPTC records themselves (tag 33723); a JPEG
// file holds them as Photoshop resource 0x0404 in APP13 segments, which is
// what PictureMetadata.photoshop carries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sigillon::tiff_metadata {

using Bytes = std::vector<std::uint8_t>;

// Reads size bytes at offset of the structure being copied into out;
// false when they are not all there.
using ReadAt = std::function<bool(std::uint64_t offset, std::size_t size, std::uint8_t* out)>;

// Tags of IFD0 that describe the picture rather than lay it out, and are
// carried between a TIFF file's IFD0 and an EXIF block's: description,
// make, model, orientation, software, date, artist, copyright.
inline constexpr std::uint16_t kDescriptiveTags[] = {270, 271, 272, 274, 305, 306, 315, 33432};
inline constexpr std::uint16_t kExifIfdTag = 34665, kGpsIfdTag = 34853;

// Appends a copy of the IFD at offset `at` of a classic TIFF structure in
// the given byte order, its values after it, to out, whose first byte
// stands at offset base of the structure out becomes. Only entries keep
// accepts are copied at this level; sub-IFDs are copied whole. Returns
// where in out the IFD begins, or nothing when it cannot be read (out is
// then as it was). What is left out is added to dropped.
std::optional<std::size_t> AppendIfd(const ReadAt& read, bool bigEndian, std::uint64_t at,
                                     std::uint64_t base, Bytes& out,
                                     const std::function<bool(std::uint16_t)>& keep,
                                     std::vector<std::string>& dropped);

// The EXIF block ("II*\0" or "MM\0*" on) of a classic TIFF file whose IFD0
// is at ifd0: its descriptive tags and EXIF and GPS IFDs, or empty when it
// has none of them.
Bytes ExifBlockOfFile(const ReadAt& file, bool bigEndian, std::uint64_t ifd0,
                      std::vector<std::string>& dropped);

// The IPTC records of Photoshop segments (each "Photoshop 3.0\0" and
// resources), or empty; *others tells whether other resources were there.
Bytes IptcOfPhotoshop(const std::vector<Bytes>& segments, bool* others);

// IPTC records as Photoshop segments holding resource 0x0404.
std::vector<Bytes> PhotoshopOfIptc(const Bytes& iptc);

}  // namespace sigillon::tiff_metadata
