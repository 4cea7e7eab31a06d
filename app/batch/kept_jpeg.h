// A JPEG input saved as JPEG with --quality keep: every block the stamp
// leaves is copied from the input as it was, and only the blocks with a
// changed pixel are encoded again, with the input's own tables
// (pictures/jpeg/jpeg_transcode.h). Where that cannot be or does not pay,
// the picture is re-encoded row by row with the input's tables instead:
//   - a picture turned upright by its EXIF orientation (its blocks would
//     need turning too);
//   - a baseline picture whose coefficients would take more than the
//     memory budget (a progressive one is held whole by libjpeg to decode
//     it either way, so it keeps its blocks, held once rather than twice,
//     and is re-encoded for the stamp's size below only within the budget
//     twice over);
//   - a stamp that can change more than kCopyBlocksShare of the picture
//     (the rows it reaches times the columns it can change in them), where
//     decoding and encoding its blocks beside the copy takes longer than
//     re-encoding the picture: the tiled stamp, or a large one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "app/batch/job.h"
#include "pictures/jpeg/jpeg_encoding.h"

namespace sigillon::batch {

// Above this share of the picture under the stamp it is re-encoded rather
// than its blocks copied: about where the two took the same time on a
// 6000 x 4000 quality-92 photo with stamps as wide as the picture, against
// re-encoding on one thread (the case of many pictures on every core).
inline constexpr double kCopyBlocksShare = 0.08;

// The memory one picture's coefficients may take when --memory-budget does
// not say: a quarter of the machine's memory, shared among the pictures
// worked on at once, and at most kMaxDefaultMemoryBudget.
inline constexpr std::uint64_t kMaxDefaultMemoryBudget = std::uint64_t(1) << 30;
std::uint64_t DefaultMemoryBudget(std::size_t picturesAtOnce);

// Whether the job keeps a JPEG input's encoding: --quality keep, a JPEG
// output, an input whose first bytes are a JPEG file's.
bool KeepsJpegEncoding(const BatchJob& job, const JobSettings& settings);

// Which way a JPEG input that keeps its encoding went: saved with its
// blocks copied, or to be re-encoded with its tables, and why.
struct KeptJpeg {
    bool saved = false;
    JpegEncoding encoding;
    std::string why;
};

// Copies the blocks the stamp leaves into the output, or says why the
// picture is re-encoded with its tables instead. Nothing when libjpeg
// refuses the header: the ordinary reading then says why in its words.
// Throws BitmapError, blamed on side.
Expected<std::optional<KeptJpeg>> KeepJpegBlocks(const BatchJob& job, const JobSettings& settings,
                                                 Failure::Side& side, JobResult& result);

}  // namespace sigillon::batch
