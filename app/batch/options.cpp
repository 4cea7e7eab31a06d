#include "app/batch/options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <set>
#include <system_error>
#include <utility>

#include "app/batch/preset.h"
#include "app/batch/variables.h"
#include "pictures/formats.h"
#include "stamping/text/text_style.h"

namespace sigillon::batch {
namespace {

// A whole decimal number within [low, high], or false.
bool ParseNumber(const std::string& text, long low, long high, long& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    auto [end, error] = std::from_chars(first, last, value);
    return error == std::errc() && end == last && !text.empty() && value >= low && value <= high;
}

// "X,Y", each a whole number of pixels within +-pixels, or of percent
// within +-100 with a '%'; negative ones only when signed.
bool ParseLengths(const std::string& text, long pixels, bool signedOk, Lengths& lengths) {
    auto one = [&](std::string part, Length& length) {
        length.percent = !part.empty() && part.back() == '%';
        if (length.percent) part.pop_back();
        long n;
        const long limit = length.percent ? 100 : pixels;
        if (!ParseNumber(part, signedOk ? -limit : 0, limit, n)) return false;
        length.amount = std::int32_t(n);
        return true;
    };
    const std::size_t comma = text.find(',');
    return comma != std::string::npos && one(text.substr(0, comma), lengths.x) &&
           one(text.substr(comma + 1), lengths.y);
}

constexpr const char* kAnchorNames[] = {"top-left",    "top",    "top-right",
                                        "left",        "center", "right",
                                        "bottom-left", "bottom", "bottom-right"};

// The options that shape the stamp, which need one.
constexpr const char* kGeometryOptions[] = {"--opacity", "--position", "--offset",
                                            "--scale-by", "--rotate", "--tile-spacing"};

// Each option is one row; an option with a value gets it in the handler,
// which returns what was wrong with it or nothing. The text stamp's options
// join this table.
struct OptionRow {
    const char* name;
    bool takesValue;
    std::string (*apply)(BatchOptions& options, const std::string& value);
};

constexpr const char* kColourNames = "black, grey, blue, red, yellow, green, purple or #RRGGBB";

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
             return "--to takes one of " + KnownExtensions(true);
         if (!FormatOfName("x" + extension)->createRowWriter)
             return std::string(FormatOfName("x" + extension)->name) +
                    " files are read, not written (their encoder brings GPL and patent "
                    "terms): --to takes one of " +
                    KnownExtensions(true);
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
                 o.style.colour.reset();
                 return {};
             }
         o.style.colour = ParseTextColour(v);
         if (!o.style.colour) return "--color takes " + std::string(kColourNames);
         return {};
     }},
    {"--font", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         if (v.empty()) return "--font needs a font family or a .ttf, .otf or .ttc file";
         o.style.font = v;
         return {};
     }},
    {"--outline", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 1, 100, n)) return "--outline takes a width from 1 to 100 pixels";
         o.style.outline = int(n);
         return {};
     }},
    {"--outline-color", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         o.style.outlineColour = ParseTextColour(v);
         return o.style.outlineColour ? "" : "--outline-color takes " + std::string(kColourNames);
     }},
    {"--shadow", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         const std::size_t comma = v.find(',');
         long dx, dy;
         if (comma == std::string::npos || !ParseNumber(v.substr(0, comma), -1000, 1000, dx) ||
             !ParseNumber(v.substr(comma + 1), -1000, 1000, dy))
             return "--shadow takes DX,DY, whole pixels from -1000 to 1000";
         o.style.shadow = true;
         o.style.shadowDx = int(dx);
         o.style.shadowDy = int(dy);
         return {};
     }},
    {"--shadow-color", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         o.style.shadowColour = ParseTextColour(v);
         return o.style.shadowColour ? "" : "--shadow-color takes " + std::string(kColourNames);
     }},
    {"--shadow-blur", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 0, 100, n)) return "--shadow-blur takes a radius from 0 to 100 pixels";
         o.style.shadowBlur = int(n);
         return {};
     }},
    {"--no-color-management", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.colourManagement = false;
         return {};
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
    {"--opacity", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         long n;
         if (!ParseNumber(v, 1, 100, n)) return "--opacity takes a percentage from 1 to 100";
         o.geometry.opacity = int(n);
         return {};
     }},
    {"--position", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         for (int i = 0; i < 9; ++i)
             if (v == kAnchorNames[i]) {
                 o.geometry.position = Anchor(i);
                 return {};
             }
         return "--position takes top-left, top, top-right, left, center, right, bottom-left, "
                "bottom or bottom-right";
     }},
    {"--offset", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         Lengths offset;
         if (!ParseLengths(v, 65500, true, offset))
             return "--offset takes X,Y in pixels (up to 65500) or percent (2%,3%)";
         o.geometry.offset = offset;
         return {};
     }},
    {"--scale-by", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         constexpr const char* names[] = {"width", "height", "shorter", "longer"};
         for (int i = 0; i < 4; ++i)
             if (v == names[i]) {
                 o.geometry.scaleBy = ScaleBy(i);
                 return {};
             }
         return "--scale-by takes width, height, shorter or longer";
     }},
    {"--rotate", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         double degrees = 0;
         auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), degrees);
         if (v.empty() || error != std::errc() || end != v.data() + v.size() ||
             !(std::abs(degrees) <= 360))
             return "--rotate takes an angle in degrees from -360 to 360";
         o.geometry.rotate = degrees;
         return {};
     }},
    {"--tile-spacing", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         Lengths spacing;
         if (!ParseLengths(v, 65500, false, spacing))
             return "--tile-spacing takes X,Y in pixels (up to 65500) or percent (5%,5%)";
         o.geometry.tileSpacing = spacing;
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
    {"--name", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         if (v.empty() || v.find('/') != std::string::npos)
             return "--name takes a file name (--out gives the folder)";
         o.name = v;
         return {};
     }},
    {"--recursive", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.recursive = true;
         return {};
     }},
    {"--follow-links", false,
     [](BatchOptions& o, const std::string&) -> std::string {
         o.followLinks = true;
         return {};
     }},
    {"--preset", true,
     [](BatchOptions& o, const std::string& v) -> std::string {
         if (v.empty()) return "--preset needs a file";
         if (!o.presetPath.empty()) return "give --preset once";
         o.presetPath = v;
         return {};
     }},
};

