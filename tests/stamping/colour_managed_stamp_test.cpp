#include "stamping/colour_managed_stamp.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/pictures.h"

namespace sigillon {
namespace {

std::vector<std::uint8_t> Profile(const std::string& name) {
    std::ifstream file("/usr/share/color/icc/" + name, std::ios::binary);
    std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

// Pure colours, greys, white (the keyed stamp's transparency) and others,
// blue, green, red.
const std::uint8_t kColours[8][3] = {{0, 0, 255},     {0, 255, 0},   {255, 0, 0}, {255, 255, 255},
                                     {128, 128, 128}, {30, 200, 90}, {0, 0, 0},   {250, 255, 255}};

// Through StampsByProfile, as the batch tool asks: an RGB profile converts the
// stamps once, every pixel as LittleCMS does but keyed white; no profile, sRGB
// itself and one that cannot be used (said why) leave the stamps given.
TEST(StampsByProfile, ConvertsOncePerProfileAsLittleCmsDoesOrSaysWhyNot) {
    const std::vector<std::uint8_t> adobe = Profile("compatibleWithAdobeRGB1998.icc");
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE target = cmsOpenProfileFromMem(adobe.data(), cmsUInt32Number(adobe.size()));
    cmsHTRANSFORM transform =
        cmsCreateTransform(srgb, TYPE_BGR_8, target, TYPE_BGR_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    std::uint8_t reference[8][3];  // what a transform of the test's own makes of them
    cmsDoTransform(transform, kColours, reference, 8);
    cmsDeleteTransform(transform);
    cmsCloseProfile(target);
    cmsCloseProfile(srgb);
    EXPECT_LT(reference[0][2], 240) << "Adobe RGB's red is more saturated than sRGB's";
    std::shared_ptr<const TBitmap> pixels = testing::MakeTrueColourPicture(
        8, 1, [](int x, int, std::uint8_t* p) { std::copy_n(kColours[x], 3, p); });
    const std::vector<std::uint8_t> alpha{255, 128, 0, 255, 255, 10, 200, 255};
    for (bool withAlpha : {false, true}) {
        const StampImage given{pixels, withAlpha ? alpha : std::vector<std::uint8_t>{}};
        const StampsByProfile profiles({given});
        const StampsInProfile converted = profiles.For(adobe);
        EXPECT_EQ(converted.warning, "");
        ASSERT_EQ(converted.stamps, profiles.For(adobe).stamps) << "converted once";
        const StampImage& stamp = converted.stamps->front();
        EXPECT_EQ(stamp.alpha, given.alpha);
        std::vector<std::uint8_t> expected(&reference[0][0], &reference[0][0] + 8 * 3);
        if (!withAlpha) std::fill_n(&expected[3 * 3], 3, 255);  // white, keyed, stays
        const std::uint8_t* row = stamp.pixels->RowAddress(0);
        EXPECT_EQ(std::vector<std::uint8_t>(row, row + 3 * 8), expected) << withAlpha;
        for (auto [icc, warning] : {std::pair{std::vector<std::uint8_t>{}, ""},
                                    {Profile("sRGB.icc"), ""},
                                    {{1, 2, 3, 4, 5, 6, 7, 8}, "could not be read"},
                                    {Profile("Gray.icc"), "not an RGB one"}}) {
            const StampsInProfile in = profiles.For(icc);
            EXPECT_EQ(in.stamps->front().pixels, given.pixels) << warning;
            EXPECT_TRUE(*warning ? in.warning.find(warning) != std::string::npos
                                 : in.warning.empty())
                << in.warning;
        }
    }
}

}  // namespace
}  // namespace sigillon
