#include "stamping/colour_managed_stamp.h"

#include <lcms2.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

namespace sigillon {
namespace {

// The sRGB to picture profile transform, closed with its profiles.
class Transform {
public:
    explicit Transform(std::span<const std::uint8_t> icc) {
        picture_ = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
        if (!picture_) {
            problem_ = "the picture's ICC profile could not be read";
            return;
        }
        if (cmsGetColorSpace(picture_) != cmsSigRgbData) {
            problem_ = "the picture's ICC profile is not an RGB one";
            return;
        }
        srgb_ = cmsCreate_sRGBProfile();
        if (srgb_)
            transform_ = cmsCreateTransform(srgb_, TYPE_BGR_8, picture_, TYPE_BGR_8,
                                            INTENT_RELATIVE_COLORIMETRIC, 0);
        if (!transform_) problem_ = "the picture's ICC profile cannot take sRGB colours";
    }
    ~Transform() {
        if (transform_) cmsDeleteTransform(transform_);
        if (srgb_) cmsCloseProfile(srgb_);
        if (picture_) cmsCloseProfile(picture_);
    }
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;

    const std::string& Problem() const { return problem_; }

    // count blue, green, red pixels from one row into another.
    void Apply(const std::uint8_t* from, std::uint8_t* to, std::int32_t count) const {
        cmsDoTransform(transform_, from, to, cmsUInt32Number(count));
    }

    // Whether the profile is sRGB itself, near enough: no channel of any
    // colour on a grid of every fifth value moves by more than one step.
    // (An sRGB profile's own curves round some values one step off those
    // of LittleCMS's built-in sRGB.)
    bool Identity() const {
        std::vector<std::uint8_t> grid, out;
        for (int b = 0; b < 256; b += 5)
            for (int g = 0; g < 256; g += 5)
                for (int r = 0; r < 256; r += 5)
                    grid.insert(grid.end(), {std::uint8_t(b), std::uint8_t(g), std::uint8_t(r)});
        out.resize(grid.size());
        Apply(grid.data(), out.data(), std::int32_t(grid.size() / 3));
        for (std::size_t i = 0; i < grid.size(); ++i)
            if (std::abs(int(out[i]) - int(grid[i])) > 1) return false;
        return true;
    }

private:
    cmsHPROFILE picture_ = nullptr;
    cmsHPROFILE srgb_ = nullptr;
    cmsHTRANSFORM transform_ = nullptr;
    std::string problem_;
};

StampImage Convert(const StampImage& stamp, const Transform& transform) {
    if (!stamp.pixels || stamp.pixels->IsEmpty()) return stamp;
    const TBitmap& pixels = *stamp.pixels;
    const bool keyed = stamp.alpha.empty();
    auto converted = TBitmap::FromRows(
        pixels.Width(), pixels.Height(), Depth24, [&](std::int32_t y, std::uint8_t* row) {
            const std::uint8_t* from = pixels.RowAddress(y);
            transform.Apply(from, row, pixels.Width());
            for (std::int32_t x = 0; keyed && x < pixels.Width(); ++x) {
                const std::uint8_t* was = from + 3 * x;
                std::uint8_t* now = row + 3 * x;
                const bool white = was[0] == 255 && was[1] == 255 && was[2] == 255;
                if (white) std::fill_n(now, 3, std::uint8_t(255));
                else if (now[0] == 255 && now[1] == 255 && now[2] == 255) now[0] = 254;
            }
        });
    return StampImage{std::move(converted), stamp.alpha};
}

}  // namespace

StampsInProfile ConvertStamps(const std::vector<StampImage>& stamps,
                              std::span<const std::uint8_t> icc) {
    if (icc.empty()) return {};
    const Transform transform(icc);
    if (!transform.Problem().empty())
        return {nullptr, transform.Problem() + "; the stamp was put on as sRGB"};
    if (transform.Identity()) return {};
    auto converted = std::make_shared<std::vector<StampImage>>();
    for (const StampImage& stamp : stamps) converted->push_back(Convert(stamp, transform));
    return {std::move(converted), {}};
}

StampsByProfile::StampsByProfile(std::vector<StampImage> stamps)
    : stamps_(std::make_shared<const std::vector<StampImage>>(std::move(stamps))) {}

StampsInProfile StampsByProfile::For(std::span<const std::uint8_t> icc) const {
    if (icc.empty()) return {stamps_, {}};
    std::vector<std::uint8_t> key(icc.begin(), icc.end());
    std::lock_guard lock(mutex_);
    auto found = converted_.find(key);
    if (found == converted_.end()) {
        StampsInProfile made = ConvertStamps(*stamps_, icc);
        if (!made.stamps) made.stamps = stamps_;
        found = converted_.emplace(std::move(key), std::move(made)).first;
    }
    return found->second;
}

}  // namespace sigillon
