// JPEG files row by row: libjpeg reads the file through a small buffer of
// ours and gives its rows a band at a time; the encoder writes through
// another straight into the file being saved.
//
// The reader shows libjpeg the same bytes the whole-picture reader's memory
// source does, in pieces: the file, then, past its end, an end-of-image
// marker for every request, with the warning libjpeg's memory source gives.
// libjpeg decodes a stream of bytes the same however it is cut, so a
// truncated or damaged file gives the same rows both ways.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "pictures/raster/bitmap_image.h"
#include "pictures/jpeg/jpeg_codec.h"
#include "pictures/jpeg/jpeg_file_output.h"
#include "pictures/jpeg/jpeg_metadata.h"
// After jpeglib.h: the message codes and macros.
#include <jerror.h>

#include "pictures/jpeg/jpeg_rows.h"

namespace sigillon {
namespace {

using namespace jpeg_codec;

constexpr std::size_t kBufferBytes = std::size_t(64) << 10;

// The whole-picture reader reads no more of a file than this.
constexpr std::uint64_t kMaxJpegFileBytes = std::uint64_t(1) << 32;

// libjpeg's source manager on a file read with pread. Its callbacks run
// inside libjpeg and leave, on a read error, through the error manager's
// jump; they allocate nothing.
struct FileSource {
    jpeg_source_mgr pub;  // first, so that libjpeg's pointer to it is ours
    int fd = -1;
    std::uint64_t position = 0;
    std::uint64_t end = 0;
    std::uint8_t* buffer = nullptr;
    const char* failure = nullptr;  // "cannot read NAME", for messages

    static FileSource* Of(j_decompress_ptr c) { return reinterpret_cast<FileSource*>(c->src); }

    static void Init(j_decompress_ptr) {}
    static void Term(j_decompress_ptr) {}

    static boolean Fill(j_decompress_ptr c) {
        FileSource* self = Of(c);
        ssize_t got = 0;
        if (self->position < self->end) {
            std::size_t want = std::size_t(std::min<std::uint64_t>(kBufferBytes, self->end - self->position));
            do {
                got = ::pread(self->fd, self->buffer, want, off_t(self->position));
            } while (got < 0 && errno == EINTR);
            if (got < 0) {
                JpegErrors* errors = reinterpret_cast<JpegErrors*>(c->err);
                std::snprintf(errors->message, sizeof errors->message, "%s: %s", self->failure,
                              std::strerror(errno));
                std::longjmp(errors->jump, 1);
            }
        }
        if (got > 0) {
            self->position += std::uint64_t(got);
            self->pub.next_input_byte = self->buffer;
            self->pub.bytes_in_buffer = std::size_t(got);
            return TRUE;
        }
        // What libjpeg's memory source does at the end of its bytes.
        WARNMS(c, JWRN_JPEG_EOF);
        self->buffer[0] = 0xFF;
        self->buffer[1] = JPEG_EOI;
        self->pub.next_input_byte = self->buffer;
        self->pub.bytes_in_buffer = 2;
        return TRUE;
    }

    static void Skip(j_decompress_ptr c, long count) {
        if (count <= 0) return;
        FileSource* self = Of(c);
        std::uint64_t left = std::uint64_t(count);
        if (left > self->pub.bytes_in_buffer) {
            // Jump over the file's bytes without reading them; past its end
            // the steps are those of the memory source.
            left -= self->pub.bytes_in_buffer;
            self->pub.bytes_in_buffer = 0;
            std::uint64_t inFile = std::min(left, self->end - std::min(self->end, self->position));
            self->position += inFile;
            left -= inFile;
            while (left > self->pub.bytes_in_buffer) {
                left -= self->pub.bytes_in_buffer;
                Fill(c);
            }
        }
        self->pub.next_input_byte += left;
        self->pub.bytes_in_buffer -= std::size_t(left);
    }
};

bool ReadScanlines(Decompressor* d, JSAMPROW* rows, JDIMENSION count) {
    if (setjmp(d->errors.jump)) return false;
    for (JDIMENSION done = 0; done < count;) {
        JDIMENSION got = jpeg_read_scanlines(&d->cinfo, rows + done, count - done);
        if (got == 0) return false;
        done += got;
    }
    return true;
}

bool FinishDecoding(Decompressor* d) {
    if (setjmp(d->errors.jump)) return false;
    jpeg_finish_decompress(&d->cinfo);
    return true;
}

class JpegRowReader final : public PictureRowReader {
public:
    JpegRowReader(int fd, std::uint64_t size, const std::string& name)
        : failure_("cannot read " + name), buffer_(new std::uint8_t[kBufferBytes]) {
        std::memset(&source_.pub, 0, sizeof source_.pub);
        source_.pub.init_source = FileSource::Init;
        source_.pub.fill_input_buffer = FileSource::Fill;
        source_.pub.skip_input_data = FileSource::Skip;
        source_.pub.resync_to_restart = jpeg_resync_to_restart;
        source_.pub.term_source = FileSource::Term;
        source_.fd = fd;
        source_.end = std::min(size, kMaxJpegFileBytes);
        source_.buffer = buffer_.get();
        source_.failure = failure_.c_str();
    }
    ~JpegRowReader() override { ::close(source_.fd); }

