#include "app/batch/streaming.h"

#include <sched.h>

#include <algorithm>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <thread>

#include "app/batch/row_pipeline.h"
#include "pictures/jpeg/jpeg_metadata.h"
#include "pictures/metadata/metadata_edit.h"
#include "pictures/picture_files.h"
#include "pictures/bmp/bmp_rows.h"
#include "pictures/jpeg/jpeg_rows.h"
#include "stamping/placed_stamp.h"

namespace sigillon::batch {
namespace {

std::string ByWhole(const BatchJob& job, const std::string& why) {
    return job.input + ": whole picture, " + why;
}

// The row path, or nothing when the input is for the whole-picture path;
// route then says why.
std::optional<JobResult> TryByRows(const BatchJob& job, const JobSettings& settings,
                                   bool encoderThread, std::string& route) {
    if (job.testPicture) {
        route = ByWhole(job, "the test picture is made in memory");
        return std::nullopt;
    }
    const BatchKind in = BatchKindOf(job.input);
    const BatchKind out = BatchKindOf(job.output);
    if (in == BatchKind::Png || out == BatchKind::Png) {
        route = ByWhole(job, "PNG files are read and written whole");
        return std::nullopt;
    }
    if (in == BatchKind::None || out == BatchKind::None) {
        route = ByWhole(job, "its name ends in no picture file type");
        return std::nullopt;
    }

    // A file the row reader refuses goes to the whole-picture reader, which
    // says why in its own words.
    RowReaderOpening opening;
    BatchPicture picture;  // the metadata and warnings; the pixels pass by
    try {
        // The metadata comes from the header the row reader reads anyway.
        const bool withMetadata = settings.metadata.keep || settings.metadata.autoOrient;
        opening = in == BatchKind::Jpeg
                      ? OpenJpegRowReader(job.input, {}, kJpegRowLimits, withMetadata)
                      : OpenBmpRowReader(job.input);
        picture.metadata = std::move(opening.metadata);
        picture.warnings = std::move(opening.metadataDropped);
    } catch (const std::exception& error) {
        route = ByWhole(job, std::string("the row reader refused it (") + error.what() + ")");
        return std::nullopt;
    }
    if (!opening.reader) {
        route = ByWhole(job, opening.whyNot);
        return std::nullopt;
    }
    if (settings.metadata.autoOrient && ExifOrientation(picture.metadata) != 1) {
        route = ByWhole(job, "its EXIF orientation turns it, which takes the whole picture");
        return std::nullopt;
    }
    PictureRowReader& reader = *opening.reader;
    route = job.input + ": row by row, " +
            (encoderThread ? "writing on a second thread" : "on one thread") +
            (opening.note.empty() ? "" : ", " + opening.note);

    JobResult result;
    result.width = reader.Width();
    result.height = reader.Height();
    auto failed = [&](const std::string& reason) {
        result.status = JobStatus::Failed;
        result.reason = reason;
        return result;
    };

    // The stamp is checked from the header, before any row is read.
    std::optional<PlacedStamp> placed;
    if (!settings.stamps.empty()) {
        StampImage stamp = StampFor(settings, reader.Width());
        const bool stampHeld = stamp.pixels && !stamp.pixels->IsEmpty();
        if (auto refusal = PlacementRefusal(stampHeld ? stamp.Width() : 0,
                                            stampHeld ? stamp.Height() : 0, reader.Width(),
                                            reader.Height(), reader.Depth() == Depth24,
                                            settings.mode, settings.margin))
            return failed(*refusal);
        placed.emplace(std::move(stamp), reader.Width(), reader.Height(), settings.mode,
                       settings.margin);
    }
    PrepareMetadata(picture, settings.metadata, false);

    std::unique_ptr<PictureRowWriter> writer;
    try {
        if (out == BatchKind::Jpeg) {
            // As the whole-picture path saves: colour at the saved quality,
            // with the metadata when there is any.
            if (!picture.metadata.Empty()) {
                std::vector<std::string> left = JpegMetadataWarnings(picture.metadata, 3);
                picture.warnings.insert(picture.warnings.end(), left.begin(), left.end());
            }
            writer = CreateJpegRowWriter(job.output, reader.Format(), kSavedJpegQuality,
                                         picture.metadata);
        } else {
            writer = CreateBmpRowWriter(job.output, reader.Format());
        }
    } catch (const std::exception& error) {
        return failed(FailureMessage(job.output, {FileOutcome::Failed, error.what()}));
    }
    PumpOutcome pumped = PumpRows(reader, placed ? &*placed : nullptr, settings.times, *writer,
                                  encoderThread);
    switch (pumped.failure) {
        case PumpOutcome::Failure::Reading:
            return failed(FailureMessage(job.input, {FileOutcome::Failed, pumped.reason}));
        case PumpOutcome::Failure::Writing:
            return failed(FailureMessage(job.output, {FileOutcome::Failed, pumped.reason}));
        case PumpOutcome::Failure::None:
            break;
    }
    result.status = JobStatus::Saved;
    result.warnings = std::move(picture.warnings);
    return result;
}

}  // namespace

bool UseEncoderThread(EncoderThread setting, std::size_t waiting, std::size_t running,
                      unsigned cores) {
    switch (setting) {
        case EncoderThread::On: return true;
        case EncoderThread::Off: return false;
        case EncoderThread::Auto: break;
    }
    return waiting == 0 && running < cores;
}

unsigned AvailableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0) return unsigned(std::max(1, CPU_COUNT(&set)));
    return std::max(1u, std::thread::hardware_concurrency());
}

RoutedJob RunJobByRows(const BatchJob& job, const JobSettings& settings, bool encoderThread) {
    if (!job.refusal.empty()) return {RunJob(job, settings), job.input + ": not read, refused before reading"};
    std::string route;
    try {
        if (std::optional<JobResult> done = TryByRows(job, settings, encoderThread, route))
            return {std::move(*done), route};
    } catch (const std::exception& error) {
        JobResult result;
        result.reason = error.what();
        return {result, route};
    }
    return {RunJob(job, settings), route};
}

}  // namespace sigillon::batch
