#include "app/batch/text_helper.h"

#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
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

// The helper's status when it refuses its arguments.
constexpr int kRefused = 2;

// The helper, started for the first text and asked for every later one; it
// ends when its socket closes, with the renderer.
class Helper {
public:
    explicit Helper(std::string path) : path_(std::move(path)) {}
    ~Helper() { Stop(); }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    // The helper's answer to args: its status and the bytes it wrote;
    // false when it could not be asked (it would not start, or it ended).
    // An ended helper is started again for the next text.
    bool Ask(const std::vector<std::string>& args, int& status, std::vector<std::uint8_t>& bytes) {
        if (socket_ < 0 && !Start()) return false;
        std::string request = std::to_string(args.size()) + "\n";
        for (const std::string& arg : args) request.append(arg).push_back('\0');
        std::string line;
        std::size_t length = 0;
        char c = 0;
        bool asked = Send(request);
        while (asked && (asked = Receive(&c, 1)) && c != '\n' && line.size() < 40)
            line.push_back(c);
        asked = asked && std::sscanf(line.c_str(), "%d %zu", &status, &length) == 2 &&
                length <= kMostBytes;
        if (asked) {
            bytes.resize(length);
            asked = Receive(bytes.data(), length);
        }
        if (!asked) Stop();
        return asked;
    }

private:
    // More than nine sizes of the longest text at its largest could take.
    static constexpr std::size_t kMostBytes = std::size_t(256) << 20;

    bool Start() {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        char* argv[] = {path_.data(), nullptr};
        const int spawned = ::posix_spawn(&pid_, path_.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        if (spawned != 0) {
            ::close(ends[0]);
            pid_ = -1;
            return false;
        }
        socket_ = ends[0];
        return true;
    }

    void Stop() {
        if (socket_ >= 0) ::close(socket_);
        socket_ = -1;
        if (pid_ > 0)
            while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
            }
        pid_ = -1;
    }

    // MSG_NOSIGNAL: a helper that ended is a failure, not a SIGPIPE.
    bool Send(const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t sent =
                ::send(socket_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (sent < 0 && errno == EINTR) continue;
            if (sent <= 0) return false;
            at += std::size_t(sent);
        }
        return true;
    }

    bool Receive(void* into, std::size_t size) {
        auto* bytes = static_cast<std::uint8_t*>(into);
        for (std::size_t at = 0; at < size;) {
            const ssize_t got = ::recv(socket_, bytes + at, size - at, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            at += std::size_t(got);
        }
        return true;
    }

    std::string path_;
    pid_t pid_ = -1;
    int socket_ = -1;
};

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
    // the size; and the helper, asked by one thread at a time.
    using Key = std::pair<std::vector<std::string>, int>;
    struct Drawn {
        explicit Drawn(const std::string& path) : helper(path) {}
        std::mutex mutex;
        Helper helper;
        std::map<Key, StampImage> stamps;
    };
    auto drawn = std::make_shared<Drawn>(path);
    return [drawn](const BatchOptions& options) -> Expected<StampImage> {
        std::vector<std::string> args = StyleArguments(options.style);
        args.insert(args.end(), {options.text, std::to_string(options.colour)});
        auto key = [&](int size) { return Key{args, size}; };
        std::lock_guard lock(drawn->mutex);
        if (!drawn->stamps.contains(key(options.size))) {
            std::vector<int> sizes = {options.size};
            for (int size = 1; options.scale > 0 && size <= 9; ++size)
                if (size != options.size && !drawn->stamps.contains(key(size)))
                    sizes.push_back(size);
            std::vector<std::string> request = args;
            for (int size : sizes) request.push_back(std::to_string(size));
            int status = -1;
            std::vector<std::uint8_t> png;
            const bool asked = drawn->helper.Ask(request, status, png);
            if (asked && status == kRefused) return Failure{Failure::Side::Stamp, ""};
            const Failure failed{Failure::Side::Stamp, "the text stamp could not be rendered"};
            if (!asked || status != 0) return failed;
            std::size_t at = 0;
            for (int size : sizes) {
                const std::size_t length = PngFileLength(png.data() + at, png.size() - at);
                if (length == 0) return failed;
                try {
                    PngPicture read = ReadPngData(png.data() + at, length);
                    drawn->stamps[key(size)] = {std::move(read.pixels), std::move(read.alpha)};
                } catch (const std::exception&) {
                    return failed;
                }
                at += length;
            }
        }
        return drawn->stamps.at(key(options.size));
    };
}

}  // namespace sigillon::batch