    // The header and the start of decoding; false with whyNot set for a
    // file that must be read whole. Throws BitmapError.
    bool Start(const JpegDecodeSettings& settings, const RowLimits& limits,
               RowReaderOpening& opening, bool withMetadata, JpegDamage damage) {
        std::string& whyNot = opening.whyNot;
        if (!ReadHeaderFrom(&d_, &source_.pub, withMetadata)) Fail(d_.errors);
        // A file cut in its header keeps the refusal libjpeg gives it.
        if (damage == JpegDamage::Refuse && !StopAtDamage(d_.errors)) Fail(d_.errors);
        CheckComponents(d_.cinfo);
        if (withMetadata) {
            try {
                opening.metadata = CollectJpegMetadata(&d_.cinfo, &opening.metadataDropped);
            } catch (const std::bad_alloc&) {
                throw BitmapError("JPEG: out of memory for the metadata");
            }
        }
        const DecodeOptions options = DecodeOptionsFor(settings, d_.cinfo.num_components);
        if (options.quantize && options.twoPass) {
            whyNot = "colours quantised in two passes need the whole picture";
            return false;
        }
        if (!SetUpDecoding(&d_, &options)) Fail(d_.errors);
        const std::int64_t width = d_.cinfo.output_width;
        const std::int64_t height = d_.cinfo.output_height;
        if (width <= 0 || height <= 0 ||
            !CanHoldRows(width, height, options.bits, limits.pictureBytes))
            throw BitmapError("JPEG: picture of " + std::to_string(width) + " x " +
                              std::to_string(height) + " pixels is too large");
        if (StrideFor(width, options.bits) > limits.rowBytes) {
            whyNot = "its rows are longer than " + std::to_string(limits.rowBytes) + " bytes";
            return false;
        }
        if (!StartDecoding(&d_)) Fail(d_.errors);

        TBitmapImage& format = *format_;
        format.width = std::int32_t(width);
        format.height = std::int32_t(height);
        format.format = options.quantize ? RowFormat::Index8 : RowFormat::Bgr24;
        format.stride = StrideFor(width, options.bits);
        if (options.quantize) format.palette = DecodedPalette(d_.cinfo, options.gray);
        used_ = std::size_t(width) * std::size_t(options.bits / 8);
        return true;
    }

    void Finish() override {
        if (!FinishDecoding(&d_)) Fail(d_.errors);
    }

    std::vector<std::string> Warnings() const override { return WarningTexts(d_.errors); }

    bool Progressive() const { return d_.cinfo.progressive_mode; }

protected:
    void ReadRows(std::uint8_t* rows, std::int32_t count) override {
        pointers_.resize(std::size_t(count));
        const std::size_t stride = std::size_t(format_->stride);
        for (std::int32_t k = 0; k < count; ++k) pointers_[std::size_t(k)] = rows + std::size_t(k) * stride;
        if (!ReadScanlines(&d_, pointers_.data(), JDIMENSION(count))) Fail(d_.errors);
        for (JSAMPROW row : pointers_) std::memset(row + used_, 0, stride - used_);
    }

private:
    std::string failure_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    FileSource source_;
    Decompressor d_;  // after the source, which it reads from
    std::vector<JSAMPROW> pointers_;
    std::size_t used_ = 0;
};

struct EncodeStart {
    JDIMENSION width;
    JDIMENSION height;
    int quality;
    const JpegEncoding* encoding;     // or null: the quality's tables
    const PictureMetadata* metadata;  // or null
};

bool StartEncoding(FileCompressor* e, const EncodeStart* start) {
    if (setjmp(e->errors.jump)) return false;
    j_compress_ptr c = &e->cinfo;
    e->Create();
    ConfigureEncoder(c, start->width, start->height, start->quality, false, false);
    if (start->encoding) ApplyEncoding(c, *start->encoding);
    jpeg_start_compress(c, TRUE);
    if (start->metadata) WriteJpegMetadata(c, *start->metadata);
    return true;
}

bool WriteScanlines(FileCompressor* e, JSAMPROW* rows, JDIMENSION count) {
    if (setjmp(e->errors.jump)) return false;
    for (JDIMENSION done = 0; done < count;)
        done += jpeg_write_scanlines(&e->cinfo, rows + done, count - done);
    return true;
}

bool FinishEncoding(FileCompressor* e) {
    if (setjmp(e->errors.jump)) return false;
    jpeg_finish_compress(&e->cinfo);
    return true;
}

class JpegRowWriter final : public PictureRowWriter {
public:
    JpegRowWriter(const std::string& path, const TBitmapImage& format, int quality,
                  const JpegEncoding* encoding, const PictureMetadata& metadata,
                  SafeFileWriter::Temporary temporary)
        : file_(path, "JPEG: ", temporary), format_(CopyFormat(format)) {
        e_.file = &file_;
        // Other formats are encoded from the 24-bit rows converting the
        // whole picture would give.
        if (format_.format != RowFormat::Bgr24) converted_.resize(std::size_t(format_.width) * 3);
        EncodeStart start{JDIMENSION(format_.width), JDIMENSION(format_.height), quality, encoding,
                          metadata.Empty() ? nullptr : &metadata};
        if (!StartEncoding(&e_, &start)) Failed();
    }

