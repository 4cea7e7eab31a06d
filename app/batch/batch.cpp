#include "app/batch/batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "app/batch/report.h"
#include "app/batch/streaming.h"
#include "pictures/picture_files.h"
#include "pictures/raster/test_picture.h"
#include "stamping/stamp_scaling.h"

namespace sigillon::batch {
namespace {

// ---- Arguments --------------------------------------------------------------

// A whole decimal number within [low, high], or false.
bool ParseNumber(const std::string& text, long low, long high, long& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && !text.empty() && value >= low && value <= high;
}

// Each option is one row; an option with a value gets it in the handler,
// which returns what was wrong with it or nothing. The text stamp's options
// join this table.
struct OptionRow {
    const char* name;
    bool takesValue;
    std::string (*apply)(BatchOptions& options, const std::string& value);
};

const OptionRow kOptions[] = {
    {"--stamp", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         if (v.empty()) return "--stamp needs a file";
         o.stampPath = v;
         return {};
     }},
    {"--mode", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 0, kTiledWatermark, n)) return "--mode takes a number from 0 to 8";
         o.mode = StampMode(n);
         return {};
     }},
    {"--times", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 1, 1000000, n)) return "--times takes a whole number of at least 1";
         o.times = int(n);
         return {};
     }},
    {"--to", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         if (v == ".jpg" || v == "jpg")
             o.toExtension = ".jpg";
         else if (v == ".bmp" || v == "bmp")
             o.toExtension = ".bmp";
         else if (v == ".png" || v == "png")
             o.toExtension = ".png";
         else
             return "--to takes .jpg, .bmp or .png";
         return {};
     }},
    {"--out", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         if (v.empty()) return "--out needs a folder";
         o.outDir = v;
         return {};
     }},
    {"--force", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.force = true;
         return {};
     }},
    {"--jobs", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 1, 1024, n)) return "--jobs takes a number from 1 to 1024";
         o.jobs = int(n);
         return {};
     }},
    {"--text", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         o.textGiven = true;
         o.text = v;
         return {};
     }},
    {"--color", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         for (int i = 0; i < 7; ++i)
             if (v == kTextColours[i].name) {
                 o.colour = i;
                 return {};
             }
         return "--color takes black, grey, blue, red, yellow, green or purple";
     }},
    {"--size", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 1, 9, n)) return "--size takes a number from 1 to 9";
         o.size = int(n);
         return {};
     }},
    {"--margin", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 0, 65500, n)) return "--margin takes a number of pixels from 0 to 65500";
         o.margin = int(n);
         return {};
     }},
    {"--scale", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 1, 100, n)) return "--scale takes a percentage from 1 to 100";
         o.scale = int(n);
         return {};
     }},
    {"--copyright", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         o.copyrightGiven = true;
         o.copyright = v;
         return {};
     }},
    {"--strip-metadata", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.stripMetadata = true;
         return {};
     }},
    {"--no-auto-orient", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.autoOrient = false;
         return {};
     }},
    {"--verbose", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.verbose = true;
         return {};
     }},
    {"--encoder-thread", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         if (v == "auto")
             o.encoderThread = EncoderThread::Auto;
         else if (v == "on")
             o.encoderThread = EncoderThread::On;
         else if (v == "off")
             o.encoderThread = EncoderThread::Off;
         else
             return "--encoder-thread takes auto, on or off";
         return {};
     }},
    {"--test-picture", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.testPicture = true;
         return {};
     }},
    {"--files-from", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         if (v.empty()) return "--files-from needs a file (- for standard input)";
         if (!o.filesFrom.empty()) return "give --files-from once";
         o.filesFrom = v;
         return {};
     }},
    {"-0", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.nulSeparated = true;
         return {};
     }},
    {"--shard", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         const char* problem = "--shard takes K/N, a part K of N from 0 to N-1 (N at most 1000000)";
         std::size_t slash = v.find('/');
         if (slash == std::string::npos) return problem;
         long index, count;
         if (!ParseNumber(v.substr(slash + 1), 1, 1000000, count) ||
             !ParseNumber(v.substr(0, slash), 0, count - 1, index))
             return problem;
         o.shard = {std::uint64_t(index), std::uint64_t(count)};
         return {};
     }},
    {"--skip-existing", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.skipExisting = true;
         return {};
     }},
    {"--report", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         if (v.empty()) return "--report needs a file";
         o.reportPath = v;
         return {};
     }},
};

