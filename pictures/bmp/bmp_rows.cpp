// BMP files row by row. Uncompressed rows sit at fixed places in the file,
// so each band of rows is read where it lies (bottom-up files from the end
// backwards) and written where it belongs, with one positioned read or
// write per band whatever the row order.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "pictures/raster/bitmap_image.h"
#include "pictures/bmp/bmp_layout.h"
#include "pictures/bmp/bmp_rows.h"

namespace sigillon {

namespace {

// Enough for every header; a file whose header claims more is left to the
// whole-picture reader.
constexpr std::uint64_t kMaxHeadBytes = std::uint64_t(1) << 20;

[[noreturn]] void ReadFailed(int error, const std::string& name) {
    ThrowFileError("BMP: ", error, "cannot read " + name);
}

// Reads pieces of the file one after the other from offset on; returns how
// many bytes there were (fewer at the file's end).
std::uint64_t ReadPieces(int fd, std::uint64_t offset, std::vector<iovec> pieces,
                         const std::string& name) {
    std::uint64_t total = 0;
    std::size_t first = 0;
    while (first < pieces.size()) {
        int batch = int(std::min<std::size_t>(pieces.size() - first, IOV_MAX));
        ssize_t got = ::preadv(fd, pieces.data() + first, batch, off_t(offset + total));
        if (got < 0) {
            if (errno == EINTR) continue;
            ReadFailed(errno, name);
        }
        if (got == 0) break;  // the file shrank while we read it
        total += std::uint64_t(got);
        for (std::size_t done = std::size_t(got); done > 0;) {
            if (done >= pieces[first].iov_len) {
                done -= pieces[first].iov_len;
                ++first;
            } else {
                pieces[first].iov_base = static_cast<char*>(pieces[first].iov_base) + done;
                pieces[first].iov_len -= done;
                done = 0;
            }
        }
        while (first < pieces.size() && pieces[first].iov_len == 0) ++first;
    }
    return total;
}

class BmpRowReader final : public PictureRowReader {
public:
    BmpRowReader(int fd, std::string name, BmpLayout layout)
        : fd_(fd), name_(std::move(name)) {
        *format_ = std::move(layout.format);
        pixelOffset_ = layout.pixelOffset;
        // The whole-picture reader takes no more than the storage holds.
        const std::uint64_t storage = std::uint64_t(format_->stride) * std::uint64_t(format_->height);
        held_ = std::min(layout.pixelBytes, storage);
    }
    ~BmpRowReader() override { ::close(fd_); }

protected:
    void ReadRows(std::uint8_t* rows, std::int32_t count) override {
        const TBitmapImage& format = *format_;
        const std::uint64_t stride = std::uint64_t(format.stride);
        const std::int32_t top = NextRow();
        // The band's rows lie together in the file, in storage order.
        const std::uint64_t firstStored =
            format.topDown ? std::uint64_t(top) : std::uint64_t(format.height - top - count);
        std::vector<iovec> pieces;
        pieces.reserve(std::size_t(count));
        for (std::int32_t k = 0; k < count; ++k) {
            const std::uint64_t stored = firstStored + std::uint64_t(k);
            const std::int32_t row = format.topDown ? top + k : format.height - 1 - std::int32_t(stored);
            std::uint8_t* at = rows + std::uint64_t(row - top) * stride;
            // Bytes past what the file holds are zero, as the whole-picture
            // reader leaves them.
            const std::uint64_t begin = stored * stride;
            const std::uint64_t real = begin >= held_ ? 0 : std::min(stride, held_ - begin);
            std::memset(at + real, 0, std::size_t(stride - real));
            if (real > 0) {
                pieces.push_back({at, std::size_t(real)});
            }
        }
        if (pieces.empty()) return;
        const std::uint64_t got = ReadPieces(fd_, pixelOffset_ + firstStored * stride, pieces, name_);
        // A file that shrank while it was read ends in zeros too.
        std::uint64_t skip = got;
        for (const iovec& piece : pieces) {
            const std::uint64_t length = piece.iov_len;
            if (skip >= length) {
                skip -= length;
                continue;
            }
            std::memset(static_cast<std::uint8_t*>(piece.iov_base) + skip, 0,
                        std::size_t(length - skip));
            skip = 0;
        }
    }

private:
    int fd_;
    std::string name_;
    std::uint64_t pixelOffset_ = 0;
    std::uint64_t held_ = 0;  // pixel bytes the file holds, within the storage
};

// Reads up to size bytes from the start of the file.
std::vector<std::uint8_t> ReadHead(int fd, std::uint64_t size, const std::string& name) {
    std::vector<std::uint8_t> head(static_cast<std::size_t>(size));
    std::uint64_t got = ReadPieces(fd, 0, {iovec{head.data(), head.size()}}, name);
    head.resize(std::size_t(got));
    return head;
}

class BmpRowWriter final : public PictureRowWriter {
public:
    BmpRowWriter(const std::string& path, const TBitmapImage& format, BmpFilePlan plan,
                 SafeFileWriter::Temporary temporary)
        : file_(path, "BMP: ", temporary), plan_(std::move(plan)), height_(format.height),
          stride_(plan_.rowBytes) {
        file_.Append(plan_.head.data(), plan_.head.size());
    }

