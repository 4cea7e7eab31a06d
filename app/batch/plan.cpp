#include "app/batch/plan.h"

#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "app/batch/picture_facts.h"
#include "pictures/formats.h"

namespace sigillon::batch {
namespace {

namespace fs = std::filesystem;

struct FileId {
    dev_t device;
    ino_t inode;
    auto operator<=>(const FileId&) const = default;
};

// The path with every existing part resolved, so that two spellings of one
// file compare equal even before it exists.
std::string CanonicalForm(const std::string& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error) return path;
    std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal().string() : canonical.string();
}

std::string FileNameOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A value in --name names no folder.
std::string OneFileName(std::string value) {
    for (char& c : value)
        if (c == '/') c = '_';
    return value;
}

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

}  // namespace

std::string ExtensionOf(const std::string& path) {
    std::string name = FileNameOf(path);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

PictureFacts NameFacts(const std::string& input, bool testPicture, const BatchOptions& options) {
    std::string name = testPicture ? std::string(kTestPictureName) : FileNameOf(input);
    std::string own = testPicture ? std::string(".bmp") : ExtensionOf(name);
    std::string base = name.substr(0, name.size() - ExtensionOf(name).size());
    if (!testPicture && options.toExtension.empty() && !FormatOfName(name)) {
        // A name that says no picture type keeps all of itself and gains
        // the type of what the file holds.
        std::string problem;
        if (const PictureFormat* content = SniffFile(input, problem)) {
            base = name;
            own = std::string(content->extensions.front());
        }
    }
    return {name, base, options.toExtension.empty() ? own : options.toExtension, {}};
}

std::string OutputPathFor(const std::string& input, bool testPicture,
                          const BatchOptions& options, const std::string& subFolder,
                          std::vector<std::string>* warnings) {
    PictureFacts facts = NameFacts(input, testPicture, options);
    std::string file = facts.stem + facts.ext;
    if (!options.name.empty()) {
        std::string problem;
        const TextTemplate name = TextTemplate::Parse(options.name, problem);
        if (std::vector<std::string> keys = name.ExifKeys(); !keys.empty())
            facts.exif = LookAtPicture(input, testPicture, keys, options.autoOrient).exif;
        std::vector<std::string> missing;
        file = name.Expand(facts, missing, OneFileName);
        if (warnings)
            for (std::string& m : missing) warnings->push_back("--name: " + m);
    }

    std::string folder;
    if (!options.outDir.empty()) {
        folder = options.outDir;
        if (folder.back() != '/') folder += '/';
        folder += subFolder;
    } else if (!testPicture) {
        folder = FolderOf(input);
    }
    return folder + file;
}

std::vector<BatchJob> PlanJobs(const BatchOptions& options,
                               const std::vector<std::string>& subFolders) {
    std::vector<BatchJob> jobs;
    if (options.testPicture) {
        BatchJob& job = jobs.emplace_back(BatchJob{kTestPictureName, true, {}, {}});
        job.output = OutputPathFor("", true, options, {}, &job.warnings);
    } else {
        for (std::size_t i = 0; i < options.inputs.size(); ++i) {
            BatchJob& job = jobs.emplace_back(BatchJob{options.inputs[i], false, {}, {}});
            job.output = OutputPathFor(job.input, false, options,
                                       i < subFolders.size() ? subFolders[i] : std::string(),
                                       &job.warnings);
        }
    }

    // Inputs and the stamp are known by the file they are, whatever the
    // path that names them (other spellings, hard and symbolic links). A
    // file that does not exist cannot be written over.
    std::set<FileId> inputFiles;
    for (const BatchJob& job : jobs) {
        struct stat info;
        if (!job.testPicture && ::stat(job.input.c_str(), &info) == 0)
            inputFiles.insert({info.st_dev, info.st_ino});
    }
    // The stamp and the list of inputs are read by the run too.
    auto fileOf = [](const std::string& path, FileId& id) {
        struct stat info;
        if (path.empty() || ::stat(path.c_str(), &info) != 0) return false;
        id = {info.st_dev, info.st_ino};
        return true;
    };
    FileId stampFile{};
    FileId listFile{};
    const bool stampExists = fileOf(options.stampPath, stampFile);
    const bool listExists = options.filesFrom != "-" && fileOf(options.filesFrom, listFile);

    std::map<std::string, const BatchJob*> claimed;  // output -> the job that writes it
    for (BatchJob& job : jobs) {
        std::string target = CanonicalForm(job.output);
        struct stat info {};
        bool followed = ::stat(job.output.c_str(), &info) == 0;
        bool present = followed || ::lstat(job.output.c_str(), &info) == 0;
        FileId outputFile{info.st_dev, info.st_ino};
        const std::string file = FileNameOf(job.output);
        if (file.empty() || file == "." || file == "..") {
            job.refusal = "not saved, --name gives it no file name";
        } else if (followed && inputFiles.count(outputFile)) {
            job.refusal =
                "not saved, its output " + job.output + " is an input (choose --out or --to)";
        } else if (followed && stampExists && stampFile == outputFile) {
            job.refusal = "not saved, its output " + job.output + " is the stamp";
        } else if (followed && listExists && listFile == outputFile) {
            job.refusal = "not saved, its output " + job.output + " is the list of inputs";
        } else if (auto owner = claimed.find(target); owner != claimed.end()) {
            job.refusal =
                "not saved, " + owner->second->input + " is saved as " + job.output + " too";
        } else if (const PictureFormat* format = FormatOfName(job.output);
                   options.lossless && format && !format->writesLossless) {
            // Only without --to, which is checked with the options: a JPEG
            // input keeps its type, and a lossy copy is not what was asked.
            job.refusal = "not saved, " + std::string(format->name) +
                          " files cannot be lossless (--quality lossless); choose --to .webp "
                          "or .png";
        } else if (present && options.skipExisting) {
            // Saving renames a complete file into place, so an output that
            // is there is whole; what is not a file was never one of ours.
            if (followed && S_ISREG(info.st_mode))
                job.skip = true;
            else
                job.refusal = "not saved, " + job.output + " exists and is not a file";
            claimed.emplace(target, &job);
        } else if (present && !options.force) {
            job.refusal = "not saved, " + job.output + " exists (--force replaces it)";
        } else {
            claimed.emplace(target, &job);
        }
    }
    return jobs;
}

std::string ReportClash(const BatchOptions& options, const std::vector<BatchJob>& jobs) {
    const std::string& report = options.reportPath;
    const std::string shown = "--report " + report;
    std::error_code error;
    if (fs::exists(report, error)) {
        if (!options.stampPath.empty() && SameFile(report, options.stampPath))
            return shown + " is the stamp";
        if (!options.filesFrom.empty() && options.filesFrom != "-" &&
            SameFile(report, options.filesFrom))
            return shown + " is the list of inputs";
        for (const BatchJob& job : jobs)
            if (!job.testPicture && SameFile(report, job.input))
                return shown + " is the input " + job.input;
    }
    // Only an output of the same file name can be the same path; the rest
    // need no look at the file system.
    const std::string name = fs::path(report).filename().string();
    std::string canonical;
    for (const BatchJob& job : jobs) {
        if (fs::path(job.output).filename().string() != name) continue;
        if (canonical.empty()) canonical = CanonicalForm(report);
        if (CanonicalForm(job.output) == canonical) return shown + " is the output of " + job.input;
    }
    return {};
}

}  // namespace sigillon::batch