const OptionRow* FindOption(const std::string& name) {
    for (const OptionRow& option : kOptions)
        if (name == option.name) return &option;
    return nullptr;
}

ParseResult UsageError(std::string message) {
    ParseResult result;
    result.status = ParseStatus::UsageError;
    result.message = std::move(message);
    return result;
}

// ---- Messages ----------------------------------------------------------------

// A file name may hold line breaks or terminal controls; a message stays one
// plain line.
std::string PlainLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        line += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    return line;
}

// Standard error as the tool's message box: one line per message, whole
// lines even when several workers talk at once, and on a terminal a
// progress line that messages push aside.
class Console {
public:
    Console(bool progress, std::size_t total) : progress_(progress), total_(total) {}

    void Say(const std::string& text) {
        std::string line = PlainLine(text) + '\n';
        std::lock_guard lock(mutex_);
        Write(ClearProgress() + line + ProgressText());
    }

    void Start() {
        std::lock_guard lock(mutex_);
        Write(ProgressText());
    }

    void JobDone() {
        std::lock_guard lock(mutex_);
        ++done_;
        Write(ClearProgress() + ProgressText());
    }

    void Finish() {
        std::lock_guard lock(mutex_);
        Write(ClearProgress());
        progress_ = false;
    }

private:
    std::string ClearProgress() const { return progress_ ? "\r\033[K" : ""; }
    std::string ProgressText() const {
        if (!progress_) return {};
        return std::to_string(done_) + "/" + std::to_string(total_) + " done";
    }
    static void Write(const std::string& text) {
        if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stderr);
    }

    std::mutex mutex_;
    bool progress_;
    std::size_t total_;
    std::size_t done_ = 0;
};


// ---- Files -------------------------------------------------------------------

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

}  // namespace

// ---- Parsing -------------------------------------------------------------------

ParseResult ParseArguments(const std::vector<std::string>& args) {
    ParseResult result;
    BatchOptions& options = result.options;
    bool modeGiven = false;
    bool timesGiven = false;
    bool textLookGiven = false;
    bool shardGiven = false;
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            options.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            result.status = ParseStatus::Help;
            return result;
        }
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        if (std::size_t equals = arg.find('='); equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            inlineValue = true;
        }
        const OptionRow* option = FindOption(name);
        if (!option) return UsageError("unknown option " + name);
        if (option->takesValue && !inlineValue) {
            if (i + 1 >= args.size()) return UsageError(name + " needs a value");
            value = args[++i];
        } else if (!option->takesValue && inlineValue) {
            return UsageError(name + " takes no value");
        }
        if (std::string problem = option->apply(options, value); !problem.empty())
            return UsageError(problem);
        modeGiven = modeGiven || name == "--mode" || name == "--margin" || name == "--scale";
        timesGiven = timesGiven || name == "--times";
        textLookGiven = textLookGiven || name == "--color" || name == "--size";
        shardGiven = shardGiven || name == "--shard";
    }

    if (options.testPicture && (!options.inputs.empty() || !options.filesFrom.empty()))
        return UsageError("--test-picture is the one input; give no INPUT or --files-from with it");
    if (options.testPicture && shardGiven)
        return UsageError("--shard splits INPUTs, not --test-picture");
    if (!options.testPicture && options.inputs.empty() && options.filesFrom.empty())
        return UsageError("no INPUT given");
    if (options.nulSeparated && options.filesFrom.empty())
        return UsageError("-0 needs --files-from");
    if (options.force && options.skipExisting)
        return UsageError("give --force or --skip-existing, not both");
    if (options.textGiven && !options.stampPath.empty())
        return UsageError("give --stamp or --text, not both");
    if (options.stampPath.empty() && !options.textGiven && (modeGiven || timesGiven))
        return UsageError("--mode, --times, --margin and --scale need --stamp or --text");
    if (!options.textGiven && textLookGiven) return UsageError("--color and --size need --text");
    return result;
}

