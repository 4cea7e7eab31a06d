// The raster image every picture in Sigillon lives in.
//
// A TBitmap refers to a reference-counted TBitmapImage. Pictures copy each
// other by sharing that record; a picture gets a record of its own only when
// it is given a size or a format, is drawn on (SetPixelAt), reads a file or
// shares another image. Writes through RowAddress deliberately never end the
// sharing: the overview shows the stamped main picture through the very same
// rows, so the stamp code writes rows and repaints both views itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "pictures/raster/bitmap_error.h"

namespace sigillon {

// Colour value 0x00BBGGRR: red in the low byte.
using TColor = std::uint32_t;

inline constexpr TColor clWhite = 0x00FFFFFF;
inline constexpr TColor clBlack = 0x00000000;

inline constexpr std::uint8_t RedOf(TColor c) { return c & 0xFF; }
inline constexpr std::uint8_t GreenOf(TColor c) { return (c >> 8) & 0xFF; }
inline constexpr std::uint8_t BlueOf(TColor c) { return (c >> 16) & 0xFF; }
inline constexpr TColor RGBColor(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}

// The numbers matter: the stamp checks test for Depth24 == 6.
enum PixelDepth : std::uint8_t {
    DepthDevice = 0,
    Depth1 = 1,
    Depth4 = 2,
    Depth8 = 3,
    Depth15 = 4,
    Depth16 = 5,
    Depth24 = 6,
    Depth32 = 7,
    DepthCustom = 8,
};

// Largest pixel storage we hand out: no 32-bit program could hold more, and a
// crafted file header must not be able to ask for tens of gigabytes.
inline constexpr std::int64_t kMaxStorageBytes = 0x7FFFFFFF;

// Bytes in one row: every row is filled up to a multiple of 4 bytes.
inline constexpr std::int64_t StrideFor(std::int64_t width, int bitsPerPixel) {
    return ((width * bitsPerPixel + 31) / 32) * 4;
}

// The most pixel storage one picture may take: kMaxStorageBytes unless a
// lower limit was set. A fuzzer sets a low one so that it reaches the size
// checks without spending its time on pictures that are only large.
std::int64_t StorageLimit();
void SetStorageLimit(std::int64_t bytes);

// Whether rows rows of width pixels at bitsPerPixel can be held within the
// storage limit. Every place that sizes storage from numbers it was given
// asks this first; it cannot overflow for any values a file header holds.
bool CanHoldRows(std::int64_t width, std::int64_t rows, int bitsPerPixel);
// The same check against a limit of the caller's, for code that never holds
// the rows together (the row-by-row readers) and so has limits of its own.
bool CanHoldRows(std::int64_t width, std::int64_t rows, int bitsPerPixel, std::int64_t limit);

// Colour masks of 16- and 32-bit storage described by bit fields.
struct ColorMasks {
    std::uint32_t red = 0, green = 0, blue = 0;
    bool operator==(const ColorMasks&) const = default;
};

// Fields of a BMP info header that the picture carries from reading to
// writing; pictures the program makes hold zeros.
struct BmpFileInfo {
    std::int32_t xPelsPerMeter = 0;
    std::int32_t yPelsPerMeter = 0;
    std::uint32_t colorsImportant = 0;
    bool coreHeader = false;  // read from a 12-byte info header: written back in that form
};

// The image record pictures share. Its fields belong to the picture code
// (pictures/bitmap_image.h); everything else sees it through TBitmap.
struct TBitmapImage;
enum class RowFormat : std::uint8_t;

// The palettes the system offers when it converts into a palette format.
const std::vector<TColor>& StandardPalette16();
const std::vector<TColor>& HalftonePalette256();

class TBitmap {
public:
    TBitmap();
    ~TBitmap();
    TBitmap(const TBitmap&) = delete;
    TBitmap& operator=(const TBitmap&) = delete;

    std::int32_t Width() const;
    std::int32_t Height() const;
    void SetWidth(std::int32_t width);
    void SetHeight(std::int32_t height);

    bool IsEmpty() const;
    PixelDepth GetDepth() const;
    void SetDepth(PixelDepth depth);

    // First byte of a row, row 0 at the top whatever the storage order.
    // Refuses rows outside the picture. Never copies a shared record and
    // never notifies.
    std::uint8_t* RowAddress(std::int32_t row);
    const std::uint8_t* RowAddress(std::int32_t row) const;
    std::int64_t Stride() const;
    bool IsTopDown() const;

    void ShareImage(const TBitmap& source);

    // 0xFFFFFFFF outside the picture.
    TColor PixelAt(std::int32_t x, std::int32_t y) const;
    void SetPixelAt(std::int32_t x, std::int32_t y, TColor colour);

    TColor TransparentColor() const;
    void SetTransparentColor(TColor colour);
    void ClearTransparentColor();

    const std::vector<TColor>& Palette() const;
    // The colour masks of 16- and 32-bit pixels described by bit fields;
    // all zero for every other format.
    ColorMasks Masks() const;
    const BmpFileInfo& BmpInfo() const;

    // BMP files (pictures/bmp_file.cpp). Reading replaces the picture only
    // when the whole file was understood; both raise BitmapError.
    void ReadBmpFile(const std::string& path);
    void WriteBmpFile(const std::string& path) const;

    // The record itself, for the picture code that must look at the storage
    // layout (writers, row readers) without copying it.
    const TBitmapImage& Image() const { return *image_; }

    // Replaces this picture's record with a complete new one (a file just
    // read, a conversion); the picture then notifies. Checks the record's
    // size against kMaxStorageBytes.
    void AdoptImage(std::unique_ptr<TBitmapImage> image);

    // Makes an image record with storage of the given format, bottom-up,
    // without filling it. Throws BitmapError when it would be too large.
    static std::unique_ptr<TBitmapImage> NewImage(std::int32_t width, std::int32_t height,
                                                  RowFormat format);

    // A new picture of width x height in depth, bottom-up, whose rows are
    // written top row first by fill(row, bytes) in that format's layout
    // (DepthDevice: 32-bit pixels, blue, green, red and an unused byte).
    // Throws BitmapError for DepthCustom or a picture too large to hold.
    static std::unique_ptr<TBitmap> FromRows(
        std::int32_t width, std::int32_t height, PixelDepth depth,
        const std::function<void(std::int32_t row, std::uint8_t* bytes)>& fill);

    // True when another picture shares this one's record.
    bool IsShared() const { return image_.use_count() > 1; }
    bool SharesImageWith(const TBitmap& other) const { return image_ == other.image_; }

    // Called after every change made by size, format, sharing, reading or
    // drawing. The owner (a picture view) repaints.
    std::function<void()> OnChange;

    // Runs OnChange; for code outside this class that changes the picture
    // through AdoptImage-like paths or draws on it.
    void Changed();

private:
    void MakeRowsAddressable();  // DepthDevice -> plain 32-bit rows, in the shared record
    void Unshare();         // copy-on-write before a drawing change

    std::shared_ptr<TBitmapImage> image_;
    bool hasTransparentColor_ = false;
    TColor transparentColor_ = 0;
};

// The display's bits per pixel, decided once when a program starts (the
// JPEG decoder gives 8-bit pictures on displays of 8 bits or fewer). Tests
// switch it; nothing changes it while pictures are being worked on.
int DisplayBitsPerPixel();
void SetDisplayBitsPerPixel(int bits);

// Index of the palette colour nearest to colour (squared distance, first wins).
int NearestPaletteIndex(const std::vector<TColor>& palette, TColor colour);

}  // namespace sigillon
