// What the BMP reader and writer know of a file apart from its pixel rows,
// shared by the whole-file routines (bmp_file.cpp) and the row-by-row ones
// (bmp_rows.cpp), so that both read and write exactly the same files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pictures/raster/bitmap.h"

namespace sigillon {

// A BMP file's headers, understood.
struct BmpLayout {
    // The picture's record as the reader makes it, without storage: size,
    // bits per pixel, masks, palette, row order and the BMP fields kept.
    TBitmapImage format;
    // Run-length-encoded rows, expanded into 32-bit device rows with
    // runPalette; their rows are not at fixed places in the file.
    bool rle = false;
    int runBits = 0;  // 4 or 8 for RLE4 / RLE8
    std::vector<TColor> runPalette;
    // Where the pixel data begins and how many of its bytes the file holds
    // (at most what the header says); the reader takes no more.
    std::uint64_t pixelOffset = 0;
    std::uint64_t pixelBytes = 0;
};

// Reads the headers of a file of fileSize bytes whose first headSize bytes
// are at head. Refuses, with the reason, what the reader refuses, in the
// same order, and a picture whose storage would exceed storageLimit (RLE
// pictures are counted at 32 bits per pixel). Throws BitmapError; the head
// must hold BmpHeadBytesNeeded bytes or the whole file.
BmpLayout ReadBmpLayout(const std::uint8_t* head, std::size_t headSize, std::uint64_t fileSize,
                        std::int64_t storageLimit);

// How many bytes from the start of a file ReadBmpLayout may look at, given
// its first bytes (at least 18, or the whole file when it is shorter): the
// headers, the masks and the largest colour table.
std::uint64_t BmpHeadBytesNeeded(const std::uint8_t* head, std::size_t headSize);

// The file EncodeBmp writes for a picture of a format, apart from its rows.
struct BmpFilePlan {
    std::vector<std::uint8_t> head;  // file header, info header, masks, colour table
    std::uint64_t rowBytes = 0;      // bytes of each row, fill included
    bool topDown = false;            // rows are stored top row first
    std::uint64_t fileSize = 0;
};

// Throws BitmapError for a format BMP cannot hold: its bits per pixel, or a
// file larger than the 32-bit size fields can describe.
BmpFilePlan PlanBmpFile(const TBitmapImage& format);

}  // namespace sigillon
