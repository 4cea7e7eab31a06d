// One input of the batch tool from its file to its output: opened as rows,
// the stamp planned and checked once for its size, every row pumped through
// the stamp into the output's row writer, the metadata written with it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/batch/input.h"
#include "app/batch/plan.h"
#include "stamping/colour_managed_stamp.h"
#include "stamping/placed_stamp.h"

namespace sigillon::batch {

enum class JobStatus { Saved, Skipped, Failed };

// The name used for a status in the report: "saved", "skipped", "failed".
const char* StatusName(JobStatus status);

// What became of one input. A failure's line on standard error is the
// input, ": " and the reason ("scan.bmp: scan.bmp - Error: wrong format
// (BMP: ...)").
struct JobResult {
    JobStatus status = JobStatus::Failed;
    std::string reason;                 // why it failed; empty otherwise
    std::vector<std::string> warnings;  // metadata that was dropped, and why; damage accepted
    int width = 0;                      // the picture's size once it was read; 0 before
    int height = 0;
    double ms = 0;                      // wall-clock time the run spent on it
    // For --verbose: which way the input went and why ("photo.jpg: row by
    // row, on one thread").
    std::string route;
};

// --quality keep: a JPEG input saved as JPEG keeps its encoding and its
// blocks (kept_jpeg.h); other inputs are saved at kSavedJpegQuality.
inline constexpr int kKeepQuality = 0;

// The stamps made ready for each picture size, kept for the next picture of
// that size (job.cpp).
class PreparedStamps;
std::shared_ptr<PreparedStamps> NoStampsPrepared();

// Everything a job needs besides its files; shared by the workers and only
// read by them.
struct JobSettings {
    // The stamps to choose from: one, or a text rendered at every size when
    // it is scaled (the closest size is fitted). Empty: convert only.
    std::vector<StampImage> stamps;
    // The stamps converted into each picture's ICC profile; none: put on
    // as they are (--no-color-management).
    std::shared_ptr<const StampsByProfile> profiles;
    StampMode mode = 0;
    int times = 1;
    int margin = 0;
    int scale = 0;
    StampGeometry geometry;
    // Filled as pictures come; shared by copies of these settings.
    std::shared_ptr<PreparedStamps> prepared = NoStampsPrepared();
    MetadataSettings metadata;
    bool acceptDamaged = false;  // stamp what a damaged JPEG file still holds
    int quality = kKeepQuality;  // or 1..100 for every JPEG and WebP output
    bool lossless = false;       // WebP outputs lossless; the plan refuses JPEG outputs
    // Bytes one picture's coefficients may take to keep its blocks; 0: the
    // machine's share for one picture.
    std::uint64_t memoryBudget = 0;
};

// The stamp for a picture of that size: as it is, or fitted to the share
// --scale asks for, then turned and faded as the settings say; from
// stamps, or from the settings' when none are given. Made once for each
// size (once in all when nothing depends on the size) and kept.
StampImage StampFor(const JobSettings& settings, std::int32_t pictureWidth,
                    std::int32_t pictureHeight = 0,
                    const std::vector<StampImage>* stamps = nullptr);

// Where the stamp goes on a picture of that size: the mode's corner and
// margin unless --position, --offset or --tile-spacing say otherwise.
// --margin with --position keeps the stamp in from the edges its anchor
// touches and centred along the others.
Placement PlacementFor(const JobSettings& settings, std::int32_t pictureWidth,
                       std::int32_t pictureHeight);

// The stamp planned for a picture of this size and checked once, before any
// pixel is read, in the colours of the ICC profile the output carries (icc;
// empty: sRGB); none when the run only converts. A profile that cannot be
// used adds a warning.
Expected<std::optional<PlacedStamp>> PlanStamp(const JobSettings& settings, std::int32_t width,
                                               std::int32_t height, bool trueColour,
                                               std::span<const std::uint8_t> icc,
                                               std::vector<std::string>& warnings);

// Reads, stamps and writes one input, its rows written on a second thread
// when encoderThread says so. Nothing escapes; a failure leaves no output.
JobResult RunJob(const BatchJob& job, const JobSettings& settings, bool encoderThread = false);

}  // namespace sigillon::batch
