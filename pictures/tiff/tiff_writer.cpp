// TIFF files written a row at a time: libtiff compresses each strip as its
// rows come and writes through SafeFileWriter, so that nothing replaces the
// target before Finish. The EXIF and GPS IFDs are written first, straight
// after the header, where their offsets are known before the IFD0 that
// points to them.
#include <algorithm>
#include <exception>

#include "pictures/files/safe_save.h"
#include "pictures/metadata/tiff_structure.h"
#include "pictures/raster/bitmap_image.h"
#include "pictures/tiff/tiff_file.h"
#include "pictures/tiff/tiff_library.h"
#include "pictures/tiff/tiff_metadata.h"

namespace sigillon {
namespace {

// Rows are compressed in strips of about this many bytes.
constexpr std::size_t kStripBytes = std::size_t(256) << 10;

class TiffRowWriter final : public PictureRowWriter {
public:
    TiffRowWriter(const std::string& path, const TBitmapImage& format,
                  std::span<const std::uint8_t> alpha, const PictureMetadata& metadata,
                  std::vector<std::string>& warnings)
        : file_(path, "TIFF: "), format_(CopyFormat(format)), alpha_(alpha) {
        const std::size_t width = std::size_t(format.width);
        if (format.width <= 0 || format.height <= 0 || format.width > kMaxTiffSide ||
            format.height > kMaxTiffSide)
            throw BitmapError("TIFF: a picture of " + std::to_string(format.width) + " x " +
                              std::to_string(format.height) + " cannot be written");
        if (!alpha.empty() && alpha.size() != width * std::size_t(format.height))
            throw BitmapError("TIFF: the alpha plane is not the picture's size");
        const std::uint16_t samples = alpha.empty() ? 3 : 4;
        // The file takes the EXIF block's byte order, so its IFDs are copied
        // as they are.
        const std::optional<tiff::Order> exifOrder = tiff::HeaderOrder(metadata.exif);
        const bool big = exifOrder && exifOrder->big;
        {
            tiff_library::Options options(messages_, std::int64_t(1) << 30);
            handle_.reset(TIFFClientOpenExt(path.c_str(), big ? "wb" : "wl", this, ReadProc,
                                            WriteProc, SeekProc, CloseProc, SizeProc, nullptr,
                                            nullptr, options.get()));
        }
        tif_ = handle_.get();
        if (!tif_) Fail("cannot start the file");
        TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, std::uint32_t(format.width));
        TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, std::uint32_t(format.height));
        TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, samples);
        TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tif_, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        TIFFSetField(tif_, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        if (!alpha.empty()) {
            const std::uint16_t kind = EXTRASAMPLE_UNASSALPHA;
            TIFFSetField(tif_, TIFFTAG_EXTRASAMPLES, 1, &kind);
        }
        row_.resize(width * samples);
        bgr_.resize(width * 3);
        TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP,
                     std::uint32_t(std::clamp<std::size_t>(kStripBytes / row_.size(), 1,
                                                           std::size_t(format.height))));
        WriteMetadata(metadata, exifOrder, warnings);
    }

    void Write(const std::uint8_t* rows, std::int32_t count) override {
        if (count < 0 || count > format_.height - next_)
            throw BitmapError("TIFF: more rows than the picture has");
        const std::size_t width = std::size_t(format_.width);
        const std::size_t samples = alpha_.empty() ? 3 : 4;
        for (std::int32_t k = 0; k < count; ++k, ++next_) {
            const std::uint8_t* row = rows + std::size_t(k) * std::size_t(format_.stride);
            if (format_.format != RowFormat::Bgr24) {
                ConvertRowToDepth24(format_, row, bgr_.data());
                row = bgr_.data();
            }
            const std::uint8_t* alpha =
                alpha_.empty() ? nullptr : &alpha_[std::size_t(next_) * width];
            for (std::size_t x = 0; x < width; ++x) {
                std::uint8_t* out = &row_[x * samples];
                out[0] = row[3 * x + 2], out[1] = row[3 * x + 1], out[2] = row[3 * x];
                if (alpha) out[3] = alpha[x];
            }
            if (TIFFWriteScanline(tif_, row_.data(), std::uint32_t(next_), 0) < 0)
                Fail("cannot write row " + std::to_string(next_ + 1));
        }
    }

    void Finish() override {
        if (next_ != format_.height) throw BitmapError("TIFF: the picture's rows did not all come");
        if (!TIFFFlush(tif_)) Fail("cannot complete the file");
        TIFFClose(handle_.release());
        if (failure_) std::rethrow_exception(failure_);
        file_.Commit();
    }

