// What the fuzz targets ask of the row readers: given the same bytes as the
// whole-picture reader, they read the same rows or refuse with the same
// reason, at limits as low as the targets set for the whole-picture reader.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "pictures/bmp/bmp_rows.h"
#include "pictures/jpeg/jpeg_rows.h"
#include "pictures/raster/bitmap_image.h"

namespace sigillon::fuzzing {

inline constexpr std::int64_t kStorageLimit = 16 << 20;
inline constexpr RowLimits kRowLimits{1 << 20, kStorageLimit};

// The bytes as a file of their own, for the readers that read by offset.
inline int MemoryFile(const std::uint8_t* data, std::size_t size) {
    int fd = ::memfd_create("fuzz", MFD_CLOEXEC);
    if (fd < 0) __builtin_trap();
    for (std::size_t done = 0; done < size;) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) __builtin_trap();
        done += std::size_t(n);
    }
    return fd;
}

// The bytes as a file with a name, for the readers that open a path;
// closed when it goes.
class NamedMemoryFile {
public:
    NamedMemoryFile(const std::uint8_t* data, std::size_t size)
        : fd_(MemoryFile(data, size)), path_("/proc/self/fd/" + std::to_string(fd_)) {}
    ~NamedMemoryFile() { ::close(fd_); }
    NamedMemoryFile(const NamedMemoryFile&) = delete;
    NamedMemoryFile& operator=(const NamedMemoryFile&) = delete;
    const std::string& Path() const { return path_; }

private:
    int fd_;
    std::string path_;
};

// Reads every row in bands of 7 and, when compare is set, checks them
// against the picture the whole-picture reader gave, or its refusal (whole
// is null then). A reader that refuses damage (refusesMore) may refuse
// what the whole-picture reader reads, but gives no other rows before.
inline void ExpectSameRows(const std::function<RowReaderOpening()>& open, const TBitmap* whole,
                           const std::string& refusal, bool compare = true,
                           bool refusesMore = false) {
    if (!compare) whole = nullptr;
    RowReaderOpening opening;
    try {
        opening = open();
        if (!opening.reader) return;  // for the whole-picture reader
        PictureRowReader& reader = *opening.reader;
        const TBitmapImage& format = reader.Format();
        if (whole &&
            (reader.Width() != whole->Width() || reader.Height() != whole->Height() ||
             format.format != whole->Image().format || format.masks != whole->Image().masks ||
             format.topDown != whole->IsTopDown() || reader.Stride() != whole->Stride() ||
             format.palette != whole->Palette()))
            __builtin_trap();
        const std::size_t stride = std::size_t(reader.Stride());
        std::vector<std::uint8_t> band(stride * 7);
        while (reader.NextRow() < reader.Height()) {
            const std::int32_t first = reader.NextRow();
            const std::int32_t count = std::min(7, reader.Height() - first);
            reader.Read(band.data(), count);
            for (std::int32_t k = 0; whole && k < count; ++k)
                if (std::memcmp(band.data() + std::size_t(k) * stride, whole->RowAddress(first + k),
                                stride) != 0)
                    __builtin_trap();
        }
        reader.Finish();
    } catch (const BitmapError& error) {
        if (compare && !refusesMore && (whole || error.what() != refusal)) __builtin_trap();
        return;
    }
    if (compare && !whole) __builtin_trap();  // read what the whole-picture reader refused
}

}  // namespace sigillon::fuzzing
