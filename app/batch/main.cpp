// sigillon-batch: see batch.h and the usage text.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "app/batch/batch.h"
#include "pictures/bmp.h"

extern char** environ;

namespace {

// The folder this program was started from, with its final '/'.
std::string OwnFolder() {
    std::vector<char> path(4096);
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return {};
    std::string self(path.data(), std::size_t(length));
    return self.substr(0, self.rfind('/') + 1);
}

// The helper that draws text stamps: beside this program in the build,
// in libexec once installed.
std::string TextHelper() {
    const std::string folder = OwnFolder();
    for (const std::string& candidate :
         {folder + "sigillon-batch-text", folder + "../libexec/sigillon-batch-text"})
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    return {};
}

// The text stamp as the desktop program draws it, from the helper, which
// writes it as a BMP file.
std::unique_ptr<sigillon::TBitmap> RenderText(const sigillon::batch::BatchOptions& options) {
    const std::string helper = TextHelper();
    if (helper.empty()) return nullptr;
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) return nullptr;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe[1], STDOUT_FILENO);
    std::string colour = std::to_string(options.colour), size = std::to_string(options.size);
    std::string text = options.text;
    std::string program = helper;
    char* argv[] = {program.data(), text.data(), colour.data(), size.data(), nullptr};
    pid_t child = -1;
    int spawned = posix_spawn(&child, helper.c_str(), &actions, nullptr, argv, environ);
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
    int status = 0;
    if (spawned != 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0 || bytes.empty())
        return nullptr;
    auto stamp = std::make_unique<sigillon::TBitmap>();
    sigillon::ReadBmpData(*stamp, bytes.data(), bytes.size());
    return stamp;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sigillon::batch;
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = ParseArguments(args);
    switch (parsed.status) {
        case ParseStatus::Help:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case ParseStatus::UsageError:
            std::fprintf(stderr, "sigillon-batch: %s\n%s", parsed.message.c_str(),
                         UsageText().c_str());
            return 2;
        case ParseStatus::Run:
            break;
    }
    // No display here: JPEG pictures decode to true colour, as on a deep one.
    sigillon::SetDisplayBitsPerPixel(32);
    return RunBatch(parsed.options, RenderText);
}
