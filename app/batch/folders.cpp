#include "app/batch/folders.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

#include "pictures/formats.h"

namespace sigillon::batch {
namespace {

namespace fs = std::filesystem;

struct Walk {
    bool followLinks;
    WalkedInputs& out;
    std::set<std::pair<dev_t, ino_t>> seen;  // folders walked, against link loops

    // Returns a problem, or empty.
    std::string Folder(const std::string& path, const std::string& below) {
        struct stat info;
        if (::stat(path.c_str(), &info) != 0 || !seen.insert({info.st_dev, info.st_ino}).second) {
            ++out.linksSkipped;
            return {};
        }
        std::error_code error;
        std::vector<std::string> names;
        for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
            names.push_back(it->path().filename().string());
        if (error) return "cannot read the folder " + path + ": " + error.message();
        std::sort(names.begin(), names.end());
        const std::string prefix = path.back() == '/' ? path : path + "/";
        for (const std::string& name : names) {
            const std::string entry = prefix + name;
            struct stat own;
            if (::lstat(entry.c_str(), &own) != 0) continue;
            if (S_ISLNK(own.st_mode)) {
                if (!followLinks || ::stat(entry.c_str(), &own) != 0) {
                    ++out.linksSkipped;
                    continue;
                }
            }
            if (S_ISDIR(own.st_mode)) {
                if (std::string problem = Folder(entry, below + name + "/"); !problem.empty())
                    return problem;
            } else if (std::string unread; S_ISREG(own.st_mode) && SniffFile(entry, unread)) {
                out.inputs.push_back(entry);
                out.subFolders.push_back(below);
            } else {
                ++out.skipped;
            }
        }
        return {};
    }
};

}  // namespace

WalkedInputs WalkFolders(const std::vector<std::string>& inputs, bool recursive, bool followLinks) {
    WalkedInputs walked;
    Walk walk{followLinks, walked, {}};
    for (const std::string& input : inputs) {
        std::error_code error;
        if (!fs::is_directory(input, error)) {
            walked.inputs.push_back(input);
            walked.subFolders.emplace_back();
            continue;
        }
        if (!recursive) {
            walked.problem = input + " is a folder (--recursive walks it)";
            return walked;
        }
        if (std::string problem = walk.Folder(input, {}); !problem.empty()) {
            walked.problem = std::move(problem);
            return walked;
        }
    }
    return walked;
}

}  // namespace sigillon::batch
