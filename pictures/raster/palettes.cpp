// The two palettes pictures are converted into, and nearest-colour lookup.

#include "pictures/raster/bitmap.h"

namespace sigillon {

const std::vector<TColor>& StandardPalette16() {
    // The classic 16 colours in their usual order: dark colours, silver,
    // grey, then the bright ones, white last.
    static const std::vector<TColor> palette = {
        0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
        0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF,
    };
    return palette;
}

const std::vector<TColor>& HalftonePalette256() {
    // A 6 x 6 x 6 colour cube (it holds black, white and the pure primaries),
    // the half-intensity colours of the 16-colour palette (grey 0x808080 and
    // silver among them), then a gray ramp to fill the 256 entries. Every
    // entry is distinct, so nearest-colour lookup has one answer.
    static const std::vector<TColor> palette = [] {
        std::vector<TColor> p;
        p.reserve(256);
        auto has = [&p](TColor c) {
            for (TColor e : p)
                if (e == c) return true;
            return false;
        };
        for (int b = 0; b < 6; ++b)
            for (int g = 0; g < 6; ++g)
                for (int r = 0; r < 6; ++r) p.push_back(RGBColor(r * 51, g * 51, b * 51));
        for (TColor c : StandardPalette16())
            if (!has(c)) p.push_back(c);
        for (int level = 8; p.size() < 256 && level < 256; level += 8) {
            TColor gray = RGBColor(level, level, level);
            if (!has(gray)) p.push_back(gray);
        }
        for (int level = 4; p.size() < 256 && level < 256; level += 8) {
            TColor gray = RGBColor(level, level, level);
            if (!has(gray)) p.push_back(gray);
        }
        return p;
    }();
    return palette;
}

int NearestPaletteIndex(const std::vector<TColor>& palette, TColor colour) {
    int best = 0;
    long bestDistance = -1;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        long dr = long(RedOf(palette[i])) - RedOf(colour);
        long dg = long(GreenOf(palette[i])) - GreenOf(colour);
        long db = long(BlueOf(palette[i])) - BlueOf(colour);
        long distance = dr * dr + dg * dg + db * db;
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best = int(i);
            if (distance == 0) break;
        }
    }
    return best;
}

}  // namespace sigillon
