// sigillon-batch: stamps many pictures with one stamp from the command line,
// through the same file routines and compositing as the desktop program.
//
// The pieces are plain functions so that tests can drive them without a
// process: parsing the arguments, working out each input's output file and
// what would refuse it, stamping one input, and the whole run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/batch/batch_picture.h"
#include "app/batch/input_list.h"
#include "pictures/raster/bitmap.h"
#include "stamping/compositing.h"
#include "stamping/placed_stamp.h"
#include "stamping/text/text_colours.h"

namespace sigillon::batch {

// Whether a picture read and written row by row has its writing (the
// encoding) on a second thread.
enum class EncoderThread {
    Auto,  // where a core would otherwise stay idle: no picture waits for one
    On,
    Off,
};

struct BatchOptions {
    std::string stampPath;         // empty: convert only
    StampMode mode = 0;            // 0..8
    int times = 1;                 // how often each input is stamped
    std::string toExtension;       // ".jpg", ".bmp" or empty for the input's own
    std::string outDir;            // empty: beside each input
    bool force = false;            // replace existing outputs (never an input)
    int jobs = 0;                  // 0: one per core
    bool testPicture = false;      // the built-in test picture as the one input
    bool textGiven = false;        // --text: render this text as the stamp
    std::string text;              // UTF-8
    int colour = 0;                // index into kTextColours: black
    int size = 3;                  // the size factor, 1..9
    int margin = 0;                // pixels between a stamp and its edges, or between tiles
    int scale = 0;                 // 1..100: the stamp's width in % of each picture's; 0 off
    bool stripMetadata = false;    // write no metadata of the input's
    bool copyrightGiven = false;   // --copyright: write it into the metadata
    std::string copyright;         // UTF-8; defaults to a text stamp's text
    bool autoOrient = true;        // turn pictures upright as their EXIF says
    std::vector<std::string> inputs;
    std::string filesFrom;         // --files-from: a list of further inputs, "-" standard input
    bool nulSeparated = false;     // -0: that list is NUL-separated
    Shard shard;                   // --shard K/N: only the inputs of part K
    bool skipExisting = false;     // leave existing outputs, count them skipped
    std::string reportPath;        // --report: a JSON Lines file, one object per input
    bool verbose = false;          // say for each input how it was read and written, and why
    EncoderThread encoderThread = EncoderThread::Auto;
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

// args excludes the program name.
ParseResult ParseArguments(const std::vector<std::string>& args);

// The short text printed with a usage error and for --help.
std::string UsageText();

// The name the test picture goes by, as an input and as an output base name.
inline constexpr const char* kTestPictureName = "test";

// One picture to stamp: where it comes from and where it goes.
struct BatchJob {
    std::string input;    // path, or kTestPictureName for the test picture
    bool testPicture = false;
    std::string output;   // path of the file to write
    std::string refusal;  // non-empty: do not touch this input; why, without the input's name
    bool skip = false;    // --skip-existing and the output is there: the run leaves it alone
};

// The extension as the file routines see it: from the last '.' of the file
// name to the end, or empty. Letter case is kept.
std::string ExtensionOf(const std::string& path);

// Where one input goes: --out or the input's folder, its base name, the
// --to extension or its own.
std::string OutputPathFor(const std::string& input, bool testPicture,
                          const BatchOptions& options);

// Every input's job with its output, and the refusals that can be decided
// before any picture is read: an output that is one of the inputs, the
// stamp or the list of inputs, an output that exists (without --force or
// --skip-existing), two inputs with the same output. All of options.inputs
// is planned whatever the shard, so that every worker of a split list
// refuses and skips exactly as one worker given the whole list would.
std::vector<BatchJob> PlanJobs(const BatchOptions& options);

enum class JobStatus { Saved, Skipped, Failed };

// What became of one input. A failure's line on standard error is the
// input, ": " and the reason ("scan.bmp: scan.bmp - Error: wrong format
// (BMP: ...)").
struct JobResult {
    JobStatus status = JobStatus::Failed;
    std::string reason;                 // why it failed; empty otherwise
    std::vector<std::string> warnings;  // metadata that was dropped, and why
    int width = 0;                      // the picture's size once it was read; 0 before
    int height = 0;
    double ms = 0;                      // wall-clock time the run spent on it
};

// The name used for a status in the report: "saved", "skipped", "failed".
const char* StatusName(JobStatus status);

// Everything a job needs besides its files; shared by the workers and only
// read by them.
struct JobSettings {
    // The stamps to choose from: one, or a text rendered at every size when
    // it is scaled (the closest size is fitted). Empty: convert only.
    std::vector<StampImage> stamps;
    StampMode mode = 0;
    int times = 1;
    int margin = 0;
    int scale = 0;
    MetadataSettings metadata;
};

// Loads, stamps and saves one input, the whole picture at once. The stamp
// is checked once, before the first of its passes. Nothing escapes.
// (RunJobByRows, app/batch/streaming.h, comes here for what it cannot read
// row by row.)
JobResult RunJob(const BatchJob& job, const JobSettings& settings);

// The stamp for a picture of that width: as it is, or fitted to the share
// --scale asks for.
StampImage StampFor(const JobSettings& settings, std::int32_t pictureWidth);

// Makes the text stamp for --text; the text renderer lives behind it, so
// this library draws no text and loads no Qt.
using TextRenderer = std::function<std::unique_ptr<TBitmap>(const BatchOptions&)>;

// The whole tool after parsing: the list of inputs, this shard's part of
// it, the stamp, the workers, the report and the summary, which is the
// last line on standard output. Returns the exit status: 0 when nothing
// failed, 1 when any input failed, 2 when the run could not start (no
// such --out folder, an unreadable list, a report that cannot be written
// or would replace a file of the run).
int RunBatch(const BatchOptions& options, const TextRenderer& renderText = {});

}  // namespace sigillon::batch
