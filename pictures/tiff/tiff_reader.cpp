// TIFF files read a row at a time. Strips whose samples lie together are
// decoded with libtiff's scanline reading, which keeps one row; tiles and
// separate planes are decoded a band at a time (a row of tiles, a strip of
// each plane), into one buffer of the band's raw samples.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "pictures/files/safe_save.h"
#include "pictures/metadata/tiff_structure.h"
#include "pictures/raster/bitmap_image.h"
#include "pictures/tiff/tiff_file.h"
#include "pictures/tiff/tiff_library.h"
#include "pictures/tiff/tiff_metadata.h"

namespace sigillon {
namespace {

enum class Colour { Grey, Rgb, Palette };

std::uint32_t SampleAt(const std::uint8_t* row, std::size_t index, int bits) {
    switch (bits) {
        case 8:
            return row[index];
        case 16: {
            std::uint16_t v;  // libtiff hands samples over in the machine's order
            std::memcpy(&v, row + 2 * index, 2);
            return v;
        }
        default: {
            const std::size_t bit = index * std::size_t(bits);
            return (row[bit >> 3] >> (8 - bits - int(bit & 7))) & ((1u << bits) - 1);
        }
    }
}

std::uint8_t To8Bits(std::uint32_t v, int bits) {
    if (bits == 16) return std::uint8_t((v * 255 + 32767) / 65535);
    if (bits == 8) return std::uint8_t(v);
    return std::uint8_t(v * 255 / ((1u << bits) - 1));
}

std::string SizeText(std::int64_t bytes) { return std::to_string(bytes) + " bytes"; }

class TiffRowReader final : public PictureRowReader {
public:
    TiffRowReader(const std::string& path, const TiffReading& reading)
        : acceptDamaged_(reading.acceptDamaged) {
        std::uint64_t size = 0;
        fd_ = OpenRegularFile(path, &size, "TIFF: ");
        fileSize_ = size;
        {
            tiff_library::Options options(messages_, StorageLimit());
            handle_.reset(TIFFFdOpenExt(fd_, path.c_str(), "rm", options.get()));
        }
        tif_ = handle_.get();
        if (!tif_) {
            ::close(fd_);
            throw BitmapError("TIFF: " + messages_.Reason("not a TIFF file"));
        }
        ReadLayout();
        if (TIFFNumberOfDirectories(tif_) > 1)
            warnings_.push_back("TIFF: the file has " +
                                std::to_string(TIFFNumberOfDirectories(tif_)) +
                                " pages; only the first is read");
        if (reading.withMetadata) ReadMetadata();
    }

    bool HasAlpha() const { return alphaSample_ >= 0; }
    // The alpha of each row read from now on goes to plane, Width() bytes a row.
    void KeepAlpha(std::uint8_t* plane) { alphaPlane_ = plane; }
    PictureMetadata TakeMetadata() { return std::move(metadata_); }
    std::vector<std::string> TakeMetadataDropped() { return std::move(dropped_); }

    std::vector<std::string> Warnings() const override {
        std::vector<std::string> warnings = warnings_;
        if (damagedRow_ >= 0)
            warnings.push_back("TIFF: the picture data is damaged from row " +
                               std::to_string(damagedRow_ + 1) + " on (" + damage_ +
                               "); what could not be decoded is black");
        return warnings;
    }

protected:
    void ReadRows(std::uint8_t* rows, std::int32_t count) override {
        for (std::int32_t k = 0; k < count; ++k) {
            const std::int32_t y = NextRow() + k;
            std::array<const std::uint8_t*, 8> planes{};
            if (bandRows_ == 0) {
                // The rest of a strip that failed fails too: not asked again.
                const tstrip_t strip = TIFFComputeStrip(tif_, std::uint32_t(y), 0);
                if (strip == failedStrip_ ||
                    TIFFReadScanline(tif_, raw_.data(), std::uint32_t(y), 0) < 0) {
                    Damaged(y);
                    failedStrip_ = strip;
                    std::fill(raw_.begin(), raw_.end(), 0);
                }
                planes[0] = raw_.data();
            } else {
                if (bandTop_ < 0 || y < bandTop_ || y >= bandTop_ + bandRows_)
                    FillBand(y - y % bandRows_);
                for (int p = 0; p < planeCount_; ++p)
                    planes[std::size_t(p)] =
                        raw_.data() +
                        (std::size_t(p) * std::size_t(bandRows_) + std::size_t(y - bandTop_)) *
                            planeRowBytes_;
            }
            Convert(planes, rows + std::size_t(k) * std::size_t(format_->stride),
                    alphaPlane_ ? alphaPlane_ + std::size_t(y) * std::size_t(Width()) : nullptr);
        }
    }

private:
    template <typename T>
    T Field(ttag_t tag) {
        T value{};
        TIFFGetFieldDefaulted(tif_, tag, &value);
        return value;
    }

