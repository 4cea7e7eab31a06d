// Helpers shared by the picture file tests: temporary folders, whole files,
// BMP files built field by field, and pictures filled with known bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "pictures/raster/bitmap_image.h"

namespace sigillon::testing {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder, removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "sigillon-files-XXXXXX");
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (!::mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
        path_ = name.data();
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

    // Names of everything in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

inline Bytes ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteAll(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline void Put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b.at(at) = std::uint8_t(v);
    b.at(at + 1) = std::uint8_t(v >> 8);
}
inline void Put32(Bytes& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
inline std::uint32_t Get16(const Bytes& b, std::size_t at) {
    return b.at(at) | (b.at(at + 1) << 8);
}
inline std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return Get16(b, at) | (Get16(b, at + 2) << 16);
}

// The fields of a BMP file; BuildBmp lays them out as the format says, so
// a test can then break any one of them.
struct BmpFields {
    std::uint32_t headerSize = 40;  // 12 for the core form
    std::int32_t width = 3;
    std::int32_t height = 2;  // negative: top-down
    std::uint16_t bits = 24;
    std::uint32_t compression = 0;
    std::optional<std::uint32_t> imageSize;   // default: the pixel bytes given
    std::optional<std::uint32_t> colorsUsed;  // default: the palette's size
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t colorsImportant = 0;
    std::vector<TColor> palette;
    std::optional<ColorMasks> masks;  // written after a 40-byte header, inside longer ones
    Bytes gap;                        // bytes between the colour table and the pixels
    Bytes pixels;                     // exactly as stored in the file
};

inline Bytes BuildBmp(const BmpFields& s) {
    const bool core = s.headerSize == 12;
    const std::size_t entry = core ? 3 : 4;
    const std::size_t masks = (s.masks && s.headerSize == 40) ? 12 : 0;
    const std::size_t offset = 14 + s.headerSize + masks + s.palette.size() * entry + s.gap.size();
    Bytes b(14 + s.headerSize, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, std::uint32_t(offset + s.pixels.size()));
    Put32(b, 10, std::uint32_t(offset));
    Put32(b, 14, s.headerSize);
    if (core) {
        Put16(b, 18, std::uint32_t(s.width));
        Put16(b, 20, std::uint32_t(s.height));
        Put16(b, 22, 1);
        Put16(b, 24, s.bits);
    } else {
        Put32(b, 18, std::uint32_t(s.width));
        Put32(b, 22, std::uint32_t(s.height));
        Put16(b, 26, 1);
        Put16(b, 28, s.bits);
        Put32(b, 30, s.compression);
        Put32(b, 34, s.imageSize.value_or(std::uint32_t(s.pixels.size())));
        Put32(b, 38, std::uint32_t(s.xPelsPerMeter));
        Put32(b, 42, std::uint32_t(s.yPelsPerMeter));
        Put32(b, 46, s.colorsUsed.value_or(std::uint32_t(s.palette.size())));
        Put32(b, 50, s.colorsImportant);
        if (s.masks && s.headerSize >= 52) {
            Put32(b, 54, s.masks->red);
            Put32(b, 58, s.masks->green);
            Put32(b, 62, s.masks->blue);
        }
    }
    if (masks) {
        b.resize(b.size() + 12);
        Put32(b, b.size() - 12, s.masks->red);
        Put32(b, b.size() - 8, s.masks->green);
        Put32(b, b.size() - 4, s.masks->blue);
    }
    for (TColor c : s.palette) {
        b.push_back(BlueOf(c));
        b.push_back(GreenOf(c));
        b.push_back(RedOf(c));
        if (!core) b.push_back(0);
    }
    b.insert(b.end(), s.gap.begin(), s.gap.end());
    b.insert(b.end(), s.pixels.begin(), s.pixels.end());
    return b;
}

inline Bytes RandomBytes(std::size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& b : bytes) b = std::uint8_t(random());
    return bytes;
}

// A picture of the given format whose pixel bytes are random (the fill
// bytes at the row ends stay as the picture made them).
inline std::unique_ptr<TBitmap> RandomPicture(PixelDepth depth, int width, int height,
                                              unsigned seed) {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(depth);
    picture->SetWidth(width);
    picture->SetHeight(height);
    const std::size_t used =
        std::size_t((std::int64_t(width) * picture->Image().BitsPerPixel() + 7) / 8);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture->RowAddress(y);
        for (std::size_t i = 0; i < used; ++i) row[i] = std::uint8_t(random());
        // Bits past the last pixel of a 1- or 4-bit row are fill too.
        int spare = int(used * 8 - std::size_t(width) * picture->Image().BitsPerPixel());
        if (spare > 0) row[used - 1] &= std::uint8_t(0xFF << spare);
    }
    return picture;
}

// The pixel bytes of every row, top row first, fill bytes left out.
inline Bytes RowBytes(const TBitmap& picture) {
    Bytes all;
    const std::size_t used =
        std::size_t((std::int64_t(picture.Width()) * picture.Image().BitsPerPixel() + 7) / 8);
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.RowAddress(y);
        all.insert(all.end(), row, row + used);
    }
    return all;
}

}  // namespace sigillon::testing