// Options that hold for the whole run, never one picture: a preset's shape
// sections cannot give them.
const std::set<std::string> kRunWide = {
    "to",   "out",    "name",   "force",          "skip-existing", "jobs",
    "files-from", "0", "shard", "report", "verbose", "encoder-thread",
    "test-picture", "memory-budget", "recursive", "follow-links", "no-auto-orient"};

// One option as given, before it is applied.
struct GivenOption {
    const OptionRow* option;
    std::string value;
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

// What the options applied leave wrong together, or nothing.
std::string CheckTogether(const BatchOptions& options, const std::set<std::string>& given) {
    auto any = [&](std::initializer_list<const char*> names) {
        for (const char* name : names)
            if (given.contains(name)) return true;
        return false;
    };
    if (options.testPicture && (!options.inputs.empty() || !options.filesFrom.empty()))
        return "--test-picture is the one input; give no INPUT or --files-from with it";
    if (options.testPicture && any({"--shard"})) return "--shard splits INPUTs, not --test-picture";
    if (!options.testPicture && options.inputs.empty() && options.filesFrom.empty())
        return "no INPUT given";
    if (options.nulSeparated && options.filesFrom.empty()) return "-0 needs --files-from";
    if (options.force && options.skipExisting) return "give --force or --skip-existing, not both";
    if (options.textGiven && !options.stampPath.empty()) return "give --stamp or --text, not both";
    if (options.stampPath.empty() && !options.textGiven &&
        any({"--mode", "--margin", "--scale", "--times"}))
        return "--mode, --times, --margin and --scale need --stamp or --text";
    if (!options.textGiven &&
        any({"--color", "--size", "--font", "--outline", "--outline-color", "--shadow",
             "--shadow-color", "--shadow-blur"}))
        return "--color, --size, --font, --outline and --shadow need --text";
    if ((options.style.outlineColour && options.style.outline == 0) ||
        ((options.style.shadowColour || options.style.shadowBlur > 0) && !options.style.shadow))
        return "--outline-color needs --outline; --shadow-color and --shadow-blur need --shadow";
    const StampGeometry& geometry = options.geometry;
    if (options.stampPath.empty() && !options.textGiven &&
        std::any_of(std::begin(kGeometryOptions), std::end(kGeometryOptions),
                    [&](const char* name) { return given.contains(name); }))
        return "--opacity, --position, --offset, --scale-by, --rotate and --tile-spacing need "
               "--stamp or --text";
    if (options.mode == kTiledWatermark && (geometry.position || geometry.offset))
        return "--position and --offset place one stamp; --mode 8 tiles it";
    if (options.mode != kTiledWatermark && geometry.tileSpacing) return "--tile-spacing needs --mode 8";
    if (options.scale == 0 && geometry.scaleBy != ScaleBy::Width) return "--scale-by needs --scale";
    if (options.followLinks && !options.recursive) return "--follow-links needs --recursive";
    if (options.lossless && !options.toExtension.empty()) {
        const PictureFormat* to = FormatOfName("x" + options.toExtension);
        if (to && !to->writesLossless)
            return "--quality lossless: " + options.toExtension +
                   " files cannot be lossless; choose --to .webp, .png, .tif or .bmp";
    }
    for (auto [name, text] : {std::pair{"--text", &options.text},
                              std::pair{"--copyright", &options.copyright},
                              std::pair{"--name", &options.name}}) {
        std::string problem;
        TextTemplate::Parse(*text, problem);
        if (!problem.empty()) return std::string(name) + ": " + problem;
    }
    return {};
}

// The options of one preset section: the preset's own, then the section's,
// then the command line's, where each option named on the command line
// keeps only its value there.
ParseResult Combine(const std::vector<GivenOption>& commandLine,
                    const std::vector<std::string>& inputs,
                    const std::vector<std::vector<GivenOption>>& presetLayers) {
    ParseResult result;
    std::set<std::string> given, onCommandLine;
    for (const GivenOption& g : commandLine) onCommandLine.insert(g.option->name);
    for (const std::vector<GivenOption>* layer : {&presetLayers[0], &presetLayers[1], &commandLine}) {
        for (const GivenOption& g : *layer) {
            if (layer != &commandLine && onCommandLine.contains(g.option->name)) continue;
            if (std::string problem = g.option->apply(result.options, g.value); !problem.empty())
                return UsageError(problem);
            given.insert(g.option->name);
        }
    }
    result.options.inputs = inputs;
    if (std::string problem = CheckTogether(result.options, given); !problem.empty())
        return UsageError(problem);
    return result;
}

}  // namespace

