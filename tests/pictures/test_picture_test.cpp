#include "pictures/test_picture.h"

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

TEST(TestPicture, RowZeroIsTheTopOfTheGrayRamp) {
    auto picture = MakeTestPicture();
    const std::uint8_t* top = picture->RowAddress(0);
    for (int x = 0; x < 768; ++x) ASSERT_EQ(top[3 * x], x / 3);
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
