// Whole files in and out of memory, for the picture file routines.
//
// Saving never destroys the file it replaces: the bytes go to a temporary
// file beside the target, are flushed to the disk, and only then take the
// target's name. A save that fails at any point leaves the old file exactly
// as it was and no temporary file behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sigillon {

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

// Reads a regular file whole (at most limit bytes of it). Throws
// std::system_error when it cannot be opened or read, or is not a regular
// file, and std::bad_alloc.
ByteBlock ReadFileBytes(const std::string& path, std::uint64_t limit);

// Makes path hold exactly size bytes from data, atomically. An existing
// file keeps its permission bits (and its owner, where the process may set
// it); a symbolic link keeps pointing where it did and its final target is
// replaced. A file the user may not write is refused, as opening it for
// writing would be. Throws std::system_error on failure.
void SaveFileSafely(const std::string& path, const std::uint8_t* data, std::size_t size);

}  // namespace sigillon
