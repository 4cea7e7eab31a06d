// JPEG files row by row, through libjpeg. The rows are exactly those
// TJPEGImage gives with the same decoding settings, and the files exactly
// those its Compress makes at the same quality.
#pragma once

#include <memory>
#include <string>

#include "pictures/files/safe_save.h"
#include "pictures/jpeg/jpeg_encoding.h"
#include "pictures/jpeg/jpeg_image.h"
#include "pictures/rows/picture_rows.h"

namespace sigillon {

// libjpeg's own limit of 65,500 pixels a side.
inline constexpr RowLimits kJpegRowLimits{StrideFor(kMaxJpegSide, 24),
                                         StrideFor(kMaxJpegSide, 24) * kMaxJpegSide};

// What the reader does with a file whose picture data is damaged or ends
// early (jpeg_codec.cpp lists libjpeg's warnings and which are damage).
enum class JpegDamage {
    // Rows as the whole-picture reader decodes them, grey or garbled from
    // the damage on; the damage is among the reader's Warnings().
    Fill,
    // BitmapError at the first damaged row, before more of the file is
    // decoded ("JPEG: the data ends at row 41 of 1536").
    Refuse,
};

// Reads the file's header and starts decoding (a progressive file's scans
// are all read here, into libjpeg's whole-picture coefficient buffer).
// Throws BitmapError as the whole-picture reader would. An empty file and
// colours quantised in two passes are not read row by row. With
// withMetadata the opening also holds the metadata of the header it read.
// The reader's Warnings() tell what libjpeg found wrong without refusing.
RowReaderOpening OpenJpegRowReader(const std::string& path,
                                   const JpegDecodeSettings& settings = {},
                                   const RowLimits& limits = kJpegRowLimits,
                                   bool withMetadata = false,
                                   JpegDamage damage = JpegDamage::Fill);
RowReaderOpening OpenJpegRowReader(int fd, const std::string& name,
                                   const JpegDecodeSettings& settings = {},
                                   const RowLimits& limits = kJpegRowLimits,
                                   bool withMetadata = false,
                                   JpegDamage damage = JpegDamage::Fill);

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

// The same encoded as a file was (its components, sampling, quantisation
// tables, progressive or baseline, arithmetic or Huffman coding, restart
// interval) rather than at a quality: the tables of a Huffman-coded
// baseline file are libjpeg's standard ones, since the rows stream
// through. A progressive file is encoded whole in libjpeg's buffer of
// coefficients.
std::unique_ptr<PictureRowWriter> CreateJpegRowWriter(
    const std::string& path, const TBitmapImage& format, const JpegEncoding& encoding,
    const PictureMetadata& metadata = {},
    SafeFileWriter::Temporary temporary = SafeFileWriter::Temporary::Unnamed);

}  // namespace sigillon
