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
#include <vector>

namespace sigillon {

// Reads a regular file whole (at most limit bytes of it). Throws
// std::system_error when it cannot be opened or read, or is not a regular
// file.
std::vector<std::uint8_t> ReadFileBytes(const std::string& path, std::uint64_t limit);

// Makes path hold exactly size bytes from data, atomically. An existing
// file keeps its permission bits (and its owner, where the process may set
// it); a symbolic link keeps pointing where it did and its final target is
// replaced. A file the user may not write is refused, as opening it for
// writing would be. Throws std::system_error on failure.
void SaveFileSafely(const std::string& path, const std::uint8_t* data, std::size_t size);

}  // namespace sigillon
