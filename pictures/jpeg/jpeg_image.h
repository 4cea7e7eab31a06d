// One JPEG file's bytes, and the libjpeg codec between them and a TBitmap.
//
// Loading keeps the whole file in memory and reads its header; the picture
// is decoded the first time it is asked for, straight into the rows of a
// new TBitmap. Assigning a picture drops any bytes held and shares the
// picture's image; Compress then encodes it into memory. libjpeg's fatal
// errors become BitmapError; its warnings (corrupt data, a file that ends
// early) are ignored and the picture holds what the decoder produced.
//
// Metadata (EXIF, XMP, ICC profile, Photoshop/IPTC) is read from the bytes
// held only when asked for, and written by Compress only when set: without
// it the files made are what they always were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "pictures/metadata/metadata.h"
#include "pictures/files/safe_save.h"

namespace sigillon {

enum class JpegPixelFormat { Bits24, Bits8 };
enum class JpegPerformance { BestQuality, BestSpeed };
enum class JpegScale { FullSize, Half, Quarter, Eighth };

// What decides the rows decoded from a file: the decoding settings of a
// TJPEGImage, with their initial values (the pixel format follows
// DisplayBitsPerPixel() as it is when the settings are made).
struct JpegDecodeSettings {
    JpegDecodeSettings();
    bool grayscaleOutput = false;
    JpegPixelFormat pixelFormat;
    JpegPerformance performance = JpegPerformance::BestQuality;
    JpegScale scale = JpegScale::FullSize;
    bool smoothing = true;
};

// libjpeg cannot hold a side longer than this.
inline constexpr std::int32_t kMaxJpegSide = 65500;

class TJPEGImage {
public:
    // Every setting at its initial value; the decoding pixel format follows
    // DisplayBitsPerPixel() as it is now.
    TJPEGImage();

    // Settings. Those that change decoding make a picture decoded from the
    // bytes be decoded again when it is next asked for.
    int CompressionQuality() const { return quality_; }
    void SetCompressionQuality(int quality);  // 1 to 100, else BitmapError
    bool GrayscaleOutput() const { return grayscale_; }
    void SetGrayscaleOutput(bool on);
    JpegPixelFormat PixelFormat() const { return pixelFormat_; }
    void SetPixelFormat(JpegPixelFormat format);
    JpegPerformance Performance() const { return performance_; }
    void SetPerformance(JpegPerformance performance);
    JpegScale Scale() const { return scale_; }
    void SetScale(JpegScale scale);
    bool Smoothing() const { return smoothing_; }
    void SetSmoothing(bool on);
    // Kept with the other settings; this codec always finishes decoding
    // before the picture exists, so there is never a partial one to show.
    bool ProgressiveDisplay() const { return progressiveDisplay_; }
    void SetProgressiveDisplay(bool on) { progressiveDisplay_ = on; }
    bool ProgressiveEncoding() const { return progressiveEncoding_; }
    void SetProgressiveEncoding(bool on) { progressiveEncoding_ = on; }

    // Takes a file's bytes and reads the header (when there is at least one
    // byte). Throws BitmapError on a file that does not start like a JPEG
    // file, and on one with other than one or three colour components.
    void LoadFromFile(const std::string& path);
    void LoadFromBytes(ByteBlock bytes);
    void LoadFromBytes(const std::uint8_t* data, std::size_t size);  // copies them

    // From the header of the bytes held, or the assigned picture's size.
    std::int32_t Width() const { return width_; }
    std::int32_t Height() const { return height_; }
    bool IsGrayscaleFile() const { return grayscaleFile_; }
    bool IsProgressiveFile() const { return progressiveFile_; }

    // The settings above that decide the decoded rows.
    JpegDecodeSettings DecodeSettings() const;

    // The picture: decoded from the bytes on first use (throws BitmapError
    // when that fails, or when there are no bytes and no picture).
    const TBitmap& Bitmap();

    // Drops the bytes held and shares the picture's image; no pixel is
    // copied.
    void Assign(const TBitmap& picture);

    // Encodes the picture into the bytes held, replacing them: none for an
    // empty picture. Throws BitmapError, holding no bytes then.
    void Compress();

    std::span<const std::uint8_t> Data() const { return {data_.data(), data_.size()}; }

    // The metadata of the bytes held, read from them when first asked for;
    // empty when none are held. Blocks too large to keep are left out and
    // named by ReadMetadataWarnings. Throws BitmapError when memory runs out.
    const PictureMetadata& Metadata();
    const std::vector<std::string>& ReadMetadataWarnings();

    // Metadata that Compress writes into the file it makes; none at first.
    // (Compress does not encode bytes that already are the picture, so they
    // keep the metadata they have.)
    const PictureMetadata& OutputMetadata() const { return outputMetadata_; }
    void SetOutputMetadata(PictureMetadata metadata) { outputMetadata_ = std::move(metadata); }
    // The blocks of the output metadata the last Compress had to leave out
    // of its file, and why.
    const std::vector<std::string>& WriteMetadataWarnings() const { return writeWarnings_; }

private:
    void Decode();
    void DecodingChanged();

    int quality_ = 90;
    bool grayscale_ = false;
    JpegPixelFormat pixelFormat_;
    JpegPerformance performance_ = JpegPerformance::BestQuality;
    JpegScale scale_ = JpegScale::FullSize;
    bool smoothing_ = true;
    bool progressiveDisplay_ = false;
    bool progressiveEncoding_ = false;

    ByteBlock data_;
    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    bool grayscaleFile_ = false;
    bool progressiveFile_ = false;

    TBitmap bitmap_;
    bool haveBitmap_ = false;

    PictureMetadata metadata_;
    std::vector<std::string> readWarnings_;
    bool haveMetadata_ = false;
    PictureMetadata outputMetadata_;
    std::vector<std::string> writeWarnings_;
};

}  // namespace sigillon