std::int32_t Length::On(std::int32_t side) const {
    if (!percent) return amount;
    return std::int32_t(std::lround(double(amount) * side / 100.0));
}

ParseResult ParseArguments(const std::vector<std::string>& args) {
    std::vector<GivenOption> commandLine;
    std::vector<std::string> inputs;
    BatchOptions probe;  // each value is judged as it comes, the first fault reported
    bool optionsEnded = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            ParseResult help;
            help.status = ParseStatus::Help;
            return help;
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
        if (std::string problem = option->apply(probe, value); !problem.empty())
            return UsageError(problem);
        commandLine.push_back({option, std::move(value)});
    }

    // Layers: the preset's options, then one shape section's.
    const std::vector<std::string> kSections = {"", "portrait", "landscape"};
    std::vector<std::vector<GivenOption>> layers(kSections.size());
    if (!probe.presetPath.empty()) {
        const std::string file = "--preset " + probe.presetPath + ": ";
        Preset preset = ReadPreset(probe.presetPath);
        if (!preset.problem.empty()) return UsageError(file + preset.problem);
        for (const PresetValue& v : preset.values) {
            const std::string key = "\"" + v.key + "\"";
            const std::string where = v.section.empty() ? key : "\"" + v.section + "\": " + key;
            const OptionRow* option = v.key.empty() || v.key == "preset" || v.key[0] == '-'
                                          ? nullptr
                                          : FindOption((v.key.size() == 1 ? "-" : "--") + v.key);
            if (!option) return UsageError(file + "unknown key " + where);
            if (!v.section.empty() && kRunWide.contains(v.key))
                return UsageError(file + where + " holds for the whole run; give it outside \"" +
                                  v.section + "\"");
            using Kind = PresetValue::Kind;
            const bool fits = option->takesValue ? v.kind == Kind::Text
                                                 : v.kind == Kind::True || v.kind == Kind::False;
            if (!fits)
                return UsageError(file + where + " takes " +
                                  (option->takesValue ? "a string or number" : "true or false"));
            if (v.kind == Kind::False) continue;
            BatchOptions alone;
            if (std::string problem = option->apply(alone, v.text); !problem.empty())
                return UsageError(file + where + ": " + problem);
            layers[v.section.empty() ? 0 : v.section == "portrait" ? 1 : 2].push_back({option, v.text});
        }
    }

    ParseResult result = Combine(commandLine, inputs, {layers[0], {}});
    if (result.status != ParseStatus::Run || (layers[1].empty() && layers[2].empty())) return result;
    for (std::size_t shape : {1, 2}) {
        ParseResult section = Combine(commandLine, inputs, {layers[0], layers[shape]});
        if (section.status != ParseStatus::Run) {
            section.message = "--preset " + probe.presetPath + ": with \"" + kSections[shape] +
                              "\": " + section.message;
            return section;
        }
        (shape == 1 ? result.options.portrait : result.options.landscape) =
            std::make_shared<const BatchOptions>(std::move(section.options));
    }
    return result;
}