private:
    [[noreturn]] void Fail(const std::string& doing) {
        if (failure_) std::rethrow_exception(failure_);  // the file's own reason
        throw BitmapError("TIFF: " + messages_.Reason(doing));
    }

    void WriteMetadata(const PictureMetadata& metadata, const std::optional<tiff::Order>& order,
                       std::vector<std::string>& warnings) {
        if (!metadata.icc.empty())
            TIFFSetField(tif_, TIFFTAG_ICCPROFILE, std::uint32_t(metadata.icc.size()),
                         metadata.icc.data());
        if (!metadata.xmp.empty())
            TIFFSetField(tif_, TIFFTAG_XMLPACKET, std::uint32_t(metadata.xmp.size()),
                         metadata.xmp.data());
        if (!metadata.extendedXmp.empty())
            warnings.push_back("extended XMP is left out of TIFF files");
        bool others = false;
        std::vector<std::uint8_t> iptc =
            tiff_metadata::IptcOfPhotoshop(metadata.photoshop, &others);
        if (others)
            warnings.push_back("Photoshop resources other than IPTC are left out of TIFF files");
        if (!iptc.empty()) {
            // libtiff counts the block in the units it holds the tag in:
            // bytes (libtiff 4.5), or LONGs it writes in the file's order.
            const TIFFField* field = TIFFFieldWithTag(tif_, TIFFTAG_RICHTIFFIPTC);
            std::uint32_t count = std::uint32_t(iptc.size());
            if (field && TIFFFieldSetGetSize(field) == 4) {
                iptc.resize((iptc.size() + 3) / 4 * 4, 0);
                count = std::uint32_t(iptc.size() / 4);
                if (TIFFIsByteSwapped(tif_))
                    TIFFSwabArrayOfLong(reinterpret_cast<std::uint32_t*>(iptc.data()), tmsize_t(count));
            }
            TIFFSetField(tif_, TIFFTAG_RICHTIFFIPTC, count, iptc.data());
        }
        if (metadata.exif.empty()) return;
        const tiff::Bytes& block = metadata.exif;
        std::optional<tiff::Ifd> ifd0;
        if (order) ifd0 = tiff::ReadIfd(block, *order, *order->U32(block, 4), 0);
        if (!ifd0) {
            warnings.push_back("the EXIF block is left out: its IFD0 cannot be read");
            return;
        }
        for (const tiff::Entry& entry : ifd0->entries) {
            if (!std::count(std::begin(tiff_metadata::kDescriptiveTags),
                            std::end(tiff_metadata::kDescriptiveTags), entry.tag))
                continue;
            if (entry.tag == TIFFTAG_ORIENTATION) {
                const std::optional<std::uint32_t> value = ifd0->Number(block, *order, entry.tag);
                if (value && *value >= 1 && *value <= 8)
                    TIFFSetField(tif_, TIFFTAG_ORIENTATION, *value);
            } else if (entry.type == tiff::kAscii && entry.valueInBlock) {
                const auto begin = block.begin() + std::ptrdiff_t(entry.valueAt);
                const std::string text(
                    begin, std::find(begin, begin + std::ptrdiff_t(entry.valueSize), 0));
                TIFFSetField(tif_, entry.tag, text.c_str());
            }
        }
        // The sub-IFDs go after the header libtiff has written.
        const tiff_metadata::ReadAt read = [&block](std::uint64_t at, std::size_t size,
                                                    std::uint8_t* out) {
            if (at > block.size() || block.size() - at < size) return false;
            std::copy_n(block.begin() + std::ptrdiff_t(at), size, out);
            return true;
        };
        tiff_metadata::Bytes ifds;
        const std::uint64_t base = size_;
        for (const std::uint16_t tag : {tiff_metadata::kExifIfdTag, tiff_metadata::kGpsIfdTag}) {
            const std::optional<std::uint32_t> at = ifd0->Number(block, *order, tag);
            if (!at) continue;
            const std::optional<std::size_t> start = tiff_metadata::AppendIfd(
                read, order->big, *at, base, ifds, [](std::uint16_t) { return true; }, warnings);
            if (start) TIFFSetField(tif_, tag, std::uint64_t(base + *start));
            if (ifds.size() % 2) ifds.push_back(0);
        }
        if (ifds.empty()) return;
        if (WriteProc(this, ifds.data(), tmsize_t(ifds.size())) < 0)
            Fail("cannot write the EXIF tags");
    }

    static TiffRowWriter* Of(thandle_t handle) { return static_cast<TiffRowWriter*>(handle); }

    // libtiff's file procedures; they run inside libtiff, so a failure is
    // kept to be thrown once libtiff has returned.
    static tmsize_t ReadProc(thandle_t, void*, tmsize_t) { return -1; }

    static tmsize_t WriteProc(thandle_t handle, void* data, tmsize_t size) {
        TiffRowWriter* self = Of(handle);
        try {
            const iovec piece{data, std::size_t(size)};
            self->file_.WriteAt(self->position_, &piece, 1);
        } catch (...) {
            if (!self->failure_) self->failure_ = std::current_exception();
            return -1;
        }
        self->position_ += std::uint64_t(size);
        self->size_ = std::max(self->size_, self->position_);
        return size;
    }

    static toff_t SeekProc(thandle_t handle, toff_t offset, int whence) {
        TiffRowWriter* self = Of(handle);
        const std::uint64_t from = whence == SEEK_CUR   ? self->position_
                                   : whence == SEEK_END ? self->size_
                                                        : 0;
        self->position_ = from + offset;
        return self->position_;
    }

    static int CloseProc(thandle_t) { return 0; }
    static toff_t SizeProc(thandle_t handle) { return Of(handle)->size_; }

    SafeFileWriter file_;
    TBitmapImage format_;
    std::span<const std::uint8_t> alpha_;
    tiff_library::Messages messages_;
    // Without Finish the file is dropped: nothing more is written to it.
    struct Cleanup {
        void operator()(TIFF* tif) const { TIFFCleanup(tif); }
    };
    std::unique_ptr<TIFF, Cleanup> handle_;
    TIFF* tif_ = nullptr;
    std::exception_ptr failure_;
    std::uint64_t position_ = 0, size_ = 0;
    std::vector<std::uint8_t> row_, bgr_;
    std::int32_t next_ = 0;
};

}  // namespace

std::unique_ptr<PictureRowWriter> CreateTiffRowWriter(const std::string& path,
                                                      const TBitmapImage& format,
                                                      std::span<const std::uint8_t> alpha,
                                                      const PictureMetadata& metadata,
                                                      std::vector<std::string>& warnings) {
    return std::make_unique<TiffRowWriter>(path, format, alpha, metadata, warnings);
}

}  // namespace sigillon
