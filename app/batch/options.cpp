#include "app/batch/options.h"

#include <charconv>
#include <cstdint>
#include <system_error>
#include <utility>

#include "pictures/formats.h"
#include "stamping/text/text_colours.h"

namespace sigillon::batch {
namespace {

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
         // Any extension of the table, with or without its dot, in any case.
         std::string extension = v.empty() || v[0] == '.' ? v : "." + v;
         for (char& c : extension)
             if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
         if (extension.size() < 2 || extension.find('/') != std::string::npos ||
             !FormatOfName("x" + extension))
             return "--to takes one of " + KnownExtensions();
         o.toExtension = extension;
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
    {"--accept-damaged", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.acceptDamaged = true;
         return {};
     }},
    {"--quality", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (v == "keep" || v == "lossless")
             o.quality = 0;
         else if (ParseNumber(v, 1, 100, n))
             o.quality = int(n);
         else
             return "--quality takes keep, lossless or a number from 1 to 100";
         o.lossless = v == "lossless";
         return {};
     }},
    {"--memory-budget", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 1, 1 << 24, n))
             return "--memory-budget takes a number of megabytes from 1 to 16777216";
         o.memoryBudget = int(n);
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

}  // namespace

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
    if (options.lossless && !options.toExtension.empty() &&
        !FormatOfName("x" + options.toExtension)->writesLossless)
        return UsageError("--quality lossless: " + options.toExtension +
                          " files cannot be lossless; choose --to .webp, .png or .bmp");
    return result;
}

std::string UsageText() {
    return "usage: sigillon-batch [--stamp FILE | --text TEXT [--color C] [--size 1-9]]\n"
           "                      [--mode 0-8] [--times N] [--margin N] [--scale P]\n"
           "                      [--to EXT] [--quality keep|Q|lossless] [--memory-budget MB]\n"
           "                      [--out DIR] [--force | --skip-existing]\n"
           "                      [--jobs N] [--copyright TEXT] [--strip-metadata]\n"
           "                      [--no-auto-orient] [--files-from LIST [-0]] [--shard K/N]\n"
           "                      [--report FILE] [--verbose] [--encoder-thread auto|on|off]\n"
           "                      [--accept-damaged] INPUT...\n"
           "       sigillon-batch --test-picture [options]\n"
           "  --stamp FILE   stamp picture (JPEG, BMP, PNG or WebP); a PNG's or WebP's alpha is\n"
           "                 used, and then white is an ordinary colour; without a stamp\n"
           "                 inputs are only converted\n"
           "  --text TEXT    stamp a text, rendered as the desktop program renders it\n"
           "  --color C      black, grey, blue, red, yellow, green or purple; default black\n"
           "  --size 1-9     text size factor; default 3\n"
           "  --mode 0-8     0-3 stamp, 4-7 watermark (top-left, top-right, bottom-left,\n"
           "                 bottom-right), 8 tiled watermark; default 0\n"
           "  --times N      stamp each input N times; default 1\n"
           "  --margin N     corner stamps sit N pixels in from both edges; tiles are N apart\n"
           "  --scale P      resize the stamp to P % (1-100) of each picture's width\n"
           "  --to EXT       save as .jpg, .jpeg, .bmp, .png, .webp, ...; default the input's own\n"
           "  --quality keep|Q|lossless  how JPEG and WebP outputs are encoded. keep (the default): a JPEG\n"
           "                 input keeps its own encoding (quantisation tables, sampling,\n"
           "                 progressive or baseline, restart interval, arithmetic or\n"
           "                 Huffman coding) and every 8 x 8 block the stamp leaves is\n"
           "                 copied as it was, so the picture away from the stamp loses\n"
           "                 nothing; other inputs are saved at 85, as the desktop program\n"
           "                 saves. Q (1-100): every picture re-encoded at quality Q,\n"
           "                 baseline 4:2:0; --quality 85 gives the desktop program's files.\n"
           "                 WebP outputs are lossy at Q, or at 90 without a number.\n"
           "                 lossless: WebP outputs keep every pixel exactly (PNG and BMP\n"
           "                 always do); a JPEG output cannot, so --to a JPEG type is a\n"
           "                 usage error and a JPEG input saved as JPEG is refused\n"
           "  --memory-budget MB  most memory a JPEG's coefficients may take for its\n"
           "                 blocks to be copied (about 3 bytes a pixel at 4:2:0); a larger\n"
           "                 baseline one is re-encoded row by row with its own tables;\n"
           "                 default a quarter of the machine's memory shared among the\n"
           "                 pictures worked on at once, at most 1024\n"
           "  --out DIR      save into DIR; default beside each input\n"
           "  --force        replace existing outputs (inputs are never replaced)\n"
           "  --skip-existing  leave existing outputs alone and count them skipped,\n"
           "                 so that a run cut short can be run again to finish\n"
           "  --jobs N       pictures worked on at once; default one per core\n"
           "  --verbose      say for each input how it went (blocks copied, row by row or\n"
           "                 whole) and why\n"
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
           "                 width, height, ms, warnings (metadata dropped, damage\n"
           "                 accepted, stray bytes skipped; a JPEG that keeps its\n"
           "                 encoding but was re-encoded, and why)\n"
           "  --test-picture the built-in test picture as the one input, saved as test.bmp\n"
           "  --copyright TEXT  write TEXT as the EXIF and XMP copyright; default a text\n"
           "                 stamp's text\n"
           "  --strip-metadata  write none of the input's metadata (EXIF, XMP, IPTC, ICC)\n"
           "  --no-auto-orient  keep the stored pixels and the EXIF orientation as they are\n"
           "  --accept-damaged  stamp what a JPEG or WebP input whose data is damaged or ends\n"
           "                 early still holds (the rest grey or garbled) and warn, rather\n"
           "                 than refuse it\n"
           "Inputs are JPEG, BMP, PNG or WebP files, known by their content whatever their\n"
           "names; an output's type is that of its name. JPEG, PNG and WebP outputs keep the\n"
           "input's metadata and colour profile, without the EXIF thumbnail; pictures are turned\n"
           "upright as their EXIF orientation says, before they are stamped (a JPEG\n"
           "turned so is re-encoded with its own tables, its blocks not copied).\n"
           "The last line on standard output is \"N saved, M failed\" (\", K skipped\" when\n"
           "any were); messages go to standard error. Exit status: 0 when nothing failed,\n"
           "1 when any input failed, 2 for a usage error or a run that could not start.\n";
}

}  // namespace sigillon::batch
