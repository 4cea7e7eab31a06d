#include "pictures/raster/test_picture.h"

#include <gtest/gtest.h>

#include <cstring>

namespace sigillon {
namespace {

TEST(TestPicture, IsA768By600TrueColourPicture) {
    auto picture = MakeTestPicture();
    EXPECT_FALSE(picture->IsEmpty());
    EXPECT_EQ(picture->Width(), 768);
    EXPECT_EQ(picture->Height(), 600);
    EXPECT_EQ(picture->GetDepth(), Depth24);
    EXPECT_EQ(picture->Stride(), 2304);
}

TEST(TestPicture, SamplePixels) {
    struct Sample {
        int x, y, blue, green, red;
    };
    auto picture = MakeTestPicture();
    for (Sample s : {Sample{0, 0, 0, 0, 0}, Sample{767, 0, 255, 255, 255},
                     Sample{384, 199, 128, 128, 128}, Sample{255, 200, 0, 255, 255},
                     Sample{255, 399, 199, 255, 255}, Sample{511, 399, 255, 199, 255},
                     Sample{767, 399, 255, 255, 199}, Sample{0, 400, 0, 0, 0},
                     Sample{1, 400, 0, 255, 1}, Sample{255, 599, 199, 1, 255},
                     Sample{257, 400, 255, 0, 1}, Sample{513, 599, 255, 1, 199},
                     Sample{767, 599, 1, 255, 199}}) {
        const std::uint8_t* p = picture->RowAddress(s.y) + 3 * s.x;
        EXPECT_EQ(p[0], s.blue) << s.x << "," << s.y;
        EXPECT_EQ(p[1], s.green) << s.x << "," << s.y;
        EXPECT_EQ(p[2], s.red) << s.x << "," << s.y;
    }
}

// Blue, green and red of pixel (x, y), x from the left and y from the top,
// band by band and block by block; a falling channel counts down modulo 256.
struct Bgr {
    int blue, green, red;
    bool operator==(const Bgr&) const = default;
};

Bgr Expected(int x, int y) {
    auto modulo = [](int v) { return (v % 256 + 256) % 256; };
    if (y < 200) return {x / 3, x / 3, x / 3};
    if (y < 400) {
        int down = y - 200;
        if (x < 256) return {down, x, x};
        if (x < 512) return {x - 256, down, x - 256};
        return {x - 512, x - 512, down};
    }
    int down = y - 400;
    if (x < 256) return {down, modulo(256 - x), x};
    if (x < 512) return {modulo(512 - x), down, x - 256};
    return {modulo(768 - x), x - 512, down};
}

// Rows are read by their number from the top, so row 0 must be the top of
// the gray ramp whatever the storage order.
TEST(TestPicture, EveryPixelFollowsTheRampOfItsBlock) {
    auto picture = MakeTestPicture();
    for (int y = 0; y < 600; ++y) {
        const std::uint8_t* row = picture->RowAddress(y);
        for (int x = 0; x < 768; ++x) {
            Bgr got{row[3 * x], row[3 * x + 1], row[3 * x + 2]};
            Bgr want = Expected(x, y);
            ASSERT_EQ(got, want) << "at " << x << "," << y << ": got " << got.blue << ","
                                 << got.green << "," << got.red << " instead of " << want.blue
                                 << "," << want.green << "," << want.red;
        }
    }
}

TEST(TestPicture, EachCallGivesANewPictureWithTheSameBytes) {
    auto a = MakeTestPicture();
    auto b = MakeTestPicture();
    EXPECT_NE(a.get(), b.get());
    EXPECT_FALSE(a->SharesImageWith(*b));
    for (int y = 0; y < 600; ++y) ASSERT_EQ(std::memcmp(a->RowAddress(y), b->RowAddress(y), 2304), 0);
}

}  // namespace
}  // namespace sigillon
