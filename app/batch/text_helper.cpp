#include "app/batch/text_helper.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "pictures/png/png_file.h"

#ifndef SIGILLON_LIBEXECDIR
#define SIGILLON_LIBEXECDIR "libexec"
#endif

extern char** environ;

namespace sigillon::batch {
namespace {

constexpr const char* kHelperName = "sigillon-batch-text";

// The folder this program was started from, with its final '/'.
std::string OwnFolder() {
    std::vector<char> path(4096);
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return {};
    std::string self(path.data(), std::size_t(length));
    return self.substr(0, self.rfind('/') + 1);
}

// Runs the helper with its standard output into a pipe; everything it
// wrote, or nothing when it failed.
std::vector<std::uint8_t> RunHelper(const std::string& path, std::vector<std::string> args) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, path.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[1]);
    std::vector<std::uint8_t> bytes;
    if (spawned == 0) {
        std::uint8_t buffer[65536];
        for (ssize_t got; (got = ::read(pipe[0], buffer, sizeof buffer)) != 0;) {
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) break;
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
    }
    ::close(pipe[0]);
    if (spawned != 0) return {};
    int status = 0;
    while (::waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return {};
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
    return bytes;
}

// The length of the PNG file at the start of bytes: up to the end of its
// IEND chunk, walking the chunks; 0 when the bytes end before it. The PNG
// reader checks everything else.
std::size_t PngFileLength(const std::uint8_t* bytes, std::size_t size) {
    std::size_t at = 8;  // the signature
    while (at + 12 <= size) {
        const std::size_t length = std::size_t(bytes[at]) << 24 | std::size_t(bytes[at + 1]) << 16 |
                                   std::size_t(bytes[at + 2]) << 8 | bytes[at + 3];
        if (length > size - at - 12) return 0;
        at += 12 + length;  // length, type, data, CRC
        if (std::memcmp(bytes + at - length - 8, "IEND", 4) == 0) return at;
    }
    return 0;
}

}  // namespace

std::string FindTextHelper(std::string& problem) {
    const std::string folder = OwnFolder();
    for (const std::string& path :
         {folder + kHelperName, folder + "../" SIGILLON_LIBEXECDIR "/sigillon/" + kHelperName})
        if (::access(path.c_str(), X_OK) == 0) return path;
    problem = std::string("no ") + kHelperName + " beside the program or in its libexec folder";
    return {};
}

TextRenderer HelperTextRenderer(const std::string& path) {
    // The stamps drawn so far, by text, colour and size.
    using Key = std::tuple<std::string, int, int>;
    auto drawn = std::make_shared<std::map<Key, std::shared_ptr<const TBitmap>>>();
    return [path, drawn](const BatchOptions& options) -> std::unique_ptr<TBitmap> {
        auto key = [&](int size) { return Key{options.text, options.colour, size}; };
        if (!drawn->contains(key(options.size))) {
            std::vector<int> sizes = {options.size};
            for (int size = 1; options.scale > 0 && size <= 9; ++size)
                if (size != options.size && !drawn->contains(key(size))) sizes.push_back(size);
            std::vector<std::string> args = {path, options.text, std::to_string(options.colour)};
            for (int size : sizes) args.push_back(std::to_string(size));
            const std::vector<std::uint8_t> png = RunHelper(path, std::move(args));
            std::size_t at = 0;
            for (int size : sizes) {
                const std::size_t length = PngFileLength(png.data() + at, png.size() - at);
                if (length == 0) return nullptr;
                (*drawn)[key(size)] = ReadPngData(png.data() + at, length).pixels;
                at += length;
            }
        }
        auto stamp = std::make_unique<TBitmap>();
        stamp->ShareImage(*drawn->at(key(options.size)));
        return stamp;
    };
}

}  // namespace sigillon::batch
