#include "app/batch/job.h"

#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>

#include "app/batch/kept_jpeg.h"
#include "app/batch/row_pipeline.h"
#include "pictures/formats.h"
#include "stamping/stamp_scaling.h"

namespace sigillon::batch {
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
        PlanStamp(settings, rows.Width(), rows.Height(), rows.Depth() == Depth24);
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

// The stamp for one picture: as it is, or fitted to the share of the
// picture's width that --scale asks for, from the stamp whose width comes
// closest (a text rendered at every size).
Expected<std::optional<PlacedStamp>> PlanStamp(const JobSettings& settings, std::int32_t width,
                                               std::int32_t height, bool trueColour) {
    if (settings.stamps.empty()) return std::optional<PlacedStamp>();
    StampImage stamp = StampFor(settings, width);
    // Sizes without storage count as nothing, as the program's check has it.
    const bool held = stamp.pixels && !stamp.pixels->IsEmpty();
    if (auto refusal = PlacementRefusal(held ? stamp.Width() : 0, held ? stamp.Height() : 0,
                                        width, height, trueColour, settings.mode, settings.margin))
        return Failure{Failure::Side::Input, *refusal};
    return std::optional<PlacedStamp>(std::in_place, std::move(stamp), width, height,
                                      settings.mode, settings.margin);
}

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