    void Write(const std::uint8_t* rows, std::int32_t count) override {
        if (count < 0 || count > format_.height - next_)
            throw BitmapError("JPEG: more rows than the picture has");
        const std::size_t stride = std::size_t(format_.stride);
        if (converted_.empty()) {
            pointers_.resize(std::size_t(count));
            for (std::int32_t k = 0; k < count; ++k)
                pointers_[std::size_t(k)] = const_cast<JSAMPROW>(rows + std::size_t(k) * stride);
            if (!WriteScanlines(&e_, pointers_.data(), JDIMENSION(count))) Failed();
        } else {
            for (std::int32_t k = 0; k < count; ++k) {
                ConvertRowToDepth24(format_, rows + std::size_t(k) * stride, converted_.data());
                JSAMPROW pointer = converted_.data();
                if (!WriteScanlines(&e_, &pointer, 1)) Failed();
            }
        }
        next_ += count;
    }

    void Finish() override {
        if (next_ != format_.height) throw BitmapError("JPEG: the picture's rows did not all come");
        if (!FinishEncoding(&e_)) Failed();
        file_.Commit();
    }

private:
    [[noreturn]] void Failed() {
        if (e_.writeError) file_.ThrowWriteError(e_.writeError);
        Fail(e_.errors);
    }

    SafeFileWriter file_;
    TBitmapImage format_;
    FileCompressor e_;
    std::vector<std::uint8_t> converted_;
    std::vector<JSAMPROW> pointers_;
    std::int32_t next_ = 0;
};

}  // namespace

RowReaderOpening OpenJpegRowReader(int fd, const std::string& name,
                                   const JpegDecodeSettings& settings, const RowLimits& limits,
                                   bool withMetadata, JpegDamage damage) {
    RowReaderOpening opening;
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        int error = errno;
        ::close(fd);
        ThrowFileError("JPEG: ", error, "cannot read " + name);
    }
    if (info.st_size == 0) {
        ::close(fd);
        opening.whyNot = "an empty JPEG file has no data";
        return opening;
    }
    std::unique_ptr<JpegRowReader> reader;
    try {
        reader = std::make_unique<JpegRowReader>(fd, std::uint64_t(info.st_size), name);
    } catch (const std::bad_alloc&) {
        ::close(fd);
        throw BitmapError("JPEG: out of memory for the file");
    }
    if (reader->Start(settings, limits, opening, withMetadata, damage)) {
        if (reader->Progressive())
            opening.note = "progressive: libjpeg holds the whole picture's coefficients";
        opening.reader = std::move(reader);
    }
    return opening;
}

RowReaderOpening OpenJpegRowReader(const std::string& path, const JpegDecodeSettings& settings,
                                   const RowLimits& limits, bool withMetadata, JpegDamage damage) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, &size, "JPEG: ");
    return OpenJpegRowReader(fd, path, settings, limits, withMetadata, damage);
}

namespace {

void CheckEncodable(const TBitmapImage& format) {
    if (format.width <= 0 || format.height <= 0)
        throw BitmapError("JPEG: no picture to encode");
    if (format.width > kMaxJpegSide || format.height > kMaxJpegSide)
        throw BitmapError("JPEG: a side longer than " + std::to_string(kMaxJpegSide) +
                          " pixels cannot be encoded");
}

}  // namespace

std::unique_ptr<PictureRowWriter> CreateJpegRowWriter(const std::string& path,
                                                      const TBitmapImage& format, int quality,
                                                      const PictureMetadata& metadata,
                                                      SafeFileWriter::Temporary temporary) {
    if (quality < 1 || quality > 100)
        throw BitmapError("JPEG: quality " + std::to_string(quality) + " is outside 1 to 100");
    CheckEncodable(format);
    return std::make_unique<JpegRowWriter>(path, format, quality, nullptr, metadata, temporary);
}

std::unique_ptr<PictureRowWriter> CreateJpegRowWriter(const std::string& path,
                                                      const TBitmapImage& format,
                                                      const JpegEncoding& encoding,
                                                      const PictureMetadata& metadata,
                                                      SafeFileWriter::Temporary temporary) {
    if (encoding.components != 1 && encoding.components != 3)
        throw BitmapError("JPEG: only grey and colour files can be encoded again");
    CheckEncodable(format);
    return std::make_unique<JpegRowWriter>(path, format, kAnyJpegQuality, &encoding, metadata,
                                           temporary);
}

}  // namespace sigillon
