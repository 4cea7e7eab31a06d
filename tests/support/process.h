// A program run as a user runs it: in a child process, with the given
// standard input, its standard output and error captured whole.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace sigillon::testing {

struct ProcessRun {
    int status = -1;  // exit status, -1 when the program did not exit normally
    std::string out;
    std::string err;

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    std::vector<std::string> OutLines() const { return Lines(out); }
    std::vector<std::string> ErrLines() const { return Lines(err); }
};

inline std::string ReadWholeFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// argv[0] is the program's path (or a name looked up in PATH); cwd empty
// keeps the current folder.
inline ProcessRun RunProcess(const std::vector<std::string>& argv,
                             const std::filesystem::path& cwd = {}, const std::string& input = {}) {
    ProcessRun run;
    char folder[] = "/tmp/sigillon-process-XXXXXX";
    if (!mkdtemp(folder)) return run;
    const std::filesystem::path capture = folder;
    const std::string inPath = (capture / "in").string();
    const std::string outPath = (capture / "out").string();
    const std::string errPath = (capture / "err").string();
    std::ofstream(inPath, std::ios::binary) << input;

    std::vector<std::string> copies = argv;
    std::vector<char*> args;
    for (std::string& arg : copies) args.push_back(arg.data());
    args.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        int in = open(inPath.c_str(), O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) _exit(126);
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        execvp(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
        run.status = WEXITSTATUS(status);
    run.out = ReadWholeFile(outPath);
    run.err = ReadWholeFile(errPath);
    std::error_code ignored;
    std::filesystem::remove_all(capture, ignored);
    return run;
}

}  // namespace sigillon::testing