    [[noreturn]] void Refuse(const std::string& why) { throw BitmapError("TIFF: " + why); }

    void ReadLayout() {
        std::uint32_t width = 0, height = 0;
        std::uint16_t photometric = 0;
        if (!TIFFGetField(tif_, TIFFTAG_IMAGEWIDTH, &width) ||
            !TIFFGetField(tif_, TIFFTAG_IMAGELENGTH, &height))
            Refuse("the file gives no picture size");
        if (width == 0 || height == 0) Refuse("the picture is empty");
        if (width > kMaxTiffSide || height > kMaxTiffSide)
            Refuse("a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                   " has a side longer than " + std::to_string(kMaxTiffSide));
        if (!TIFFGetField(tif_, TIFFTAG_PHOTOMETRIC, &photometric))
            Refuse("the file does not say how its samples make colours");
        bits_ = Field<std::uint16_t>(TIFFTAG_BITSPERSAMPLE);
        samples_ = Field<std::uint16_t>(TIFFTAG_SAMPLESPERPIXEL);
        const std::uint16_t compression = Field<std::uint16_t>(TIFFTAG_COMPRESSION);
        if (!TIFFIsCODECConfigured(compression))
            Refuse("compression " + std::to_string(compression) + " cannot be decoded");
        if (Field<std::uint16_t>(TIFFTAG_SAMPLEFORMAT) != SAMPLEFORMAT_UINT)
            Refuse("only unsigned integer samples are read");
        if (bits_ != 1 && bits_ != 2 && bits_ != 4 && bits_ != 8 && bits_ != 16)
            Refuse(std::to_string(bits_) + "-bit samples are not read");
        int channels = 1;
        switch (photometric) {
            case PHOTOMETRIC_MINISWHITE:
                minIsWhite_ = true;
                [[fallthrough]];
            case PHOTOMETRIC_MINISBLACK:
                colour_ = Colour::Grey;
                break;
            case PHOTOMETRIC_YCBCR:
                if (compression != COMPRESSION_JPEG)
                    Refuse("YCbCr samples are read only from JPEG-compressed files");
                // libjpeg turns them into RGB.
                TIFFSetField(tif_, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
                [[fallthrough]];
            case PHOTOMETRIC_RGB:
                colour_ = Colour::Rgb;
                channels = 3;
                if (bits_ < 8) Refuse(std::to_string(bits_) + "-bit RGB samples are not read");
                break;
            case PHOTOMETRIC_PALETTE:
                colour_ = Colour::Palette;
                ReadPalette();
                break;
            default:
                Refuse("photometric interpretation " + std::to_string(photometric) +
                       " is not read");
        }
        if (samples_ < channels || samples_ > 8)
            Refuse(std::to_string(samples_) + " samples a pixel do not make its colours");
        std::uint16_t extras = 0;
        std::uint16_t* kinds = nullptr;
        if (TIFFGetField(tif_, TIFFTAG_EXTRASAMPLES, &extras, &kinds) && extras > 0 &&
            samples_ > channels &&
            (kinds[0] == EXTRASAMPLE_ASSOCALPHA || kinds[0] == EXTRASAMPLE_UNASSALPHA)) {
            alphaSample_ = channels;
            associated_ = kinds[0] == EXTRASAMPLE_ASSOCALPHA;
        }

        const bool separate = Field<std::uint16_t>(TIFFTAG_PLANARCONFIG) == PLANARCONFIG_SEPARATE;
        planeCount_ = separate ? samples_ : 1;
        contiguous_ = !separate;
        planeRowBytes_ = std::size_t(TIFFScanlineSize64(tif_));
        std::uint64_t buffer = planeRowBytes_;
        if (TIFFIsTiled(tif_)) {
            bandRows_ = std::int32_t(
                std::min<std::uint32_t>(Field<std::uint32_t>(TIFFTAG_TILELENGTH), height));
            tileBytes_ = std::size_t(TIFFTileSize64(tif_));
            if (tileBytes_ == 0) Refuse("the tiles have no size");
        } else if (separate) {
            bandRows_ = std::int32_t(
                std::min<std::uint32_t>(Field<std::uint32_t>(TIFFTAG_ROWSPERSTRIP), height));
        }
        if (bandRows_ > 0)
            buffer = std::uint64_t(planeCount_) * std::uint64_t(bandRows_) * planeRowBytes_;
        if (planeRowBytes_ == 0 || buffer + tileBytes_ > std::uint64_t(StorageLimit()))
            Refuse("decoding takes " + SizeText(std::int64_t(buffer + tileBytes_)) +
                   " at once, more than " + SizeText(StorageLimit()));
        raw_.resize(std::size_t(buffer));
        tile_.resize(tileBytes_);

        format_->width = std::int32_t(width);
        format_->height = std::int32_t(height);
        format_->format = RowFormat::Bgr24;
        format_->stride = StrideFor(width, 24);
    }

    void ReadPalette() {
        if (bits_ > 8) Refuse(std::to_string(bits_) + "-bit palette indexes are not read");
        std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif_, TIFFTAG_COLORMAP, &red, &green, &blue))
            Refuse("the palette is missing");
        const std::size_t entries = std::size_t(1) << bits_;
        // Some writers put 8-bit values in the 16-bit entries.
        bool eightBits = true;
        for (std::size_t i = 0; i < entries; ++i)
            if (red[i] > 255 || green[i] > 255 || blue[i] > 255) eightBits = false;
        const int bits = eightBits ? 8 : 16;
        for (std::size_t i = 0; i < entries; ++i)
            palette_.push_back(
                {To8Bits(red[i], bits), To8Bits(green[i], bits), To8Bits(blue[i], bits)});
    }