    void Write(const std::uint8_t* rows, std::int32_t count) override {
        if (count < 0 || count > height_ - next_)
            throw BitmapError("BMP: more rows than the picture has");
        if (count == 0) return;
        // Bottom-up files take the band backwards: one write either way.
        const std::uint64_t firstStored =
            plan_.topDown ? std::uint64_t(next_) : std::uint64_t(height_ - next_ - count);
        std::vector<iovec> pieces(static_cast<std::size_t>(count));
        for (std::int32_t k = 0; k < count; ++k) {
            std::int32_t band = plan_.topDown ? k : count - 1 - k;
            pieces[std::size_t(k)] = {const_cast<std::uint8_t*>(rows + std::uint64_t(band) * stride_),
                                      std::size_t(plan_.rowBytes)};
        }
        file_.WriteAt(plan_.head.size() + firstStored * plan_.rowBytes, pieces.data(), count);
        next_ += count;
    }

    void Finish() override {
        if (next_ != height_) throw BitmapError("BMP: the picture's rows did not all come");
        file_.Commit();
    }

private:
    SafeFileWriter file_;
    BmpFilePlan plan_;
    std::int32_t height_;
    std::uint64_t stride_;
    std::int32_t next_ = 0;
};

}  // namespace

RowReaderOpening OpenBmpRowReader(int fd, const std::string& name, const RowLimits& limits) {
    struct Closer {
        int fd;
        ~Closer() {
            if (fd >= 0) ::close(fd);
        }
    } closer{fd};
    RowReaderOpening opening;
    struct stat info;
    if (::fstat(fd, &info) != 0) ReadFailed(errno, name);
    // (The whole-picture reader stops reading at 6 GiB; no row it can
    // hold lies beyond that, so the whole file is the same to it.)
    const std::uint64_t fileSize = std::uint64_t(info.st_size);
    if (fileSize == 0) {
        opening.whyNot = "an empty BMP file empties the picture";
        return opening;
    }
    std::vector<std::uint8_t> head;
    try {
        head = ReadHead(fd, std::min<std::uint64_t>(fileSize, 4096), name);
        std::uint64_t needed = BmpHeadBytesNeeded(head.data(), head.size());
        if (needed > head.size() && fileSize > head.size()) {
            if (needed > kMaxHeadBytes) {
                opening.whyNot = "its header is longer than " + std::to_string(kMaxHeadBytes) + " bytes";
                return opening;
            }
            head = ReadHead(fd, std::min(fileSize, needed), name);
        }
    } catch (const std::bad_alloc&) {
        throw BitmapError("BMP: out of memory for the file");
    }
    BmpLayout layout = ReadBmpLayout(head.data(), head.size(), fileSize, limits.pictureBytes);
    if (layout.rle) {
        opening.whyNot = "run-length-encoded rows are not at fixed places in the file";
        return opening;
    }
    if (layout.format.stride > limits.rowBytes) {
        opening.whyNot = "its rows are longer than " + std::to_string(limits.rowBytes) + " bytes";
        return opening;
    }
    opening.reader = std::make_unique<BmpRowReader>(fd, name, std::move(layout));
    closer.fd = -1;
    return opening;
}

RowReaderOpening OpenBmpRowReader(const std::string& path, const RowLimits& limits) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFile(path, &size, "BMP: ");
    return OpenBmpRowReader(fd, path, limits);
}

std::unique_ptr<PictureRowWriter> CreateBmpRowWriter(const std::string& path,
                                                     const TBitmapImage& format,
                                                     SafeFileWriter::Temporary temporary) {
    BmpFilePlan plan = PlanBmpFile(format);
    if (std::uint64_t(format.stride) != plan.rowBytes)
        throw BitmapError("BMP: rows of " + std::to_string(format.stride) +
                          " bytes are not the file's rows");
    return std::make_unique<BmpRowWriter>(path, format, std::move(plan), temporary);
}

}  // namespace sigillon
