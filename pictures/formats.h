// The picture file formats the batch tool reads and writes, each listed once:
// how its files begin, the extensions it goes by, and how to read it (row by
// row where the file allows, whole otherwise) and write it (always through a
// row writer). A file is known by its first bytes; a name only says what to
// write. The desktop program keeps its own rule by extension
// (pictures/picture_files.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pictures/jpeg/jpeg_encoding.h"
#include "pictures/metadata/metadata.h"
#include "pictures/picture_files.h"
#include "pictures/rows/held_rows.h"
#include "pictures/rows/picture_rows.h"

namespace sigillon {

inline constexpr int kDefaultQuality = 0;

// What a row writer writes besides the rows.
struct WriteSettings {
    // 1..100 for lossy encoders, or kDefaultQuality: the format's own
    // default (JPEG: the desktop program's 85; WebP: 90; AVIF: 70).
    int quality = kDefaultQuality;
    // Every pixel written exactly, for formats that can choose (WebP); the
    // quality is then unused. Formats that are always lossless ignore it,
    // and one that cannot be (JPEG) is never asked to.
    bool lossless = false;
    // JPEG: encode as this file was instead of at the quality; none: the
    // quality.
    const JpegEncoding* jpegEncoding = nullptr;
    const PictureMetadata* metadata = nullptr;  // none: no metadata
    // The picture's opacities, width * height, for formats that keep them;
    // empty: opaque.
    std::span<const std::uint8_t> alpha;
};

struct PictureFormat {
    std::string_view name;  // "JPEG", as messages say it
    // Lower case, with the dot; the first is the one --to names first.
    std::vector<std::string_view> extensions;
    // Whether a file starting with these bytes (at most kSniffBytes) is one.
    bool (*sniff)(std::span<const std::uint8_t> head);
    // Whether the format keeps a picture's opacities; otherwise the rows
    // are laid over white before they are written.
    bool keepsAlpha;
    // Whether the format can write every pixel exactly (WriteSettings::
    // lossless).
    bool writesLossless;
    // The file's rows one band at a time, or why not (the reader is then
    // null and the file is for readWhole). Null for a format that is always
    // read whole. Throws BitmapError for a file it refuses.
    RowReaderOpening (*openRows)(const std::string& path, const ReadSettings& settings);
    // The whole picture, the reading's warnings among its warnings.
    // Throws BitmapError.
    HeldPicture (*readWhole)(const std::string& path, const ReadSettings& settings);
    // A writer of rows of the given format into a new file at path, given
    // its name only by Finish. warnings gains the metadata the format
    // cannot carry. Throws BitmapError before any row for a picture or
    // target it cannot take. Null for a format that is only read.
    std::unique_ptr<PictureRowWriter> (*createRowWriter)(const std::string& path,
                                                         const TBitmapImage& format,
                                                         const WriteSettings& settings,
                                                         std::vector<std::string>& warnings);
};

// The bytes a sniff looks at.
// 64 reach a HEIF file's compatible brands.
inline constexpr std::size_t kSniffBytes = 64;

// Every format, in the order they are tried.
std::span<const PictureFormat> PictureFormats();

// The format whose extension the name ends in (any letter case), or null.
const PictureFormat* FormatOfName(std::string_view path);

// The format of a file's first bytes, or null.
const PictureFormat* FormatOfContent(std::span<const std::uint8_t> head);

// The format of the file at path by its first bytes, or null when they are
// no format's or cannot be read; problem then says why when it was the
// reading.
const PictureFormat* SniffFile(const std::string& path, std::string& problem);

// The extensions of every format, or of those written, for messages:
// ".jpg, .jpeg, ...".
std::string KnownExtensions(bool writtenOnly = false);

}  // namespace sigillon