    void ReadMetadata() {
        std::uint32_t count = 0;
        void* data = nullptr;
        auto bytes = [&](std::size_t unit) {
            const auto* p = static_cast<const std::uint8_t*>(data);
            return std::vector<std::uint8_t>(p, p + std::size_t(count) * unit);
        };
        if (TIFFGetField(tif_, TIFFTAG_ICCPROFILE, &count, &data)) metadata_.icc = bytes(1);
        if (TIFFGetField(tif_, TIFFTAG_XMLPACKET, &count, &data)) {
            const std::vector<std::uint8_t> xmp = bytes(1);
            metadata_.xmp.assign(xmp.begin(), xmp.end());
        }
        if (TIFFGetField(tif_, TIFFTAG_RICHTIFFIPTC, &count, &data)) {
            std::vector<std::uint8_t> iptc = TIFFIsBigTIFF(tif_) ? bytes(1) : IptcOfFile();
            while (!iptc.empty() && iptc.back() == 0) iptc.pop_back();
            metadata_.photoshop = tiff_metadata::PhotoshopOfIptc(iptc);
        }
        if (TIFFIsBigTIFF(tif_)) {
            std::uint64_t exif = 0;
            if (TIFFGetField(tif_, TIFFTAG_EXIFIFD, &exif))
                dropped_.push_back("the EXIF tags of a BigTIFF file are left out");
            return;
        }
        const int fd = fd_;
        metadata_.exif = tiff_metadata::ExifBlockOfFile(
            [fd](std::uint64_t at, std::size_t size, std::uint8_t* out) {
                return at < (std::uint64_t(1) << 32) &&
                       ::pread(fd, out, size, off_t(at)) == ssize_t(size);
            },
            TIFFIsBigEndian(tif_), TIFFCurrentDirOffset(tif_), dropped_);
    }

