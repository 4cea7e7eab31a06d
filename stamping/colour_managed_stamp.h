// Stamps in a picture's colour space. Stamp pixels and text colours are
// sRGB; a picture with an ICC profile holds its bytes in that profile's
// space, so a stamp burnt in unconverted would change colour with it (a
// pure sRGB red looks duller on an Adobe RGB photo). The stamp is converted
// into the picture's profile first (LittleCMS 2, relative colorimetric,
// 8 bits a channel), and the stamp rules then work on the converted bytes:
// solid modes copy them, the watermark moves each picture byte by
// (converted byte / 32) - 2.
//
// A profile that is sRGB itself (within one step a channel) converts
// nothing, so those pictures get the stamp's bytes as they are.
//
// A stamp without alpha keeps its white pixels white, since white is its
// transparency, not a colour; a colour that would convert to pure white
// becomes (254, 255, 255) (blue, green, red), so that it stays opaque.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "stamping/placed_stamp.h"

namespace sigillon {

// The stamps as they go onto pictures with one profile: converted, or none
// when the ones given go on as they are (no profile, or one that converts
// sRGB to itself); a warning when the profile could not be used, and then
// the ones given go on too.
struct StampsInProfile {
    std::shared_ptr<const std::vector<StampImage>> stamps;
    std::string warning;
};

// Converts the stamps (sRGB) into the profile. Throws BitmapError when a
// converted stamp cannot be held.
StampsInProfile ConvertStamps(const std::vector<StampImage>& stamps,
                              std::span<const std::uint8_t> icc);

// The stamps converted into each distinct profile once, for every picture
// with that profile; several threads may ask at once.
class StampsByProfile {
public:
    explicit StampsByProfile(std::vector<StampImage> stamps);

    // The stamps for a picture with this profile, never none: those given
    // for a picture without one.
    StampsInProfile For(std::span<const std::uint8_t> icc) const;

private:
    std::shared_ptr<const std::vector<StampImage>> stamps_;
    mutable std::mutex mutex_;
    mutable std::map<std::vector<std::uint8_t>, StampsInProfile> converted_;
};

}  // namespace sigillon
