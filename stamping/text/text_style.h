// How a text stamp may be dressed beyond the desktop program's look: its
// own font, any colour, an outline and a shadow. No Qt here: the batch tool
// parses these settings and hands them to its text helper as arguments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "stamping/text/text_colours.h"

namespace sigillon {

struct TextStyle {
    std::string font;                      // a family or a font file; empty: the text field's
    std::optional<TColor> colour;          // #RRGGBB; none: the named colour
    int outline = 0;                       // pixels around each letter; 0 none
    std::optional<TColor> outlineColour;   // none: ContrastingColour of the text's
    bool shadow = false;
    int shadowDx = 0, shadowDy = 0;        // pixels right and down
    std::optional<TColor> shadowColour;    // none: ContrastingColour of the text's
    int shadowBlur = 0;                    // radius in pixels

    // Nothing set: the text is drawn exactly as the desktop program draws it
    // (no smoothing, on white); anything set draws it smoothed on a
    // transparent ground.
    bool Plain() const {
        return font.empty() && !colour && outline == 0 && !outlineColour && !shadow &&
               !shadowColour && shadowBlur == 0;
    }
};

// One of the seven colour names or #RRGGBB (either case); none otherwise.
inline std::optional<TColor> ParseTextColour(std::string_view text) {
    for (const TextColour& named : kTextColours)
        if (text == named.name) return named.value;
    if (text.size() != 7 || text[0] != '#') return std::nullopt;
    std::uint32_t rgb = 0;
    for (char c : text.substr(1)) {
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return std::nullopt;
        rgb = rgb << 4 | std::uint32_t(digit);
    }
    return RGBColor(std::uint8_t(rgb >> 16), std::uint8_t(rgb >> 8), std::uint8_t(rgb));
}

// #RRGGBB of a colour, upper case.
inline std::string ColourText(TColor colour) {
    const char* digits = "0123456789ABCDEF";
    std::string text = "#";
    for (std::uint8_t part : {RedOf(colour), GreenOf(colour), BlueOf(colour)}) {
        text += digits[part >> 4];
        text += digits[part & 15];
    }
    return text;
}

// Black for a light colour, white for a dark one: light or dark by the
// colour's luma (BT.709 weights on the stored values), split at the middle.
inline TColor ContrastingColour(TColor colour) {
    const int luma = 2126 * RedOf(colour) + 7152 * GreenOf(colour) + 722 * BlueOf(colour);
    return luma >= 128 * 10000 ? clBlack : clWhite;
}

}  // namespace sigillon
