// Files in and out of the picture file routines: whole in memory, or
// written in pieces by SafeFileWriter.
//
// Saving never destroys the file it replaces: the bytes go to a temporary
// file in the target's folder, are flushed to the disk, and only then take
// the target's name. A save that fails at any point leaves the old file
// exactly as it was and no temporary file behind; so does a process killed
// while it writes, where the file system has files without a name
// (O_TMPFILE). Elsewhere the temporary file is a hidden one named after the
// target, ".NAME.sigillon-N", and the next save of that target removes what
// a killed one left.
//
// Every failure here is a BitmapError whose text is the prefix the caller
// gives, what was being done and the system's reason ("JPEG: cannot open
// a.jpg: No such file or directory"): a codec gives its format's prefix, so
// that a file it cannot read or write is refused in the words of its other
// refusals, and nobody has to catch and reword.
#pragma once

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "pictures/raster/bitmap_error.h"

namespace sigillon {

// Throws the BitmapError "<prefix><what>: <the system's text for error>".
[[noreturn]] void ThrowFileError(std::string_view prefix, int error, const std::string& what);

// Bytes in one block from malloc. It grows with realloc, which moves a
// large block by remapping its pages rather than copying them, and the
// pages of a block that were never written cost no memory; so a buffer can
// be made as large as its contents could ever need and cut to size at the
// end.
class ByteBlock {
public:
    ByteBlock() = default;
    // A copy of size bytes at data. Throws std::bad_alloc.
    ByteBlock(const std::uint8_t* data, std::size_t size);
    ByteBlock(ByteBlock&& other) noexcept;
    ByteBlock& operator=(ByteBlock&& other) noexcept;
    ByteBlock(const ByteBlock&) = delete;
    ByteBlock& operator=(const ByteBlock&) = delete;
    ~ByteBlock();

    std::uint8_t* data() { return data_; }
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    // Gives the block size bytes, keeping those that fit; the new ones are
    // not initialised. Shrinking always succeeds; growing returns false,
    // with the block unchanged, when memory ran out. Never throws, so that
    // C callbacks may use it.
    bool Resize(std::size_t size) noexcept;

private:
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

// Reads a regular file whole (at most limit bytes of it). Throws when it
// cannot be opened or read, is not a regular file, or does not fit in
// memory ("<prefix>out of memory for the file").
ByteBlock ReadFileBytes(const std::string& path, std::uint64_t limit, std::string_view prefix);

// Opens a regular file for reading, as ReadFileBytes does and with its
// errors; the descriptor is the caller's to close. Sets *size to the file's
// size.
int OpenRegularFile(const std::string& path, std::uint64_t* size, std::string_view prefix);

// A new file for path, written in any order and in as many pieces as the
// writer likes, that replaces path atomically on Commit and vanishes
// without it. It keeps the promises of SaveFileSafely below.
class SafeFileWriter {
public:
    enum class Temporary {
        Unnamed,  // a file without a name where the folder's file system has them, else Named
        Named,    // always the hidden ".NAME.sigillon-N" beside the target
    };

    // Checks the target as SaveFileSafely does and creates the temporary
    // file; removes temporary files a killed writer left for this target.
    // This and every later failure of the writer throw with prefix.
    SafeFileWriter(const std::string& path, std::string_view prefix,
                   Temporary temporary = Temporary::Unnamed);
    // Without Commit the temporary file is removed and the target is as it was.
    ~SafeFileWriter();
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // Writes after the bytes appended so far.
    void Append(const std::uint8_t* data, std::size_t size);
    // The same for C callbacks: 0, or the errno of the failure, which
    // ThrowWriteError throws as Append would have once the callback's
    // caller is back in C++.
    int TryAppend(const std::uint8_t* data, std::size_t size) noexcept;
    [[noreturn]] void ThrowWriteError(int error) const;
    // Writes the pieces one after the other from offset on (the appending
    // position does not move).
    void WriteAt(std::uint64_t offset, const iovec* pieces, int count);

    // Flushes the file to the disk, gives it the target's name and flushes
    // the folder. A failure leaves the target as it was.
    void Commit();

    bool IsUnnamed() const { return temporaryName_.empty(); }

private:
    static constexpr std::size_t kFlushStep = std::size_t(1) << 20;

    void CreateNamed();
    void Discard() noexcept;
    void Written(std::size_t bytes) noexcept;
    [[noreturn]] void Throw(int error, const std::string& what) const;

    std::string prefix_;
    std::string target_;
    bool targetExists_ = false;
    std::string temporaryName_;  // empty while the file has no name
    int fd_ = -1;
    bool committed_ = false;
    std::size_t unflushed_ = 0;  // bytes written since the disk was last set to work
};

// Makes path hold exactly size bytes from data, atomically. An existing
// file keeps its permission bits (and its owner, where the process may set
// it); a symbolic link keeps pointing where it did and its final target is
// replaced. A file the user may not write is refused, as opening it for
// writing would be. Failures throw with prefix.
void SaveFileSafely(const std::string& path, const std::uint8_t* data, std::size_t size,
                    std::string_view prefix);

}  // namespace sigillon