    // The IPTC records as the file holds them. libtiff 4.5 takes the tag as
    // UNDEFINED and hands out `count` bytes even where the file declares
    // LONGs, as most writers do: a quarter of the block. So a classic
    // TIFF's entry is read here, its bytes being the records whatever type
    // it declares.
    std::vector<std::uint8_t> IptcOfFile() const {
        const bool big = TIFFIsBigEndian(tif_);
        auto number = [big](const std::uint8_t* p, int size) {
            std::uint32_t v = 0;
            for (int i = 0; i < size; ++i) v |= std::uint32_t(p[big ? i : size - 1 - i]) << (8 * (size - 1 - i));
            return v;
        };
        const std::uint64_t ifd = TIFFCurrentDirOffset(tif_);
        std::uint8_t head[2];
        if (::pread(fd_, head, 2, off_t(ifd)) != 2) return {};
        std::vector<std::uint8_t> table(std::size_t(number(head, 2)) * 12);
        if (::pread(fd_, table.data(), table.size(), off_t(ifd + 2)) != ssize_t(table.size()))
            return {};
        for (std::size_t i = 0; i < table.size(); i += 12) {
            const std::uint8_t* entry = table.data() + i;
            if (number(entry, 2) != TIFFTAG_RICHTIFFIPTC) continue;
            const std::uint64_t size = std::uint64_t(tiff::TypeSize(std::uint16_t(number(entry + 2, 2)))) *
                                       number(entry + 4, 4);
            if (size == 0 || size > fileSize_) return {};
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size), 0);
            if (size <= 4)
                std::memcpy(bytes.data(), entry + 8, std::size_t(size));
            else if (::pread(fd_, bytes.data(), bytes.size(), off_t(number(entry + 8, 4))) !=
                     ssize_t(size))
                return {};
            return bytes;
        }
        return {};
    }

    void FillBand(std::int32_t top) {
        bandTop_ = top;
        const std::int32_t rows = std::min(bandRows_, Height() - top);
        for (int p = 0; p < planeCount_; ++p) {
            std::uint8_t* plane =
                raw_.data() + std::size_t(p) * std::size_t(bandRows_) * planeRowBytes_;
            if (tileBytes_ == 0) {
                const tstrip_t strip = TIFFComputeStrip(tif_, std::uint32_t(top), std::uint16_t(p));
                if (TIFFReadEncodedStrip(tif_, strip, plane,
                                         tmsize_t(std::size_t(rows) * planeRowBytes_)) < 0) {
                    Damaged(top);
                    std::fill(plane, plane + std::size_t(rows) * planeRowBytes_, 0);
                }
                continue;
            }
            const std::uint32_t tileWidth = Field<std::uint32_t>(TIFFTAG_TILEWIDTH);
            const std::size_t tileRowBytes = std::size_t(TIFFTileRowSize64(tif_));
            const int pixelBits = bits_ * (contiguous_ ? samples_ : 1);
            for (std::uint32_t x = 0; x < std::uint32_t(Width()); x += tileWidth) {
                const ttile_t tile =
                    TIFFComputeTile(tif_, x, std::uint32_t(top), 0, std::uint16_t(p));
                if (TIFFReadEncodedTile(tif_, tile, tile_.data(), tmsize_t(tileBytes_)) < 0) {
                    Damaged(top);
                    std::fill(tile_.begin(), tile_.end(), 0);
                }
                const std::size_t offset = std::size_t(x) * std::size_t(pixelBits) / 8;
                const std::size_t length = std::min(tileRowBytes, planeRowBytes_ - offset);
                for (std::int32_t r = 0; r < rows; ++r)
                    std::memcpy(plane + std::size_t(r) * planeRowBytes_ + offset,
                                tile_.data() + std::size_t(r) * tileRowBytes, length);
            }
        }
    }

    void Damaged(std::int32_t row) {
        if (acceptDamaged_ && damagedRow_ >= 0) return;  // the first is told
        const std::string reason = messages_.Reason("the picture data cannot be decoded");
        if (!acceptDamaged_)
            throw BitmapError("TIFF: " + reason + " (row " + std::to_string(row + 1) + " of " +
                              std::to_string(Height()) + ")");
        if (damagedRow_ < 0) {
            damagedRow_ = row;
            damage_ = reason;
        }
    }