std::string UsageText() {
    return "usage: sigillon-batch [--stamp FILE | --text TEXT [--color C] [--size 1-9]\n"
           "                      [--font F] [--outline W [--outline-color C]]\n"
           "                      [--shadow DX,DY [--shadow-color C] [--shadow-blur R]]]\n"
           "                      [--mode 0-8] [--times N] [--margin N] [--scale P]\n"
           "                      [--scale-by width|height|shorter|longer] [--opacity P]\n"
           "                      [--position ANCHOR] [--offset X,Y] [--rotate DEG]\n"
           "                      [--tile-spacing X,Y]\n"
           "                      [--no-color-management]\n"
           "                      [--to EXT] [--quality keep|Q|lossless] [--memory-budget MB]\n"
           "                      [--out DIR] [--force | --skip-existing]\n"
           "                      [--jobs N] [--copyright TEXT] [--strip-metadata]\n"
           "                      [--no-auto-orient] [--files-from LIST [-0]] [--shard K/N]\n"
           "                      [--report FILE] [--verbose] [--encoder-thread auto|on|off]\n"
           "                      [--accept-damaged] [--preset FILE] [--name TEMPLATE]\n"
           "                      [--recursive [--follow-links]] INPUT...\n"
           "       sigillon-batch --test-picture [options]\n"
           "  --stamp FILE   stamp picture (JPEG, BMP, PNG, TIFF or WebP); a PNG's, TIFF's\n"
           "                 or WebP's alpha is used, and then white is an ordinary colour;\n"
           "                 without a stamp inputs are only converted\n"
           "  --text TEXT    stamp a text, rendered as the desktop program renders it\n"
           "  --color C      black, grey, blue, red, yellow, green, purple or #RRGGBB;\n"
           "                 default black\n"
           "  --size 1-9     text size factor; default 3\n"
           "  --font F       a font family (fc-list lists them) or a .ttf, .otf or .ttc\n"
           "                 file, in its regular face; default bold DejaVu Sans\n"
           "  --outline W    a W-pixel outline (1-100) around the letters, in\n"
           "                 --outline-color C; default black or white, whichever\n"
           "                 stands out from the text colour\n"
           "  --shadow DX,DY a shadow DX pixels right and DY down (-1000 to 1000), in\n"
           "                 --shadow-color C (default as the outline's) blurred by\n"
           "                 --shadow-blur R pixels (0-100, default 0)\n"
           "                 A #RRGGBB colour, --font, --outline or --shadow draw the\n"
           "                 text smoothed on a transparent ground (a stamp with alpha),\n"
           "                 shaped for any script, & an ordinary character; without\n"
           "                 them it is the desktop program's stamp, pixel for pixel\n"
           "  --mode 0-8     0-3 stamp, 4-7 watermark (top-left, top-right, bottom-left,\n"
           "                 bottom-right), 8 tiled watermark; default 0\n"
           "  --times N      stamp each input N times; default 1\n"
           "  --margin N     corner stamps sit N pixels in from both edges; tiles are N apart\n"
           "  --scale P      resize the stamp to P % (1-100) of each picture's width\n"
           "  --scale-by S   the side --scale is a share of: width (the default),\n"
           "                 height (the stamp's height P % of the picture's), shorter or\n"
           "                 longer (the stamp's width P % of that side of the picture)\n"
           "  --opacity P    fade the stamp to P % (1-100) of its opacity; default 100\n"
           "  --position ANCHOR  top-left, top, top-right, left, center, right,\n"
           "                 bottom-left, bottom or bottom-right; the mode then only\n"
           "                 chooses stamp (0-3) or watermark (4-7); not with --mode 8\n"
           "  --offset X,Y   pixels or percent (2%,3%) in from the anchor (at its centred\n"
           "                 sides right and down); default --margin in from its edges\n"
           "  --rotate DEG   turn the stamp DEG degrees anticlockwise (-360 to 360);\n"
           "                 with --mode 8 every tile is turned\n"
           "  --tile-spacing X,Y  gaps between tiles (--mode 8) across and down, in pixels\n"
           "                 or percent of the picture; default --margin both ways\n"
           "  --no-color-management  put the stamp's sRGB bytes on as they are; by\n"
           "                 default a picture with an ICC profile gets the stamp\n"
           "                 converted into that profile (relative colorimetric) first\n"
           "  --to EXT       save as .jpg, .jpeg, .bmp, .png, .tif, .webp, .avif, ...;\n"
           "                 default the input's own. HEIC/HEIF is read, never written:\n"
           "                 its encoder brings GPL and patent terms\n"
           "  --quality keep|Q|lossless  how JPEG, WebP and AVIF outputs are encoded.\n"
           "                 keep (the default): a JPEG\n"
           "                 input keeps its own encoding (quantisation tables, sampling,\n"
           "                 progressive or baseline, restart interval, arithmetic or\n"
           "                 Huffman coding) and every 8 x 8 block the stamp leaves is\n"
           "                 copied as it was, so the picture away from the stamp loses\n"
           "                 nothing; other inputs are saved at 85, as the desktop program\n"
           "                 saves. Q (1-100): every picture re-encoded at quality Q,\n"
           "                 baseline 4:2:0; --quality 85 gives the desktop program's files.\n"
           "                 AVIF outputs: Q (default 70) as AV1 quantizer\n"
           "                 ((100 - Q) * 63 + 50) / 100, alpha lossless\n"
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
           "  --accept-damaged  stamp what a JPEG, TIFF or WebP input whose data is damaged or\n"
           "                 ends early still holds (the rest grey or garbled; in a TIFF\n"
           "                 black), or what libheif's tolerant decoding makes of a\n"
           "                 HEIF/AVIF input, and warn, rather than refuse it\n"
           "  --preset FILE  options from a JSON object keyed by their long names without\n"
           "                 the dashes ({\"mode\": 4, \"force\": true}); its \"portrait\" and\n"
           "                 \"landscape\" objects hold options for pictures of that shape\n"
           "                 once upright (square is landscape); the command line wins\n"
           "  --name TEMPLATE  the outputs' file name, e.g. {stem}-web{ext}\n"
           "  --recursive    walk the folders among the inputs for picture files (known by\n"
           "                 their content; others skipped); --out mirrors each tree\n"
           "  --follow-links  follow symbolic links met in the walk (each folder once)\n"
           "Variables in --text, --copyright and --name: {name} the input's file name,\n"
           "{stem} the output's name without extension, {ext} the output's extension\n"
           "with its dot, {date:FORMAT} (strftime) and {year} of EXIF DateTimeOriginal,\n"
           "{artist}, {make}, {model}, {exif:KEY} any Exiv2 EXIF key; {{ and }} are\n"
           "braces. A value a picture lacks is empty, with a warning.\n"
           "Inputs are JPEG, BMP, PNG, TIFF (the first page), WebP, HEIC/HEIF or AVIF\n"
           "files, known by their content whatever their names; an output's type is that of\n"
           "its name. JPEG, PNG, TIFF, WebP and AVIF outputs keep the input's\n"
           "metadata and colour profile, without the EXIF thumbnail; pictures are turned\n"
           "upright as their EXIF orientation says, before they are stamped (a JPEG\n"
           "turned so is re-encoded with its own tables, its blocks not copied).\n"
           "The last line on standard output is \"N saved, M failed\" (\", K skipped\" when\n"
           "any were); messages go to standard error. Exit status: 0 when nothing failed,\n"
           "1 when any input failed, 2 for a usage error or a run that could not start.\n";
}

}  // namespace sigillon::batch