std::string UsageText() {
    return "usage: sigillon-batch [--stamp FILE | --text TEXT [--color C] [--size 1-9]]\n"
           "                      [--mode 0-8] [--times N] [--margin N] [--scale P]\n"
           "                      [--to .jpg|.bmp|.png] [--out DIR] [--force | --skip-existing]\n"
           "                      [--jobs N] [--copyright TEXT] [--strip-metadata]\n"
           "                      [--no-auto-orient] [--files-from LIST [-0]] [--shard K/N]\n"
           "                      [--report FILE] [--verbose] [--encoder-thread auto|on|off]\n"
           "                      INPUT...\n"
           "       sigillon-batch --test-picture [options]\n"
           "  --stamp FILE   stamp picture (.jpg, .bmp or .png); a PNG's alpha is used, and then\n"
           "                 white is an ordinary colour; without a stamp inputs are only converted\n"
           "  --text TEXT    stamp a text, rendered as the desktop program renders it\n"
           "  --color C      black, grey, blue, red, yellow, green or purple; default black\n"
           "  --size 1-9     text size factor; default 3\n"
           "  --mode 0-8     0-3 stamp, 4-7 watermark (top-left, top-right, bottom-left,\n"
           "                 bottom-right), 8 tiled watermark; default 0\n"
           "  --times N      stamp each input N times; default 1\n"
           "  --margin N     corner stamps sit N pixels in from both edges; tiles are N apart\n"
           "  --scale P      resize the stamp to P % (1-100) of each picture's width\n"
           "  --to EXT       save as .jpg, .bmp or .png; default the input's own\n"
           "  --out DIR      save into DIR; default beside each input\n"
           "  --force        replace existing outputs (inputs are never replaced)\n"
           "  --skip-existing  leave existing outputs alone and count them skipped,\n"
           "                 so that a run cut short can be run again to finish\n"
           "  --jobs N       pictures worked on at once; default one per core\n"
           "  --verbose      say for each input whether it went row by row or whole, and why\n"
           "  --encoder-thread auto|on|off  write a picture read row by row on a second\n"
           "                 thread; auto: when no picture waits to start and a core is free,\n"
           "                 so that --jobs N keeps to N cores until the last pictures\n"
           "  --files-from LIST  more inputs, one path a line (a CR before the line\n"
           "                 end is dropped, empty lines skipped); - reads standard input\n"
           "  -0             the LIST is NUL-separated, as find -print0 writes it\n"
           "  --shard K/N    work only on the inputs in part K of N (0 <= K < N): those\n"
           "                 whose path, byte for byte as given, has a 64-bit FNV-1a hash\n"
           "                 equal to K modulo N; N workers given the same inputs and\n"
           "                 K = 0..N-1 share them out, each input to exactly one\n"
           "  --report FILE  write one JSON object per input to FILE as it finishes:\n"
           "                 input, output, status (saved, skipped, failed), reason,\n"
           "                 width, height, ms, warnings (metadata dropped)\n"
           "  --test-picture the built-in test picture as the one input, saved as test.bmp\n"
           "  --copyright TEXT  write TEXT as the EXIF and XMP copyright; default a text\n"
           "                 stamp's text\n"
           "  --strip-metadata  write none of the input's metadata (EXIF, XMP, IPTC, ICC)\n"
           "  --no-auto-orient  keep the stored pixels and the EXIF orientation as they are\n"
           "Inputs may be .jpg, .bmp or .png. JPEG and PNG outputs keep the input's metadata\n"
           "and colour profile, without the EXIF thumbnail; pictures are turned upright as\n"
           "their EXIF orientation says, before they are stamped.\n"
           "The last line on standard output is \"N saved, M failed\" (\", K skipped\" when\n"
           "any were); messages go to standard error. Exit status: 0 when nothing failed,\n"
           "1 when any input failed, 2 for a usage error or a run that could not start.\n";
}

// ---- Planning ------------------------------------------------------------------