    void Convert(const std::array<const std::uint8_t*, 8>& planes, std::uint8_t* bgr,
                 std::uint8_t* alpha) const {
        const auto sample = [&](std::size_t x, int s) {
            return contiguous_ ? SampleAt(planes[0], x * samples_ + std::size_t(s), bits_)
                               : SampleAt(planes[std::size_t(s)], x, bits_);
        };
        for (std::size_t x = 0; x < std::size_t(Width()); ++x, bgr += 3) {
            std::uint8_t r, g, b;
            if (colour_ == Colour::Rgb) {
                r = To8Bits(sample(x, 0), bits_);
                g = To8Bits(sample(x, 1), bits_);
                b = To8Bits(sample(x, 2), bits_);
            } else if (colour_ == Colour::Grey) {
                r = g = b = std::uint8_t(To8Bits(sample(x, 0), bits_) ^ (minIsWhite_ ? 0xFF : 0));
            } else {
                const auto& entry = palette_[sample(x, 0)];
                r = entry[0], g = entry[1], b = entry[2];
            }
            if (alphaSample_ >= 0) {
                const std::uint8_t a = To8Bits(sample(x, alphaSample_), bits_);
                if (associated_) {
                    // Premultiplied colours come back to their own values.
                    const auto unmultiply = [a](std::uint8_t c) {
                        return a == 0 ? std::uint8_t(0)
                                      : std::uint8_t(std::min(255, (c * 255 + a / 2) / a));
                    };
                    r = unmultiply(r), g = unmultiply(g), b = unmultiply(b);
                }
                if (alpha) alpha[x] = a;
            }
            bgr[0] = b, bgr[1] = g, bgr[2] = r;
        }
        // The fill bytes after the pixels are zero, as the other readers leave them.
        std::fill(bgr, bgr + (format_->stride - 3 * std::int64_t(Width())), 0);
    }

    bool acceptDamaged_;
    int fd_ = -1;
    std::uint64_t fileSize_ = 0;
    tiff_library::Messages messages_;
    tiff_library::Handle handle_;  // closes fd_ too
    TIFF* tif_ = nullptr;
    Colour colour_ = Colour::Grey;
    bool minIsWhite_ = false, associated_ = false, contiguous_ = true;
    int bits_ = 8, samples_ = 1, planeCount_ = 1, alphaSample_ = -1;
    std::vector<std::array<std::uint8_t, 3>> palette_;
    std::size_t planeRowBytes_ = 0, tileBytes_ = 0;
    std::int32_t bandRows_ = 0, bandTop_ = -1;  // no bands: a scanline at a time
    std::vector<std::uint8_t> raw_, tile_;
    std::uint8_t* alphaPlane_ = nullptr;
    PictureMetadata metadata_;
    std::vector<std::string> dropped_, warnings_;
    std::int32_t damagedRow_ = -1;
    std::string damage_;
    tstrip_t failedStrip_ = tstrip_t(-1);
};

[[noreturn]] void TooLarge(std::int32_t width, std::int32_t height) {
    throw BitmapError("TIFF: a picture of " + std::to_string(width) + " x " +
                      std::to_string(height) + " is too large to hold");
}

}  // namespace

RowReaderOpening OpenTiffRowReader(const std::string& path, const TiffReading& reading,
                                   const RowLimits& limits) {
    auto reader = std::make_unique<TiffRowReader>(path, reading);
    if (!CanHoldRows(reader->Width(), reader->Height(), 24, limits.pictureBytes))
        TooLarge(reader->Width(), reader->Height());
    RowReaderOpening opening;
    if (reader->HasAlpha()) {
        opening.whyNot = "its alpha plane is handed on whole";
        return opening;
    }
    if (reader->Stride() > limits.rowBytes) {
        opening.whyNot = "its rows are longer than " + std::to_string(limits.rowBytes) + " bytes";
        return opening;
    }
    opening.metadata = reader->TakeMetadata();
    opening.metadataDropped = reader->TakeMetadataDropped();
    opening.reader = std::move(reader);
    return opening;
}

HeldPicture ReadTiffFile(const std::string& path, const TiffReading& reading) {
    TiffRowReader reader(path, reading);
    const std::int32_t width = reader.Width(), height = reader.Height();
    if (!CanHoldRows(width, height, 24) ||
        (reader.HasAlpha() && std::int64_t(width) * height > StorageLimit()))
        TooLarge(width, height);
    HeldPicture picture;
    picture.pixels = std::make_unique<TBitmap>();
    picture.pixels->AdoptImage(TBitmap::NewImage(width, height, RowFormat::Bgr24));
    if (reader.HasAlpha()) {
        picture.alpha.resize(std::size_t(width) * std::size_t(height));
        reader.KeepAlpha(picture.alpha.data());
    }
    // The picture is stored bottom-up: a row at a time.
    for (std::int32_t y = 0; y < height; ++y) reader.Read(picture.pixels->RowAddress(y), 1);
    reader.Finish();
    picture.metadata = reader.TakeMetadata();
    picture.warnings = reader.TakeMetadataDropped();
    for (std::string& warning : reader.Warnings()) picture.warnings.push_back(std::move(warning));
    return picture;
}

}  // namespace sigillon
