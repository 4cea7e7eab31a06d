#include "pictures/raster/test_picture.h"

namespace sigillon {
namespace {

constexpr int kBlockWidth = 256;
constexpr int kBandHeight = 200;

void Put(std::uint8_t* row, int x, int blue, int green, int red) {
    row[3 * x] = std::uint8_t(blue);
    row[3 * x + 1] = std::uint8_t(green);
    row[3 * x + 2] = std::uint8_t(red);
}

}  // namespace

std::unique_ptr<TBitmap> MakeTestPicture() {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(Depth24);
    picture->SetWidth(3 * kBlockWidth);
    picture->SetHeight(3 * kBandHeight);

    // Top band: a gray ramp over the full width, each level 3 columns wide.
    for (int y = 0; y < kBandHeight; ++y) {
        std::uint8_t* row = picture->RowAddress(y);
        for (int x = 0; x < 3 * kBlockWidth; ++x) Put(row, x, x / 3, x / 3, x / 3);
    }
    // Middle band: black to yellow, magenta and cyan, the third channel
    // rising downwards.
    for (int block = 0; block < 3; ++block) {
        for (int y = kBandHeight; y < 2 * kBandHeight; ++y) {
            std::uint8_t* row = picture->RowAddress(y);
            int down = y - kBandHeight;
            for (int j = 0; j < kBlockWidth; ++j) {
                int x = block * kBlockWidth + j;
                if (block == 0) Put(row, x, down, j, j);
                if (block == 1) Put(row, x, j, down, j);
                if (block == 2) Put(row, x, j, j, down);
            }
        }
    }
    // Bottom band: cross-fades. The falling channel is the byte negation of
    // the block column, so it is 0 in the first column and 255 in the next.
    for (int block = 0; block < 3; ++block) {
        for (int y = 2 * kBandHeight; y < 3 * kBandHeight; ++y) {
            std::uint8_t* row = picture->RowAddress(y);
            int down = y - 2 * kBandHeight;
            for (int j = 0; j < kBlockWidth; ++j) {
                int x = block * kBlockWidth + j;
                int falling = (kBlockWidth - j) % 256;
                if (block == 0) Put(row, x, down, falling, j);
                if (block == 1) Put(row, x, falling, down, j);
                if (block == 2) Put(row, x, falling, j, down);
            }
        }
    }
    return picture;
}

}  // namespace sigillon