std::string ExtensionOf(const std::string& path) {
    std::string name = FileNameOf(path);
    std::size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string OutputPathFor(const std::string& input, bool testPicture,
                          const BatchOptions& options) {
    std::string name = testPicture ? std::string(kTestPictureName) : FileNameOf(input);
    std::string own = testPicture ? std::string(".bmp") : ExtensionOf(name);
    std::string base = name.substr(0, name.size() - ExtensionOf(name).size());
    std::string extension = options.toExtension.empty() ? own : options.toExtension;

    std::string folder;
    if (!options.outDir.empty()) {
        folder = options.outDir;
        if (folder.back() != '/') folder += '/';
    } else if (!testPicture) {
        folder = FolderOf(input);
    }
    return folder + base + extension;
}

std::vector<BatchJob> PlanJobs(const BatchOptions& options) {
    std::vector<BatchJob> jobs;
    if (options.testPicture) {
        jobs.push_back({kTestPictureName, true, OutputPathFor("", true, options), {}});
    } else {
        for (const std::string& input : options.inputs)
            jobs.push_back({input, false, OutputPathFor(input, false, options), {}});
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
        if (followed && inputFiles.count(outputFile)) {
            job.refusal =
                "not saved, its output " + job.output + " is an input (choose --out or --to)";
        } else if (followed && stampExists && stampFile == outputFile) {
            job.refusal = "not saved, its output " + job.output + " is the stamp";
        } else if (followed && listExists && listFile == outputFile) {
            job.refusal = "not saved, its output " + job.output + " is the list of inputs";
        } else if (auto owner = claimed.find(target); owner != claimed.end()) {
            job.refusal =
                "not saved, " + owner->second->input + " is saved as " + job.output + " too";
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

// ---- Running -------------------------------------------------------------------

const char* StatusName(JobStatus status) {
    switch (status) {
        case JobStatus::Saved: return "saved";
        case JobStatus::Skipped: return "skipped";
        case JobStatus::Failed: break;
    }
    return "failed";
}

// The stamp for one picture: as it is, or fitted to the share of the
// picture's width that --scale asks for, from the stamp whose width comes
// closest (a text rendered at every size).
StampImage StampFor(const JobSettings& settings, std::int32_t pictureWidth) {
    const StampImage& first = settings.stamps.front();
    if (settings.scale <= 0 || pictureWidth <= 0 || !first.pixels || first.pixels->IsEmpty())
        return first;
    const std::int32_t width = ScaledWidth(pictureWidth, settings.scale);
    const StampImage* closest = &settings.stamps.front();
    for (const StampImage& stamp : settings.stamps)
        if (std::abs(stamp.Width() - width) < std::abs(closest->Width() - width)) closest = &stamp;
    return ScaleStamp(*closest, width);
}


JobResult RunJob(const BatchJob& job, const JobSettings& settings) {
    JobResult result;
    auto failed = [&](const std::string& reason) {
        result.status = JobStatus::Failed;
        result.reason = reason;
        return result;
    };
    if (!job.refusal.empty()) return failed(job.refusal);
    try {
        BatchPicture picture;
        if (job.testPicture) {
            picture.pixels = MakeTestPicture();
            PrepareMetadata(picture, settings.metadata, false);
        } else if (FileResult loaded = LoadBatchPicture(job.input, settings.metadata, picture);
                   loaded != FileOutcome::Done) {
            return failed(FailureMessage(job.input, loaded));
        }
        TBitmap& pixels = *picture.pixels;
        if (!pixels.IsEmpty()) {
            result.width = pixels.Width();
            result.height = pixels.Height();
        }
        if (!settings.stamps.empty()) {
            StampImage stamp = StampFor(settings, pixels.IsEmpty() ? 0 : pixels.Width());
            // Sizes without storage count as nothing, as the program's check has it.
            const bool stampHeld = stamp.pixels && !stamp.pixels->IsEmpty();
            if (auto refusal = PlacementRefusal(
                    stampHeld ? stamp.Width() : 0, stampHeld ? stamp.Height() : 0,
                    pixels.IsEmpty() ? 0 : pixels.Width(), pixels.IsEmpty() ? 0 : pixels.Height(),
                    pixels.GetDepth() == Depth24, settings.mode, settings.margin))
                return failed(*refusal);
            PlacedStamp placed(std::move(stamp), pixels.Width(), pixels.Height(), settings.mode,
                               settings.margin);
            for (int pass = 0; pass < settings.times; ++pass)
                for (std::int32_t y = placed.FirstRow(); y < placed.EndRow(); ++y)
                    placed.StampRow(y, pixels.RowAddress(y));
        }
        if (FileResult saved = SaveBatchPicture(picture, job.output); saved != FileOutcome::Done)
            return failed(FailureMessage(job.output, saved));
        result.status = JobStatus::Saved;
        result.warnings = std::move(picture.warnings);
        return result;
    } catch (const std::exception& error) {
        return failed(error.what());
    } catch (...) {
        return failed("failed");
    }
}

namespace {

// What the run has done so far, and where each finished input is told:
// its failure line and its warnings (metadata dropped) on standard error,
// its line in the report.
class Tally {
public:
    Tally(Console& console, ReportFile* report) : console_(console), report_(report) {}

    void Finished(const BatchJob& job, const JobResult& result, bool sayFailure = true) {
        if (result.status == JobStatus::Failed && sayFailure)
            console_.Say(job.input + ": " + result.reason);
        for (const std::string& warning : result.warnings)
            console_.Say(job.input + ": warning: " + warning);
        if (report_) report_->Add(job, result);
        switch (result.status) {
            case JobStatus::Saved: ++saved_; break;
            case JobStatus::Skipped: ++skipped_; break;
            case JobStatus::Failed: ++failed_; break;
        }
        console_.JobDone();
    }

    // The summary as the last line on standard output; the exit status.
    int Summary() {
        console_.Finish();
        bool reportFailed = false;
        if (report_) {
            if (std::string problem = report_->Problem(); !problem.empty()) {
                console_.Say("sigillon-batch: " + problem);
                reportFailed = true;
            }
        }
        std::string line = std::to_string(saved_.load()) + " saved, " +
                           std::to_string(failed_.load()) + " failed";
        if (skipped_ > 0) line += ", " + std::to_string(skipped_.load()) + " skipped";
        line += '\n';
        std::fflush(stderr);
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        return failed_ == 0 && !reportFailed ? 0 : 1;
    }

private:
    Console& console_;
    ReportFile* report_;
    std::atomic<std::size_t> saved_{0};
    std::atomic<std::size_t> skipped_{0};
    std::atomic<std::size_t> failed_{0};
};

// A run that could not start says why and touches nothing.
int CannotStart(const std::string& problem) {
    std::fprintf(stderr, "sigillon-batch: %s\n", PlainLine(problem).c_str());
    return 2;
}

}  // namespace

int RunBatch(const BatchOptions& given, const TextRenderer& renderText) {
    if (!given.outDir.empty()) {
        std::error_code error;
        if (!std::filesystem::is_directory(given.outDir, error))
            return CannotStart("--out " + given.outDir + " is not a folder");
    }

    BatchOptions options = given;
    if (!options.filesFrom.empty()) {
        InputList list = ReadInputList(options.filesFrom, options.nulSeparated);
        if (!list.problem.empty()) return CannotStart(list.problem);
        options.inputs.insert(options.inputs.end(), std::make_move_iterator(list.paths.begin()),
                              std::make_move_iterator(list.paths.end()));
    }

    std::vector<BatchJob> jobs = PlanJobs(options);
    std::unique_ptr<ReportFile> report;
    if (!options.reportPath.empty()) {
        if (std::string clash = ReportClash(options, jobs); !clash.empty())
            return CannotStart(clash + "; name another file");
        report = std::make_unique<ReportFile>(options.reportPath);
        if (std::string problem = report->Problem(); !problem.empty()) return CannotStart(problem);
    }
    std::erase_if(jobs, [&](const BatchJob& job) {
        return !job.testPicture && !InShard(job.input, options.shard);
    });

    Console console(::isatty(STDERR_FILENO) == 1, jobs.size());
    console.Start();
    Tally tally(console, report.get());

    // Every input fails for the one reason, said once; outputs that are
    // already there are still done.
    auto failAll = [&](const std::string& reason) {
        for (const BatchJob& job : jobs) {
            JobResult result;
            result.status = job.skip ? JobStatus::Skipped : JobStatus::Failed;
            if (!job.skip) result.reason = job.refusal.empty() ? reason : job.refusal;
            tally.Finished(job, result, false);
        }
        return tally.Summary();
    };

    // The stamp is read and made Depth24 once, before any worker starts;
    // from then on nothing writes to it.
    JobSettings settings;
    settings.mode = options.mode;
    settings.times = options.times;
    settings.margin = options.margin;
    settings.scale = options.scale;
    settings.metadata.keep = !options.stripMetadata;
    settings.metadata.autoOrient = options.autoOrient;
    if (options.copyrightGiven)
        settings.metadata.copyright = options.copyright;
    else if (options.textGiven && !options.text.empty())
        settings.metadata.copyright = options.text;
    if (!options.stampPath.empty()) {
        // A stamp's own metadata and orientation are not the picture's.
        MetadataSettings none{false, std::nullopt, false};
        BatchPicture stamp;
        FileResult loaded = LoadBatchPicture(options.stampPath, none, stamp);
        try {
            if (loaded == FileOutcome::Done && !stamp.pixels->IsEmpty())
                stamp.pixels->SetDepth(Depth24);
        } catch (const std::exception& error) {
            loaded = {FileOutcome::Failed, error.what()};
        }
        if (loaded != FileOutcome::Done) {
            std::string reason = FailureMessage(options.stampPath, loaded);
            console.Say(reason);
            return failAll(reason);
        }
        settings.stamps.push_back({std::move(stamp.pixels), std::move(stamp.alpha)});
    }
    if (options.textGiven) {
        try {
            // Scaled, the text is drawn at every size, and each picture gets
            // the one whose width comes closest to what it needs, fitted.
            const int first = options.scale > 0 ? 1 : options.size;
            const int last = options.scale > 0 ? 9 : options.size;
            for (int size = first; renderText && size <= last; ++size) {
                BatchOptions sized = options;
                sized.size = size;
                std::unique_ptr<TBitmap> rendered = renderText(sized);
                if (!rendered) break;
                rendered->SetDepth(Depth24);
                settings.stamps.push_back({std::move(rendered), {}});
            }
        } catch (const std::exception&) {
            settings.stamps.clear();
        }
        if (settings.stamps.empty()) {
            const std::string reason = "the text stamp could not be rendered";
            console.Say("sigillon-batch: " + reason);
            return failAll(reason);
        }
    }

    // Cores go to pictures first; a picture's writing gets one of its own
    // only where no other picture waits for it.
    const unsigned cores = AvailableCores();
    // Pictures still to stamp from each job on: skipped and refused ones
    // take no core.
    std::vector<std::size_t> toStamp(jobs.size() + 1, 0);
    for (std::size_t i = jobs.size(); i-- > 0;)
        toStamp[i] = toStamp[i + 1] + (!jobs[i].skip && jobs[i].refusal.empty() ? 1 : 0);
    std::atomic<std::size_t> running{0};
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < jobs.size(); i = next++) {
            const BatchJob& job = jobs[i];
            JobResult result;
            if (job.skip) {
                result.status = JobStatus::Skipped;
            } else {
                auto start = std::chrono::steady_clock::now();
                const std::size_t waiting = toStamp[std::min(jobs.size(), next.load())];
                const bool encoderThread =
                    UseEncoderThread(options.encoderThread, waiting, ++running, cores);
                RoutedJob routed = RunJobByRows(job, settings, encoderThread);
                --running;
                if (options.verbose) console.Say(routed.route);
                result = std::move(routed.result);
                result.ms = std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - start)
                                .count();
            }
            tally.Finished(job, result);
        }
    };

    std::size_t workers = options.jobs > 0 ? std::size_t(options.jobs) : cores;
    workers = std::min(workers, jobs.size());
    {
        // This thread is one of the workers; should a thread not start, the
        // others take its share.
        std::vector<std::jthread> helpers;
        try {
            for (std::size_t w = 1; w < workers; ++w) helpers.emplace_back(work);
        } catch (const std::system_error&) {
        }
        work();
    }
    return tally.Summary();
}

}  // namespace sigillon::batch
