#include "app/batch/text_helper.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <utility>
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

// The helper's exit status when it refuses its arguments.
constexpr int kRefused = 2;

// Runs the helper with its standard output into a pipe; everything it
// wrote, or nothing when it failed, with its exit status in status (-1
// when it could not run or was killed).
std::vector<std::uint8_t> RunHelper(const std::string& path, std::vector<std::string> args,
                                    int& exitStatus) {
    exitStatus = -1;
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
    if (!WIFEXITED(status)) return {};
    exitStatus = WEXITSTATUS(status);
    if (exitStatus != 0) return {};
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

// The helper's arguments for a style, each value as the helper reads it.
std::vector<std::string> StyleArguments(const TextStyle& style) {
    std::vector<std::string> args;
    if (!style.font.empty()) args.insert(args.end(), {"--font", style.font});
    if (style.colour) args.insert(args.end(), {"--color", ColourText(*style.colour)});
    if (style.outline > 0) args.insert(args.end(), {"--outline", std::to_string(style.outline)});
    if (style.outlineColour)
        args.insert(args.end(), {"--outline-color", ColourText(*style.outlineColour)});
    if (style.shadow)
        args.insert(args.end(), {"--shadow", std::to_string(style.shadowDx) + "," +
                                                 std::to_string(style.shadowDy)});
    if (style.shadowColour)
        args.insert(args.end(), {"--shadow-color", ColourText(*style.shadowColour)});
    if (style.shadowBlur > 0)
        args.insert(args.end(), {"--shadow-blur", std::to_string(style.shadowBlur)});
    args.push_back("--");
    return args;
}

TextRenderer HelperTextRenderer(const std::string& path) {
    // The stamps drawn so far, by the helper's arguments but the sizes, and
    // the size.
    using Key = std::pair<std::vector<std::string>, int>;
    auto drawn = std::make_shared<std::map<Key, StampImage>>();
    return [path, drawn](const BatchOptions& options) -> Expected<StampImage> {
        std::vector<std::string> args = StyleArguments(options.style);
        args.insert(args.begin(), path);
        args.insert(args.end(), {options.text, std::to_string(options.colour)});
        auto key = [&](int size) { return Key{args, size}; };
        if (!drawn->contains(key(options.size))) {
            std::vector<int> sizes = {options.size};
            for (int size = 1; options.scale > 0 && size <= 9; ++size)
                if (size != options.size && !drawn->contains(key(size))) sizes.push_back(size);
            std::vector<std::string> run = args;
            for (int size : sizes) run.push_back(std::to_string(size));
            int status = -1;
            const std::vector<std::uint8_t> png = RunHelper(path, std::move(run), status);
            if (status == kRefused) return Failure{Failure::Side::Stamp, ""};
            const Failure failed{Failure::Side::Stamp, "the text stamp could not be rendered"};
            std::size_t at = 0;
            for (int size : sizes) {
                const std::size_t length = PngFileLength(png.data() + at, png.size() - at);
                if (length == 0) return failed;
                try {
                    PngPicture read = ReadPngData(png.data() + at, length);
                    (*drawn)[key(size)] = {std::move(read.pixels), std::move(read.alpha)};
                } catch (const std::exception&) {
                    return failed;
                }
                at += length;
            }
        }
        return drawn->at(key(options.size));
    };
}

}  // namespace sigillon::batch
