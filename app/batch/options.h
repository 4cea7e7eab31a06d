// sigillon-batch's command line: the options, what each takes, and the
// usage text.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/batch/input_list.h"
#include "stamping/compositing.h"
#include "stamping/stamp_scaling.h"
#include "stamping/text/text_style.h"

namespace sigillon::batch {

// Whether a picture read and written row by row has its writing (the
// encoding) on a second thread.
enum class EncoderThread {
    Auto,  // where a core would otherwise stay idle: no picture waits for one
    On,
    Off,
};

// A distance in pixels, or in percent of the picture's width or height.
struct Length {
    std::int32_t amount = 0;
    bool percent = false;
    // In pixels on a picture side of that many pixels, rounded half away
    // from zero.
    std::int32_t On(std::int32_t side) const;
};
struct Lengths {
    Length x, y;
};

// Where the stamp goes, how large, turned and faded: resolved for each
// picture size (job.h), since percentages depend on it.
struct StampGeometry {
    int opacity = 100;                  // 1..100, multiplies the stamp's alpha
    ScaleBy scaleBy = ScaleBy::Width;   // which picture side --scale is a share of
    double rotate = 0;                  // degrees anticlockwise
    std::optional<Anchor> position;     // none: the mode's corner
    std::optional<Lengths> offset;      // none: --margin in from the anchor's edges
    std::optional<Lengths> tileSpacing; // none: --margin between tiles
};

struct BatchOptions {
    std::string stampPath;         // empty: convert only
    StampMode mode = 0;            // 0..8
    int times = 1;                 // how often each input is stamped
    std::string toExtension;       // lower case with its dot (".jpeg"), or empty for the input's own
    std::string outDir;            // empty: beside each input
    bool force = false;            // replace existing outputs (never an input)
    int jobs = 0;                  // 0: one per core
    bool testPicture = false;      // the built-in test picture as the one input
    bool textGiven = false;        // --text: render this text as the stamp
    std::string text;              // UTF-8
    int colour = 0;                // index into kTextColours: black
    int size = 3;                  // the size factor, 1..9
    TextStyle style;               // --font, #RRGGBB --color, --outline, --shadow
    bool colourManagement = true;  // the stamp converted into each picture's ICC profile
    int margin = 0;                // pixels between a stamp and its edges, or between tiles
    int scale = 0;                 // 1..100: the stamp's width in % of each picture's; 0 off
    StampGeometry geometry;        // placed, sized, turned and faded as asked
    bool stripMetadata = false;    // write no metadata of the input's
    bool copyrightGiven = false;   // --copyright: write it into the metadata
    std::string copyright;         // UTF-8; defaults to a text stamp's text
    bool autoOrient = true;        // turn pictures upright as their EXIF says
    bool acceptDamaged = false;    // stamp what a damaged JPEG input holds, with a warning
    int quality = 0;               // 1..100, or 0 (keep): a JPEG input's own encoding, others 85
    bool lossless = false;         // --quality lossless: every pixel kept (WebP); refused for JPEG
    int memoryBudget = 0;          // MB a JPEG's coefficients may take to keep its blocks; 0: auto
    std::vector<std::string> inputs;
    std::string filesFrom;         // --files-from: a list of further inputs, "-" standard input
    bool nulSeparated = false;     // -0: that list is NUL-separated
    Shard shard;                   // --shard K/N: only the inputs of part K
    bool skipExisting = false;     // leave existing outputs, count them skipped
    std::string reportPath;        // --report: a JSON Lines file, one object per input
    bool verbose = false;          // say for each input how it was read and written, and why
    EncoderThread encoderThread = EncoderThread::Auto;
    std::string name;              // --name: the outputs' file name with variables; empty: their own
    bool recursive = false;        // walk the folders among the inputs
    bool followLinks = false;      // a walk follows symbolic links
    std::string presetPath;        // --preset: a JSON file of options
    // The options for pictures of that shape, from the preset's sections
    // (command line over section over the rest); null: these.
    std::shared_ptr<const BatchOptions> portrait;
    std::shared_ptr<const BatchOptions> landscape;
};

enum class ParseStatus {
    Run,         // options are complete
    Help,        // --help: print the usage text, exit 0
    UsageError,  // message says what was wrong
};

struct ParseResult {
    ParseStatus status = ParseStatus::Run;
    BatchOptions options;
    std::string message;
};

// args excludes the program name. A --preset file is read here.
ParseResult ParseArguments(const std::vector<std::string>& args);

// The short text printed with a usage error and for --help.
std::string UsageText();

}  // namespace sigillon::batch
