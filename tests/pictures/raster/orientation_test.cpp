#include "pictures/raster/orientation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pictures/bmp/bmp.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

// Pixel value k (0 to 5) of the letter 'A' + k, in each format's bytes: a
// palette index for 8 bits, the letter in every byte otherwise.
std::unique_ptr<TBitmap> Letters(PixelDepth depth, const std::vector<std::string>& rows) {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(depth);
    picture->SetWidth(std::int32_t(rows[0].size()));
    picture->SetHeight(std::int32_t(rows.size()));
    const int bytes = picture->Image().BitsPerPixel() / 8;
    for (std::size_t y = 0; y < rows.size(); ++y)
        for (std::size_t x = 0; x < rows[y].size(); ++x)
            for (int b = 0; b < bytes; ++b)
                picture->RowAddress(std::int32_t(y))[x * bytes + std::size_t(b)] =
                    std::uint8_t(depth == Depth8 ? rows[y][x] - 'A' : rows[y][x]);
    return picture;
}

std::vector<std::string> LettersOf(const TBitmap& picture) {
    const int bytes = picture.Image().BitsPerPixel() / 8;
    std::vector<std::string> rows;
    for (int y = 0; y < picture.Height(); ++y) {
        std::string row;
        for (int x = 0; x < picture.Width(); ++x) {
            const std::uint8_t* p = picture.RowAddress(y) + x * bytes;
            for (int b = 1; b < bytes; ++b) EXPECT_EQ(p[b], p[0]) << "pixel bytes kept together";
            row += char(picture.GetDepth() == Depth8 ? 'A' + p[0] : p[0]);
        }
        rows.push_back(row);
    }
    return rows;
}

// The stored picture is
//   A B C
//   D E F
// and each row below is how it must look once turned upright, worked out by
// hand from the EXIF meaning of each value (for 6, the stored top row is the
// right-hand column of the upright picture).
TEST(ApplyOrientation, EveryExifOrientationTurnsTheStoredPixelsUpright) {
    const std::vector<std::string> stored = {"ABC", "DEF"};
    const std::vector<std::pair<int, std::vector<std::string>>> cases = {
        {1, {"ABC", "DEF"}},     {2, {"CBA", "FED"}},  // mirrored left to right
        {3, {"FED", "CBA"}},                           // half a turn
        {4, {"DEF", "ABC"}},                           // mirrored top to bottom
        {5, {"AD", "BE", "CF"}},                       // along the diagonal from the top left
        {6, {"DA", "EB", "FC"}},                       // a quarter clockwise
        {7, {"FC", "EB", "DA"}},                       // along the other diagonal
        {8, {"CF", "BE", "AD"}},                       // a quarter anticlockwise
    };
    for (PixelDepth depth : {Depth8, Depth16, Depth24, Depth32})
        for (const auto& [orientation, upright] : cases) {
            SCOPED_TRACE("depth " + std::to_string(depth) + ", orientation " +
                         std::to_string(orientation));
            auto picture = Letters(depth, stored);
            const std::vector<TColor> palette = picture->Palette();
            ApplyOrientation(*picture, orientation);
            EXPECT_EQ(picture->GetDepth(), depth);
            EXPECT_EQ(LettersOf(*picture), upright);
            EXPECT_EQ(picture->Palette(), palette);
        }
}

// Larger than one copying tile, so the tile edges are crossed: the turns
// must compose as turns do.
TEST(ApplyOrientation, TurnsComposeOnPicturesLargerThanATile) {
    auto turned = [](const TBitmap& original, std::vector<int> steps) {
        auto picture = std::make_unique<TBitmap>();
        picture->ShareImage(original);
        for (int step : steps) ApplyOrientation(*picture, step);
        return testing::RowBytes(*picture);
    };
    auto original = testing::RandomPicture(Depth24, 150, 70, 7);
    const testing::Bytes start = testing::RowBytes(*original);
    EXPECT_EQ(turned(*original, {6, 6, 6, 6}), start);
    EXPECT_EQ(turned(*original, {2, 2}), start);
    EXPECT_EQ(turned(*original, {5, 5}), start);
    EXPECT_EQ(turned(*original, {7, 7}), start);
    EXPECT_EQ(turned(*original, {6, 8}), start);
    EXPECT_EQ(turned(*original, {6, 6}), turned(*original, {3}));
    EXPECT_EQ(turned(*original, {6, 6, 6}), turned(*original, {8}));
    EXPECT_EQ(turned(*original, {6, 2}), turned(*original, {5}));
    EXPECT_EQ(turned(*original, {5, 3}), turned(*original, {7}));
    EXPECT_EQ(turned(*original, {2, 3}), turned(*original, {4}));
    EXPECT_EQ(testing::RowBytes(*original), start) << "a shared picture is not written to";
}

TEST(ApplyOrientation, QuarterTurnsSwapSidesAndPixelsPerMetre) {
    testing::BmpFields fields;
    fields.width = 5;
    fields.height = 3;
    fields.xPelsPerMeter = 100;
    fields.yPelsPerMeter = 200;
    fields.pixels = testing::RandomBytes(std::size_t(StrideFor(5, 24)) * 3, 2);
    const testing::Bytes file = testing::BuildBmp(fields);
    auto picture = std::make_unique<TBitmap>();
    ReadBmpData(*picture, file.data(), file.size());
    ApplyOrientation(*picture, 6);
    EXPECT_EQ(picture->Width(), 3);
    EXPECT_EQ(picture->Height(), 5);
    EXPECT_EQ(picture->Image().bmpInfo.xPelsPerMeter, 200);
    EXPECT_EQ(picture->Image().bmpInfo.yPelsPerMeter, 100);
    // Fill bytes at the row ends are cleared.
    for (int y = 0; y < 5; ++y)
        for (int i = 9; i < picture->Stride(); ++i) EXPECT_EQ(picture->RowAddress(y)[i], 0);
}

TEST(ApplyOrientation, RefusalsLeaveThePictureAsItWas) {
    auto colour = Letters(Depth24, {"ABC", "DEF"});
    for (int orientation : {0, 9, -1}) {
        EXPECT_THROW(ApplyOrientation(*colour, orientation), BitmapError) << orientation;
        EXPECT_EQ(LettersOf(*colour), (std::vector<std::string>{"ABC", "DEF"}));
    }
    for (PixelDepth depth : {Depth1, Depth4}) {
        auto picture = testing::RandomPicture(depth, 9, 4, 3);
        const testing::Bytes before = testing::RowBytes(*picture);
        EXPECT_THROW(ApplyOrientation(*picture, 6), BitmapError) << depth;
        EXPECT_EQ(picture->Width(), 9);
        EXPECT_EQ(testing::RowBytes(*picture), before);
    }
    TBitmap empty;
    EXPECT_NO_THROW(ApplyOrientation(empty, 6));
}

}  // namespace
}  // namespace sigillon
