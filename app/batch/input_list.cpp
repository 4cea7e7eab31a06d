#include "app/batch/input_list.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sigillon::batch {

InputList SplitInputList(std::string_view bytes, bool nulSeparated) {
    InputList list;
    const char separator = nulSeparated ? '\0' : '\n';
    std::size_t line = 0;
    for (std::size_t start = 0; start < bytes.size();) {
        std::size_t end = bytes.find(separator, start);
        if (end == std::string_view::npos) end = bytes.size();
        std::string_view entry = bytes.substr(start, end - start);
        start = end + 1;
        ++line;
        if (!nulSeparated) {
            if (!entry.empty() && entry.back() == '\r') entry.remove_suffix(1);
            if (entry.find('\0') != std::string_view::npos) {
                list.paths.clear();
                list.problem = "line " + std::to_string(line) +
                               " holds a NUL byte (-0 reads a NUL-separated list)";
                return list;
            }
        }
        if (!entry.empty()) list.paths.emplace_back(entry);
    }
    return list;
}

InputList ReadInputList(const std::string& path, bool nulSeparated) {
    const bool standardInput = path == "-";
    const std::string shown = standardInput ? std::string("on standard input") : path;
    auto failed = [&](int error) {
        InputList list;
        list.problem = "cannot read the list " + shown + ": " + std::strerror(error);
        return list;
    };

    int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return failed(errno);
    std::string bytes;
    char buffer[65536];
    int error = 0;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, std::size_t(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    if (!standardInput) ::close(fd);
    if (error) return failed(error);

    InputList list = SplitInputList(bytes, nulSeparated);
    if (!list.problem.empty()) list.problem = "the list " + shown + ": " + list.problem;
    return list;
}

std::uint64_t PathHash(std::string_view path) {
    std::uint64_t hash = 0xcbf29ce484222325ull;  // the 64-bit offset basis
    for (char c : path) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;  // the 64-bit FNV prime
    }
    return hash;
}

}  // namespace sigillon::batch
