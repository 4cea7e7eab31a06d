#include "app/batch/job.h"

#include <cstdlib>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <tuple>
#include <utility>

#include "app/batch/kept_jpeg.h"
#include "app/batch/row_pipeline.h"
#include "pictures/formats.h"
#include "stamping/stamp_scaling.h"
#include "stamping/stamp_transform.h"

namespace sigillon::batch {

// A few sizes are enough for the cameras of one run; a run of ever new
// sizes starts again rather than holding them all.
class PreparedStamps {
public:
    // The stamps prepared from (the settings' own, or those converted into
    // a profile) and the picture size that matters.
    using Key = std::tuple<const void*, std::int32_t, std::int32_t>;
    std::optional<StampImage> Find(const Key& size) {
        std::lock_guard lock(mutex_);
        auto found = stamps_.find(size);
        if (found == stamps_.end()) return std::nullopt;
        return found->second;
    }
    void Keep(const Key& size, const StampImage& stamp) {
        std::lock_guard lock(mutex_);
        if (stamps_.size() >= kSizes) stamps_.clear();
        stamps_.emplace(size, stamp);
    }

private:
    static constexpr std::size_t kSizes = 16;
    std::mutex mutex_;
    std::map<Key, StampImage> stamps_;
};

std::shared_ptr<PreparedStamps> NoStampsPrepared() { return std::make_shared<PreparedStamps>(); }

namespace {

// The output's writer, made when the first rows come: an input refused at
// its first rows (a damaged JPEG file) is refused for that, and leaves not
// even a temporary file behind.
class WriterOnFirstRows final : public PictureRowWriter {
public:
    explicit WriterOnFirstRows(std::function<std::unique_ptr<PictureRowWriter>()> make)
        : make_(std::move(make)) {}
    void Write(const std::uint8_t* rows, std::int32_t count) override {
        Writer().Write(rows, count);
    }
    void Finish() override { Writer().Finish(); }

private:
    PictureRowWriter& Writer() {
        if (!writer_) writer_ = make_();
        return *writer_;
    }
    std::function<std::unique_ptr<PictureRowWriter>()> make_;
    std::unique_ptr<PictureRowWriter> writer_;
};

// reencoded: why a JPEG input that keeps its encoding is re-encoded.
std::string Route(const BatchJob& job, const OpenedInput& input, bool encoderThread,
                  const PictureFormat* output, const std::string& reencoded) {
    std::string route = job.input + ": ";
    if (!reencoded.empty()) route += "re-encoded with the input's tables (" + reencoded + "), ";
    if (input.byRows)
        route += std::string("row by row, ") +
                 (encoderThread ? "writing on a second thread" : "on one thread") +
                 (input.how.empty() ? "" : ", " + input.how);
    else
        route += "whole picture, " + input.how;
    if (output && !output->openRows) route += "; " + std::string(output->name) + " written whole";
    return route;
}

// The job's steps; what the codecs throw is caught once, by RunJob, and
// blamed on the side the job had reached.
Expected<Done> Stamp(const BatchJob& job, const JobSettings& settings, bool encoderThread,
                     Failure::Side& side, JobResult& result) {
    // Before the input is read: a HEIF input's own type, kept without --to.
    if (const PictureFormat* output = FormatOfName(job.output); output && !output->createRowWriter)
        return FileFailure(Failure::Side::Output, job.output,
                           std::string(output->name) + " files are read, not written: choose " +
                               "another type with --to (" + KnownExtensions(true) + ")");
    std::optional<KeptJpeg> kept;
    if (KeepsJpegEncoding(job, settings)) {
        Expected<std::optional<KeptJpeg>> keeping = KeepJpegBlocks(job, settings, side, result);
        if (!keeping) return keeping.error();
        if (*keeping && (*keeping)->saved) return Done{};
        kept = std::move(*keeping);
        side = Failure::Side::Input;
    }

    Expected<OpenedInput> opened = OpenInput(job.input, job.testPicture, settings.metadata, settings.acceptDamaged);
    if (!opened) return opened.error();
    OpenedInput& input = *opened;
    PictureRowReader& rows = *input.rows;
    if (rows.Width() > 0 && rows.Height() > 0) {
        result.width = rows.Width();
        result.height = rows.Height();
    }

    side = Failure::Side::Stamp;
    Expected<std::optional<PlacedStamp>> placed =
        PlanStamp(settings, rows.Width(), rows.Height(), rows.Depth() == Depth24,
                  input.metadata.icc, input.warnings);
    if (!placed) return placed.error();

    side = Failure::Side::Output;
    const PictureFormat* format = FormatOfName(job.output);
    result.route = Route(job, input, encoderThread, format, kept ? kept->why : "");
    if (!format)
        return FileFailure(side, job.output,
                           "the name ends in no picture file type (" + KnownExtensions() + ")");
    WriteSettings write;
    // Keeping a JPEG's own encoding is jpegEncoding's; otherwise no number
    // given means the output format's default.
    if (settings.quality != kKeepQuality) write.quality = settings.quality;
    write.lossless = settings.lossless;
    if (kept) {
        write.jpegEncoding = &kept->encoding;
        input.warnings.push_back("re-encoded with the input's tables: " + kept->why);
    }
    write.metadata = &input.metadata;
    write.alpha = rows.Alpha();
    WriterOnFirstRows writer(
        [&] { return format->createRowWriter(job.output, rows.Format(), write, input.warnings); });

    const PlacedStamp* stamp = *placed ? &**placed : nullptr;
    Expected<Done> pumped = PumpRows(rows, stamp, settings.times, writer, encoderThread,
                                     !format->keepsAlpha && !rows.Alpha().empty());
    if (!pumped) {
        const Failure& failure = pumped.error();
        return FileFailure(failure.side, failure.side == Failure::Side::Input ? job.input : job.output,
                           failure.message);
    }
    for (std::string& warning : rows.Warnings()) input.warnings.push_back(std::move(warning));
    result.warnings = std::move(input.warnings);
    return Done{};
}

}  // namespace

const char* StatusName(JobStatus status) {
    switch (status) {
        case JobStatus::Saved: return "saved";
        case JobStatus::Skipped: return "skipped";
        case JobStatus::Failed: break;
    }
    return "failed";
}

// The stamp for one picture, prepared for its size, then placed and
// checked.
Expected<std::optional<PlacedStamp>> PlanStamp(const JobSettings& settings, std::int32_t width,
                                               std::int32_t height, bool trueColour,
                                               std::span<const std::uint8_t> icc,
                                               std::vector<std::string>& warnings) {
    if (settings.stamps.empty()) return std::optional<PlacedStamp>();
    StampsInProfile inProfile;
    if (settings.profiles && !icc.empty()) {
        inProfile = settings.profiles->For(icc);
        if (!inProfile.warning.empty()) warnings.push_back(inProfile.warning);
    }
    StampImage stamp = StampFor(settings, width, height, inProfile.stamps.get());
    // Sizes without storage count as nothing, as the program's check has it.
    const bool held = stamp.pixels && !stamp.pixels->IsEmpty();
    const Placement placement = PlacementFor(settings, width, height);
    if (auto refusal = PlacementRefusal(held ? stamp.Width() : 0, held ? stamp.Height() : 0,
                                        width, height, trueColour, placement))
        return Failure{Failure::Side::Input, *refusal};
    return std::optional<PlacedStamp>(std::in_place, std::move(stamp), width, height, placement);
}

Placement PlacementFor(const JobSettings& settings, std::int32_t pictureWidth,
                       std::int32_t pictureHeight) {
    Placement placement = MarginPlacement(settings.mode, settings.margin);
    const StampGeometry& geometry = settings.geometry;
    if (geometry.position) {
        placement.anchor = *geometry.position;
        const int anchor = int(*geometry.position);
        if (anchor % 3 == 1) placement.offsetX = 0;
        if (anchor / 3 == 1) placement.offsetY = 0;
    }
    if (geometry.offset) {
        placement.offsetX = geometry.offset->x.On(pictureWidth);
        placement.offsetY = geometry.offset->y.On(pictureHeight);
    }
    if (geometry.tileSpacing) {
        placement.gapX = geometry.tileSpacing->x.On(pictureWidth);
        placement.gapY = geometry.tileSpacing->y.On(pictureHeight);
    }
    return placement;
}

// Fitted to the share of the picture --scale asks for from the stamp that
// comes closest (a text rendered at every size), then turned, then faded,
// so that the opacity is exactly that of the stamp as placed.
StampImage StampFor(const JobSettings& settings, std::int32_t pictureWidth,
                    std::int32_t pictureHeight, const std::vector<StampImage>* stamps) {
    const std::vector<StampImage>& from = stamps ? *stamps : settings.stamps;
    const StampImage& first = from.front();
    const StampGeometry& geometry = settings.geometry;
    const bool scaled = settings.scale > 0 && pictureWidth > 0;
    if (!first.pixels || first.pixels->IsEmpty() ||
        (!scaled && geometry.rotate == 0 && geometry.opacity == 100))
        return first;
    // Only a scaled stamp depends on the picture's size; the height only
    // when --scale-by looks at it.
    const PreparedStamps::Key key = {
        &from, scaled ? pictureWidth : 0,
        scaled && geometry.scaleBy != ScaleBy::Width ? pictureHeight : 0};
    if (std::optional<StampImage> kept = settings.prepared->Find(key)) return *kept;

    StampImage stamp = first;
    if (scaled) {
        auto target = [&](const StampImage& from) {
            return ScaledSize(from.Width(), from.Height(), pictureWidth, pictureHeight,
                              settings.scale, geometry.scaleBy);
        };
        const bool byHeight = geometry.scaleBy == ScaleBy::Height;
        auto miss = [&](const StampImage& from) {
            const StampSize want = target(from);
            return byHeight ? std::abs(from.Height() - want.height)
                            : std::abs(from.Width() - want.width);
        };
        const StampImage* closest = &first;
        for (const StampImage& candidate : from)
            if (miss(candidate) < miss(*closest)) closest = &candidate;
        const StampSize size = target(*closest);
        stamp = ScaleStamp(*closest, size.width, size.height);
    }
    if (geometry.rotate != 0) stamp = RotateStamp(stamp, geometry.rotate);
    stamp = WithOpacity(stamp, geometry.opacity);
    settings.prepared->Keep(key, stamp);
    return stamp;
}

JobResult RunJob(const BatchJob& job, const JobSettings& settings, bool encoderThread) {
    JobResult result;
    if (!job.refusal.empty()) {
        result.reason = job.refusal;
        result.route = job.input + ": not read, refused before reading";
        return result;
    }
    Failure::Side side = Failure::Side::Input;
    auto blame = [&](const std::string& reason) -> Failure {
        switch (side) {
            case Failure::Side::Input: return FileFailure(side, job.input, reason);
            case Failure::Side::Output: return FileFailure(side, job.output, reason);
            case Failure::Side::Stamp: break;
        }
        return {side, reason};  // fitting the stamp to this picture
    };
    Expected<Done> done = Failure{};
    try {
        done = Stamp(job, settings, encoderThread, side, result);
    } catch (const std::bad_alloc&) {
        done = blame("out of memory");
    } catch (const std::exception& error) {
        done = blame(error.what());
    }
    if (done) {
        result.status = JobStatus::Saved;
    } else {
        result.reason = done.error().message;
        result.warnings.clear();
    }
    if (result.route.empty()) result.route = job.input + ": not read, " + result.reason;
    return result;
}

}  // namespace sigillon::batch
