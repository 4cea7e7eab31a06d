// Pictures held whole, handed out as rows and collected from rows.
#include "pictures/rows/held_rows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "pictures/raster/bitmap_image.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

// Rows come top row first in the picture's own format, whatever its storage
// order, and pass through a collecting writer unchanged.
TEST(HeldRows, RowsOfEveryFormatPassThroughUnchanged) {
    for (PixelDepth depth : {Depth1, Depth4, Depth8, Depth24, Depth32}) {
        SCOPED_TRACE(int(depth));
        std::shared_ptr<TBitmap> picture = testing::RandomPicture(depth, 19, 11, 7);
        HeldRowReader reader(picture, {});
        EXPECT_EQ(reader.Width(), 19);
        EXPECT_EQ(reader.Depth(), depth);
        EXPECT_TRUE(reader.Alpha().empty());
        const TBitmap* collected = nullptr;
        CollectingRowWriter writer(reader.Format(), [&](const TBitmap& p) { collected = &p; });
        std::vector<std::uint8_t> rows(std::size_t(reader.Stride()) * 4);
        while (reader.NextRow() < reader.Height()) {
            const std::int32_t count = std::min(4, reader.Height() - reader.NextRow());
            const std::int32_t first = reader.NextRow();
            reader.Read(rows.data(), count);
            for (std::int32_t k = 0; k < count; ++k)
                ASSERT_EQ(0, std::memcmp(rows.data() + k * reader.Stride(),
                                         picture->RowAddress(first + k), std::size_t(reader.Stride())));
            writer.Write(rows.data(), count);
        }
        writer.Finish();
        ASSERT_NE(collected, nullptr);
        EXPECT_EQ(collected->Palette(), picture->Palette());
        for (std::int32_t y = 0; y < 11; ++y)
            ASSERT_EQ(0, std::memcmp(collected->RowAddress(y), picture->RowAddress(y),
                                     std::size_t(reader.Stride())));
    }
}

TEST(HeldRows, RefusesAlphaOfTheWrongSizeAndRowsThatDoNotFit) {
    std::shared_ptr<TBitmap> picture = testing::RandomPicture(Depth24, 4, 3, 1);
    EXPECT_THROW(HeldRowReader(picture, std::vector<std::uint8_t>(11)), BitmapError);
    EXPECT_EQ(HeldRowReader(picture, std::vector<std::uint8_t>(12, 9)).Alpha().size(), 12u);

    bool saved = false;
    CollectingRowWriter writer(picture->Image(), [&](const TBitmap&) { saved = true; });
    std::vector<std::uint8_t> rows(std::size_t(picture->Stride()) * 4);
    EXPECT_THROW(writer.Write(rows.data(), 4), BitmapError);
    writer.Write(rows.data(), 2);
    EXPECT_THROW(writer.Finish(), BitmapError) << "a row is missing";
    EXPECT_FALSE(saved);
}

TEST(HeldRows, EachChannelIsLaidOverWhiteByItsOpacity) {
    // Pixel value, opacity and the result, worked out by hand.
    const int cases[][3] = {{0, 0, 255},   {0, 255, 0},   {100, 128, 177},
                            {200, 1, 255}, {10, 254, 11}, {77, 255, 77}};
    std::vector<std::uint8_t> row, alpha;
    for (const auto& c : cases) {
        row.insert(row.end(), 3, std::uint8_t(c[0]));
        alpha.push_back(std::uint8_t(c[1]));
    }
    LayRowOverWhite(row.data(), alpha.data(), std::int32_t(alpha.size()));
    for (std::size_t i = 0; i < alpha.size(); ++i)
        for (int k = 0; k < 3; ++k) EXPECT_EQ(row[3 * i + k], cases[i][2]) << i;
}

}  // namespace
}  // namespace sigillon
