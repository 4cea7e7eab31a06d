// How a JPEG file was encoded, as far as an encoder can do it again: its
// colour space and components with their sampling, its quantisation tables,
// baseline or progressive, Huffman or arithmetic coding and its restart
// interval. Read from a file's header and given to an encoder, so that a
// picture encoded again loses no more than its own tables lose.
#pragma once

#include <array>
#include <cstdint>

struct jpeg_compress_struct;
struct jpeg_decompress_struct;

namespace sigillon {

struct JpegEncoding {
    struct Component {
        int id = 0;  // as the frame header numbers it
        int hSampling = 1;
        int vSampling = 1;
        int table = 0;  // the slot of its quantisation table
    };
    int colorSpace = 0;  // libjpeg's J_COLOR_SPACE of the file: grey, YCbCr or RGB
    int components = 0;  // 1 or 3
    std::array<Component, 4> component{};
    // The quantisation tables by slot, in natural (not zigzag) order.
    std::array<bool, 4> hasTable{};
    std::array<std::array<std::uint16_t, 64>, 4> tables{};
    bool progressive = false;
    bool arithmetic = false;
    unsigned restartInterval = 0;  // MCUs between restart markers; 0: none

    // The largest sampling factors: an MCU is 8 times these in pixels.
    int MaxHSampling() const;
    int MaxVSampling() const;
};

namespace jpeg_codec {

// The quality to give ConfigureEncoder before ApplyEncoding, whose tables
// replace the quality's: any will do.
inline constexpr int kAnyJpegQuality = 75;

// The encoding of a file whose header the decoder has read.
JpegEncoding EncodingOf(const jpeg_decompress_struct& cinfo);

// Makes an encoder set up by ConfigureEncoder (jpeg_codec.h) encode as the
// file did. Inside a phase function.
void ApplyEncoding(jpeg_compress_struct* cinfo, const JpegEncoding& encoding);

// Only the coding of the file: progressive, arithmetic, restart interval,
// for an encoder whose tables and components are already the file's
// (jpeg_copy_critical_parameters). Inside a phase function.
void ApplyCoding(jpeg_compress_struct* cinfo, const JpegEncoding& encoding);

}  // namespace jpeg_codec
}  // namespace sigillon
