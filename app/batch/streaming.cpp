#include "app/batch/streaming.h"

#include <sched.h>

#include <exception>
#include <memory>
#include <optional>
#include <thread>

#include "app/batch/row_pipeline.h"
#include "pictures/picture_files.h"
#include "pictures/picture_rows.h"
#include "stamping/band_stamp.h"

namespace sigillon::batch {
namespace {

RoutedJob Failed(const BatchJob& job, const std::string& text, std::string route) {
    return {{false, job.input + ": " + text}, std::move(route)};
}

std::string ByWhole(const BatchJob& job, const std::string& why) {
    return job.input + ": whole picture, " + why;
}

// The row path, or nothing when the input is for the whole-picture path;
// route then says why.
std::optional<RoutedJob> TryByRows(const BatchJob& job, const TBitmap* stamp, StampMode mode,
                                   int times, bool encoderThread, std::string& route) {
    if (job.testPicture) {
        route = ByWhole(job, "the test picture is made in memory");
        return std::nullopt;
    }
    const PictureKind in = PictureKindOf(job.input);
    const PictureKind out = PictureKindOf(job.output);
    if (in == PictureKind::None || out == PictureKind::None) {
        route = ByWhole(job, "its name ends in no picture file type");
        return std::nullopt;
    }

    // A file the row reader refuses goes to the whole-picture reader, which
    // says why in its own words.
    RowReaderOpening opening;
    try {
        opening = in == PictureKind::Jpeg ? OpenJpegRowReader(job.input) : OpenBmpRowReader(job.input);
    } catch (const std::exception& error) {
        route = ByWhole(job, std::string("the row reader refused it (") + error.what() + ")");
        return std::nullopt;
    }
    if (!opening.reader) {
        route = ByWhole(job, opening.whyNot);
        return std::nullopt;
    }
    PictureRowReader& reader = *opening.reader;
    const TBitmapImage& format = reader.Format();
    route = job.input + ": row by row, " +
            (encoderThread ? "writing on a second thread" : "on one thread") +
            (opening.note.empty() ? "" : ", " + opening.note);

    // The stamp is checked from the header, before any row is read.
    std::optional<BandStamp> band;
    if (stamp) {
        if (auto refusal = StampRefusal(*stamp, PictureShape{format.width, format.height, DepthOf(format)}))
            return Failed(job, *refusal, route);
        band.emplace(*stamp, format.width, format.height, mode, times);
    }

    std::unique_ptr<PictureRowWriter> writer;
    try {
        writer = out == PictureKind::Jpeg ? CreateJpegRowWriter(job.output, format, kSavedJpegQuality)
                                          : CreateBmpRowWriter(job.output, format);
    } catch (const std::exception& error) {
        return Failed(job, FailureMessage(job.output, {FileOutcome::Failed, error.what()}), route);
    }
    PumpOutcome pumped = PumpRows(reader, band ? &*band : nullptr, *writer, encoderThread);
    switch (pumped.failure) {
        case PumpOutcome::Failure::Reading:
            return Failed(job, FailureMessage(job.input, {FileOutcome::Failed, pumped.reason}), route);
        case PumpOutcome::Failure::Writing:
            return Failed(job, FailureMessage(job.output, {FileOutcome::Failed, pumped.reason}), route);
        case PumpOutcome::Failure::None:
            break;
    }
    return RoutedJob{{true, {}}, route};
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

RoutedJob RunJobByRows(const BatchJob& job, const TBitmap* stamp, StampMode mode, int times,
                       bool encoderThread) {
    if (!job.refusal.empty())
        return {{false, job.refusal}, job.input + ": not read, refused before reading"};
    std::string route;
    try {
        if (std::optional<RoutedJob> done = TryByRows(job, stamp, mode, times, encoderThread, route))
            return *done;
    } catch (const std::exception& error) {
        return Failed(job, error.what(), route);
    }
    return {RunJob(job, stamp, mode, times), route};
}

}  // namespace sigillon::batch
