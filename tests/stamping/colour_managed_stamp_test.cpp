#include "stamping/colour_managed_stamp.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <fstream>
#include <iterator>
#include <string>
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

// What LittleCMS makes of one sRGB pixel (blue, green, red) in the profile,
// through a transform of its own.
std::vector<std::uint8_t> Reference(const std::vector<std::uint8_t>& icc,
                                    const std::uint8_t* bgr) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE target = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    cmsHTRANSFORM transform = cmsCreateTransform(srgb, TYPE_BGR_8, target, TYPE_BGR_8,
                                                 INTENT_RELATIVE_COLORIMETRIC, 0);
    std::vector<std::uint8_t> out(3);
    cmsDoTransform(transform, bgr, out.data(), 1);
    cmsDeleteTransform(transform);
    cmsCloseProfile(target);
    cmsCloseProfile(srgb);
    return out;
}

// Pure colours, greys, white (the keyed stamp's transparency) and others.
StampImage Stamp(bool withAlpha) {
    const std::uint8_t colours[][3] = {{0, 0, 255},   {0, 255, 0},   {255, 0, 0},
                                       {255, 255, 255}, {128, 128, 128}, {30, 200, 90},
                                       {0, 0, 0},     {250, 255, 255}};
    auto pixels = testing::MakeTrueColourPicture(8, 1, [&](int x, int, std::uint8_t* p) {
        std::copy_n(colours[x], 3, p);
    });
    std::vector<std::uint8_t> alpha;
    if (withAlpha) alpha = {255, 128, 0, 255, 255, 10, 200, 255};
    return StampImage{std::move(pixels), alpha};
}

TEST(ConvertStamps, EveryPixelAsLittleCmsConvertsItButKeyedWhite) {
    const std::vector<std::uint8_t> adobe = Profile("compatibleWithAdobeRGB1998.icc");
    for (bool withAlpha : {false, true}) {
        const StampImage given = Stamp(withAlpha);
        const StampsInProfile converted = ConvertStamps({given}, adobe);
        EXPECT_EQ(converted.warning, "");
        ASSERT_TRUE(converted.stamps);
        const StampImage& stamp = converted.stamps->front();
        EXPECT_EQ(stamp.alpha, given.alpha);
        for (int x = 0; x < given.Width(); ++x) {
            const std::uint8_t* was = given.pixels->RowAddress(0) + 3 * x;
            const std::uint8_t* now = stamp.pixels->RowAddress(0) + 3 * x;
            std::vector<std::uint8_t> expected = Reference(adobe, was);
            const bool white = was[0] == 255 && was[1] == 255 && was[2] == 255;
            if (white && !withAlpha) expected = {255, 255, 255};
            EXPECT_EQ(std::vector<std::uint8_t>(now, now + 3), expected) << x << " " << withAlpha;
        }
        // Adobe RGB's red is more saturated than sRGB's: sRGB red lands inside.
        EXPECT_LT(stamp.pixels->RowAddress(0)[2], 240);
    }
}

// Each distinct profile is converted once; no profile, one within a step
// of sRGB and one that cannot be used (said why) share the stamps given.
TEST(StampsByProfile, ConvertsOncePerProfileOrSaysWhyNot) {
    const StampImage given = Stamp(false);
    const StampsByProfile profiles({given});
    const std::vector<std::uint8_t> adobe = Profile("compatibleWithAdobeRGB1998.icc");
    EXPECT_EQ(profiles.For(adobe).stamps, profiles.For(adobe).stamps);
    EXPECT_NE(profiles.For(adobe).stamps->front().pixels, given.pixels);
    struct Case {
        std::vector<std::uint8_t> icc;
        const char* warning;
    };
    for (const Case& c : {Case{{}, ""}, Case{Profile("sRGB.icc"), ""},
                          Case{{1, 2, 3, 4, 5, 6, 7, 8}, "could not be read"},
                          Case{Profile("Gray.icc"), "not an RGB one"}}) {
        const StampsInProfile in = profiles.For(c.icc);
        EXPECT_EQ(in.stamps->front().pixels, given.pixels) << c.warning;
        EXPECT_EQ(in.warning.empty(), *c.warning == 0) << in.warning;
        EXPECT_NE(in.warning.find(c.warning), std::string::npos) << in.warning;
    }
}

}  // namespace
}  // namespace sigillon
