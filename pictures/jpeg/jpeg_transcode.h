// A JPEG file saved again block for block. libjpeg's transcoding calls read
// its DCT coefficients whole (jpeg_read_coefficients) and write them into
// the new file (jpeg_copy_critical_parameters, jpeg_write_coefficients), so
// every block goes out exactly as it came in. A region the caller changes
// (a stamp) is decoded to pixels and changed, and the blocks whose pixels
// changed are encoded again with the file's own tables; every other block,
// in the region too, is kept.
//
// The coefficients take 2 bytes for each sample of each component: 3 bytes
// a pixel for 4:2:0, 6 for 4:4:4. CoefficientBytes says how much before
// they are read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pictures/files/safe_save.h"
#include "pictures/jpeg/jpeg_encoding.h"
#include "pictures/metadata/metadata.h"

namespace sigillon {

class JpegTranscoder {
public:
    // A region of pixels, end exclusive.
    struct Region {
        std::int32_t left = 0, top = 0, right = 0, bottom = 0;
    };
    // Changes picture row y in place: a whole row of the picture in Bgr24,
    // of which only the region's columns hold its pixels.
    using RowChange = std::function<void(std::int32_t y, std::uint8_t* row)>;

    // Reads the header of the file at path, or on fd (which the
    // transcoder then closes), with its metadata when asked. Throws
    // BitmapError for a header libjpeg refuses, and for a file of neither
    // one nor three components.
    JpegTranscoder(const std::string& path, bool withMetadata);
    JpegTranscoder(int fd, const std::string& name, bool withMetadata);
    ~JpegTranscoder();
    JpegTranscoder(const JpegTranscoder&) = delete;
    JpegTranscoder& operator=(const JpegTranscoder&) = delete;

    std::int32_t Width() const;
    std::int32_t Height() const;
    // Whether the row reader gives this file's rows in 24 bits (else 8).
    bool TrueColour() const;
    const JpegEncoding& Encoding() const { return encoding_; }
    std::uint64_t CoefficientBytes() const;
    // Every block of every component.
    std::int64_t Blocks() const;
    // The metadata of the header, and the blocks dropped for their size.
    PictureMetadata& Metadata() { return metadata_; }
    std::vector<std::string>& MetadataDropped() { return dropped_; }

    // Reads every coefficient; call once, before the rest. Throws
    // BitmapError.
    void ReadCoefficients();
    // After ReadCoefficients: whether the picture data was damaged or ended
    // early (its blocks from there on are libjpeg's fill), and the
    // warnings libjpeg gave, as the row reader words them.
    bool Damaged() const;
    std::vector<std::string> Warnings() const;

    // Decodes the region's pixels as the row reader would, runs change on
    // each of its rows, and encodes the blocks whose pixels changed again
    // with the file's tables. change must keep to the region's columns.
    // Returns the number of blocks encoded again. Throws BitmapError.
    std::int64_t ChangeRegion(Region region, const RowChange& change);

    // Writes the file at path, the metadata as the row writer writes it,
    // and gives it its name. Throws BitmapError.
    void Write(const std::string& path, const PictureMetadata& metadata,
               SafeFileWriter::Temporary temporary = SafeFileWriter::Temporary::Unnamed);

private:
    struct Decoder;
    void Open(int fd, const std::string& name, bool withMetadata);

    std::unique_ptr<Decoder> in_;
    JpegEncoding encoding_;
    PictureMetadata metadata_;
    std::vector<std::string> dropped_;
};

}  // namespace sigillon
