#include "app/batch/batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <utility>

#include "app/batch/stamp_scaling.h"
#include "pictures/picture_files.h"
#include "pictures/test_picture.h"

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
    {"--test-picture", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.testPicture = true;
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
    }

    if (options.testPicture && !options.inputs.empty())
        return UsageError("--test-picture is the one input; give no INPUT with it");
    if (!options.testPicture && options.inputs.empty()) return UsageError("no INPUT given");
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
           "                      [--to .jpg|.bmp|.png] [--out DIR] [--force] [--jobs N]\n"
           "                      [--copyright TEXT] [--strip-metadata] [--no-auto-orient]\n"
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
           "  --jobs N       pictures worked on at once; default one per core\n"
           "  --test-picture the built-in test picture as the one input, saved as test.bmp\n"
           "  --copyright TEXT  write TEXT as the EXIF and XMP copyright; default a text\n"
           "                 stamp's text\n"
           "  --strip-metadata  write none of the input's metadata (EXIF, XMP, IPTC, ICC)\n"
           "  --no-auto-orient  keep the stored pixels and the EXIF orientation as they are\n"
           "Inputs may be .jpg, .bmp or .png. JPEG and PNG outputs keep the input's metadata\n"
           "and colour profile, without the EXIF thumbnail; pictures are turned upright as\n"
           "their EXIF orientation says, before they are stamped.\n";
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
    FileId stampFile{};
    bool stampExists = false;
    if (!options.stampPath.empty()) {
        struct stat info;
        stampExists = ::stat(options.stampPath.c_str(), &info) == 0;
        if (stampExists) stampFile = {info.st_dev, info.st_ino};
    }

    std::map<std::string, const BatchJob*> claimed;  // output -> the job that writes it
    for (BatchJob& job : jobs) {
        std::string target = CanonicalForm(job.output);
        struct stat info;
        bool followed = ::stat(job.output.c_str(), &info) == 0;
        bool present = followed || ::lstat(job.output.c_str(), &info) == 0;
        if (followed && inputFiles.count({info.st_dev, info.st_ino})) {
            job.refusal = job.input + ": not saved, its output " + job.output +
                          " is an input (choose --out or --to)";
        } else if (followed && stampExists && stampFile == FileId{info.st_dev, info.st_ino}) {
            job.refusal = job.input + ": not saved, its output " + job.output + " is the stamp";
        } else if (auto owner = claimed.find(target); owner != claimed.end()) {
            job.refusal = job.input + ": not saved, " + owner->second->input +
                          " is saved as " + job.output + " too";
        } else if (present && !options.force) {
            job.refusal = job.input + ": not saved, " + job.output +
                          " exists (--force replaces it)";
        } else {
            claimed.emplace(target, &job);
        }
    }
    return jobs;
}

// ---- Running -------------------------------------------------------------------

namespace {

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

}  // namespace

JobResult RunJob(const BatchJob& job, const JobSettings& settings) {
    auto failed = [&](const std::string& text) {
        return JobResult{false, job.input + ": " + text, {}};
    };
    if (!job.refusal.empty()) return {false, job.refusal, {}};
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
        return {true, {}, std::move(picture.warnings)};
    } catch (const std::exception& error) {
        return failed(error.what());
    } catch (...) {
        return failed("failed");
    }
}

int RunBatch(const BatchOptions& options, const TextRenderer& renderText) {
    if (!options.outDir.empty()) {
        std::error_code error;
        if (!std::filesystem::is_directory(options.outDir, error)) {
            std::fprintf(stderr, "sigillon-batch: --out %s is not a folder\n",
                         options.outDir.c_str());
            return 2;
        }
    }

    std::vector<BatchJob> jobs = PlanJobs(options);
    Console console(::isatty(STDERR_FILENO) == 1, jobs.size());
    console.Start();

    std::atomic<std::size_t> saved{0};
    std::atomic<std::size_t> failed{0};
    auto summary = [&] {
        console.Finish();
        if (failed == 0) return 0;
        std::fprintf(stderr, "%zu saved, %zu failed\n", saved.load(), failed.load());
        return 1;
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
            console.Say(FailureMessage(options.stampPath, loaded));
            failed = jobs.size();
            return summary();
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
            std::fprintf(stderr, "sigillon-batch: the text stamp could not be rendered\n");
            failed = jobs.size();
            return summary();
        }
    }

    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < jobs.size(); i = next++) {
            JobResult result = RunJob(jobs[i], settings);
            if (!result.message.empty()) console.Say(result.message);
            if (result.saved)
                ++saved;
            else
                ++failed;
            console.JobDone();
        }
    };

    std::size_t workers = options.jobs > 0 ? std::size_t(options.jobs)
                                           : std::max(1u, std::thread::hardware_concurrency());
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
    return summary();
}

}  // namespace sigillon::batch
