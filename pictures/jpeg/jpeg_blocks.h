// New blocks of DCT coefficients for a file's coefficient arrays, for the
// transcoder (jpeg_transcode.cpp). libjpeg gives coefficients only of a
// file: pixels are encoded into a small file in memory with the big file's
// components, sampling and tables, and the blocks wanted are copied from
// its coefficients, so that colour conversion, downsampling, the transform
// and quantisation are libjpeg's own. Internal to pictures/.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "pictures/jpeg/jpeg_codec.h"
#include "pictures/jpeg/jpeg_encoding.h"

namespace sigillon::jpeg_codec {

// A JPEG file libjpeg wrote into memory.
struct JpegBytes {
    struct Free {
        void operator()(std::uint8_t* p) const { std::free(p); }
    };
    std::unique_ptr<std::uint8_t, Free> data;
    std::size_t size = 0;
};

// A box of pixels whose left and top edges lie on MCU boundaries, and the
// blocks of each component that cover it: those a picture of its size
// would have, starting at block firstColumn, firstRow of the whole file.
struct BlockBox {
    std::int32_t left = 0, top = 0, width = 0, height = 0;
    int components = 0;
    std::array<JDIMENSION, 4> firstColumn{}, firstRow{}, columns{}, rows{};
    // The pixels one block of the component covers.
    std::array<int, 4> blockWidth{}, blockHeight{};
};

// The box from left, top (on MCU boundaries) to right, bottom for the
// components of the file whose header c has read.
BlockBox BlocksOf(const jpeg_decompress_struct& c, std::int32_t left, std::int32_t top,
                  std::int32_t right, std::int32_t bottom);

// Rows of width Bgr24 pixels, top row first, encoded baseline with the
// encoding's components, sampling and tables. Throws BitmapError.
JpegBytes EncodeBgr(const std::vector<const std::uint8_t*>& rows, std::int32_t width,
                    const JpegEncoding& encoding);

// Copies the blocks of file (made by EncodeBgr for box) whose mark is set,
// one mark per block of each component, row by row, into arrays at the
// box's place. Returns how many it copied. Throws BitmapError.
std::int64_t CopyMarkedBlocks(Decompressor& in, jvirt_barray_ptr* arrays, const BlockBox& box,
                              const JpegBytes& file,
                              const std::array<std::vector<std::uint8_t>, 4>& marks);

}  // namespace sigillon::jpeg_codec
