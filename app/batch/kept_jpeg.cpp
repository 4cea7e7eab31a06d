#include "app/batch/kept_jpeg.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "pictures/formats.h"
#include "pictures/jpeg/jpeg_metadata.h"
#include "pictures/jpeg/jpeg_transcode.h"
#include "pictures/metadata/metadata_edit.h"

namespace sigillon::batch {
namespace {

std::string Megabytes(std::uint64_t bytes) {
    return std::to_string((bytes + (1 << 19)) >> 20) + " MB";
}

// The columns of the stamp's rows that it can change, whatever the
// picture: every stamping rule that changes a pixel of some colour changes
// a black or a white one (a solid stamp pixel of any opacity moves black
// up or white down; a watermark's shift moves one of them), so the stamp
// burnt once into a black row and a white row shows them. Stops once they
// are wider than enough columns, which decides for re-encoding: for a tiled
// stamp at its first row with a mark, not after burning it in twice over.
JpegTranscoder::Region StampedRegion(const PlacedStamp& stamp, std::int32_t width,
                                     std::int32_t enough, bool& stoppedEarly) {
    JpegTranscoder::Region region{width, stamp.FirstRow(), 0, stamp.EndRow()};
    const std::size_t bytes = std::size_t(width) * 3;
    std::vector<std::uint8_t> black(bytes), white(bytes);
    for (std::int32_t y = stamp.FirstRow(); y < stamp.EndRow(); ++y) {
        if (region.right - region.left >= enough) {
            stoppedEarly = region.right - region.left < width;
            break;
        }
        std::fill(black.begin(), black.end(), 0);
        std::fill(white.begin(), white.end(), 255);
        stamp.StampRow(y, black.data());
        stamp.StampRow(y, white.data());
        for (std::int32_t x = 0; x < width; ++x)
            if (black[3 * std::size_t(x)] | black[3 * std::size_t(x) + 1] |
                    black[3 * std::size_t(x) + 2] ||
                (white[3 * std::size_t(x)] & white[3 * std::size_t(x) + 1] &
                 white[3 * std::size_t(x) + 2]) != 255) {
                region.left = std::min(region.left, x);
                region.right = std::max(region.right, x + 1);
            }
    }
    if (region.left >= region.right) region.left = region.right = 0;
    return region;
}

}  // namespace

std::uint64_t DefaultMemoryBudget(std::size_t picturesAtOnce) {
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageBytes = ::sysconf(_SC_PAGESIZE);
    const std::uint64_t memory = pages > 0 && pageBytes > 0
                                     ? std::uint64_t(pages) * std::uint64_t(pageBytes)
                                     : std::uint64_t(4) << 30;
    // Held coefficients beyond about a gigabyte cost more in memory traffic
    // than copying saves: a 30,000 x 20,000 picture (3.5 GB of them) took
    // twice as long as streaming it with its own tables.
    return std::min(kMaxDefaultMemoryBudget, memory / 4 / std::max<std::size_t>(1, picturesAtOnce));
}

bool KeepsJpegEncoding(const BatchJob& job, const JobSettings& settings) {
    if (settings.quality != kKeepQuality || job.testPicture) return false;
    const PictureFormat* output = FormatOfName(job.output);
    // Whether the input is a JPEG file is for the transcoder to find: it
    // reads the header anyway, and declines what is not one.
    return output && output->name == "JPEG";
}

Expected<std::optional<KeptJpeg>> KeepJpegBlocks(const BatchJob& job, const JobSettings& settings,
                                                 Failure::Side& side, JobResult& result) {
    side = Failure::Side::Input;
    std::optional<JpegTranscoder> jpeg;
    try {
        jpeg.emplace(job.input, settings.metadata.keep || settings.metadata.autoOrient);
    } catch (const BitmapError&) {
        return std::optional<KeptJpeg>();
    }
    result.width = jpeg->Width();
    result.height = jpeg->Height();
    KeptJpeg kept;
    kept.encoding = jpeg->Encoding();
    if (settings.metadata.autoOrient && ExifOrientation(jpeg->Metadata()) != 1) {
        kept.why = "its EXIF orientation turns it upright";
        return std::optional<KeptJpeg>(std::move(kept));
    }

    side = Failure::Side::Stamp;
    // The stamp takes the colours of the profile the output will carry.
    std::vector<std::string> profileWarnings;
    const std::vector<std::uint8_t> none;
    Expected<std::optional<PlacedStamp>> placed =
        PlanStamp(settings, jpeg->Width(), jpeg->Height(), jpeg->TrueColour(),
                  settings.metadata.keep ? jpeg->Metadata().icc : none, profileWarnings);
    if (!placed) return placed.error();
    const PlacedStamp* stamp = *placed ? &**placed : nullptr;

    side = Failure::Side::Input;
    const std::uint64_t coefficients = jpeg->CoefficientBytes();
    const std::uint64_t budget =
        settings.memoryBudget ? settings.memoryBudget : DefaultMemoryBudget(1);
    const bool progressive = kept.encoding.progressive;
    if (!progressive && coefficients > budget) {
        kept.why = "its coefficients would take " + Megabytes(coefficients) +
                   ", over the budget of " + Megabytes(budget);
        return std::optional<KeptJpeg>(std::move(kept));
    }
    // Columns beyond which the stamp's rows pass kCopyBlocksShare, where
    // the region is not needed; the whole width when it may be copied.
    const bool mayReencode = !progressive || 2 * coefficients <= budget;
    std::int32_t enough = jpeg->Width();
    if (stamp && mayReencode) {
        const double rows = std::max(1, stamp->EndRow() - stamp->FirstRow());
        const double columns = kCopyBlocksShare * jpeg->Width() * jpeg->Height() / rows;
        enough = std::int32_t(std::min<double>(jpeg->Width(), std::floor(columns) + 1));
    }
    bool stoppedEarly = false;
    const JpegTranscoder::Region region =
        stamp ? StampedRegion(*stamp, jpeg->Width(), enough, stoppedEarly)
              : JpegTranscoder::Region{};
    const double share = double(region.right - region.left) * double(region.bottom - region.top) /
                         (double(jpeg->Width()) * double(jpeg->Height()));
    if (share > kCopyBlocksShare && mayReencode) {
        kept.why = std::string("the stamp reaches ") + (stoppedEarly ? "at least " : "") +
                   std::to_string(int(share * 100 + 0.5)) +
                   " % of the picture, where re-encoding is faster than copying blocks";
        return std::optional<KeptJpeg>(std::move(kept));
    }

    PictureMetadata metadata = std::move(jpeg->Metadata());
    std::vector<std::string> warnings = std::move(jpeg->MetadataDropped());
    PrepareMetadata(metadata, warnings, settings.metadata, false);
    warnings.insert(warnings.end(), profileWarnings.begin(), profileWarnings.end());
    if (!metadata.Empty()) {
        std::vector<std::string> left = JpegMetadataWarnings(metadata, kept.encoding.components);
        warnings.insert(warnings.end(), left.begin(), left.end());
    }
    jpeg->ReadCoefficients();
    if (jpeg->Damaged()) {
        // The row reader refuses it at its first damaged row, or with
        // --accept-damaged decodes what it holds.
        kept.why = "its picture data is damaged";
        return std::optional<KeptJpeg>(std::move(kept));
    }
    for (std::string& warning : jpeg->Warnings()) warnings.push_back(std::move(warning));
    std::int64_t changed = 0;
    if (stamp) {
        changed = jpeg->ChangeRegion(region, [&](std::int32_t y, std::uint8_t* row) {
            for (int pass = 0; pass < settings.times; ++pass) stamp->StampRow(y, row);
        });
    }
    side = Failure::Side::Output;
    jpeg->Write(job.output, metadata);
    result.route = job.input + ": blocks outside the stamp copied, " + std::to_string(changed) +
                   " of " + std::to_string(jpeg->Blocks()) +
                   " blocks encoded again with the input's tables";
    result.warnings = std::move(warnings);
    kept.saved = true;
    return std::optional<KeptJpeg>(std::move(kept));
}

}  // namespace sigillon::batch
