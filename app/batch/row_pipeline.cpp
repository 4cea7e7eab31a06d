#include "app/batch/row_pipeline.h"

#include "pictures/rows/held_rows.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <system_error>
#include <thread>
#include <vector>

namespace sigillon::batch {
namespace {

struct Band {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::int32_t first = 0;
    std::int32_t count = 0;
};

// Bands go round: empty ones to the reading side, full ones to the writing
// side and back. Stop ends both sides at once; End lets the writing side
// finish the bands it has.
class BandQueue {
public:
    explicit BandQueue(std::vector<Band>& bands) {
        for (Band& band : bands) empty_.push_back(&band);
    }

    Band* TakeEmpty() { return Take(empty_, false); }
    Band* TakeFull() { return Take(full_, true); }
    void GiveFull(Band* band) { Give(full_, band); }
    void GiveEmpty(Band* band) { Give(empty_, band); }

    void End() {
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    void Stop() {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }

private:
    Band* Take(std::deque<Band*>& from, bool endsWithEnd) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_ || !from.empty() || (endsWithEnd && ended_); });
        if (stopped_ || from.empty()) return nullptr;
        Band* band = from.front();
        from.pop_front();
        return band;
    }
    void Give(std::deque<Band*>& to, Band* band) {
        std::lock_guard lock(mutex_);
        to.push_back(band);
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Band*> empty_, full_;
    bool ended_ = false;
    bool stopped_ = false;
};

// Runs one side's step; a failure is kept with its reason.
// Each side runs on a thread of its own, so each catches for itself.
template <class Step>
bool Attempt(Step step, std::optional<Failure>& failure, Failure::Side side) {
    try {
        step();
        return true;
    } catch (const std::bad_alloc&) {
        failure = Failure{side, "out of memory"};
    } catch (const std::exception& error) {
        failure = Failure{side, error.what()};
    } catch (...) {
        failure = Failure{side, "failed"};
    }
    return false;
}

void ReadBand(PictureRowReader& reader, Band& band, std::int32_t rows) {
    band.first = reader.NextRow();
    band.count = std::min(rows, reader.Height() - band.first);
    reader.Read(band.bytes.get(), band.count);
}

// The stamp goes on where the rows are written: decoding a JPEG file takes
// longer than encoding one, so the writing side has the time to spare.
// A picture with opacities goes over white after the stamp, when the
// output keeps none: the stamp lands on the picture's own colours.
struct Stamping {
    const PlacedStamp* stamp;
    int passes;
    std::int64_t stride;
    std::span<const std::uint8_t> overWhite;  // the opacities to lay the rows over white by
    std::int32_t width;

    void Write(PictureRowWriter& writer, Band& band) const {
        auto row = [&](std::int32_t y) {
            return band.bytes.get() + std::size_t(y - band.first) * std::size_t(stride);
        };
        if (stamp) {
            const std::int32_t begin = std::max(band.first, stamp->FirstRow());
            const std::int32_t end = std::min(band.first + band.count, stamp->EndRow());
            for (std::int32_t y = begin; y < end; ++y)
                for (int pass = 0; pass < passes; ++pass) stamp->StampRow(y, row(y));
        }
        if (!overWhite.empty())
            for (std::int32_t y = band.first; y < band.first + band.count; ++y)
                LayRowOverWhite(row(y), &overWhite[std::size_t(y) * std::size_t(width)], width);
        writer.Write(band.bytes.get(), band.count);
    }
};

}  // namespace

std::int32_t BandRows(std::int64_t stride) {
    return std::int32_t(std::clamp<std::int64_t>(kBandBytes / std::max<std::int64_t>(stride, 1), 1, 1024));
}

Expected<Done> PumpRows(PictureRowReader& reader, const PlacedStamp* stamp, int passes,
                        PictureRowWriter& writer, bool encoderThread, bool layOverWhite) {
    constexpr Failure::Side Reading = Failure::Side::Input, Writing = Failure::Side::Output;
    std::optional<Failure> outcome;
    const std::int64_t stride = reader.Stride();
    const std::int32_t rows = BandRows(stride);
    const Stamping stamping{stamp, passes, stride,
                            layOverWhite ? reader.Alpha() : std::span<const std::uint8_t>(),
                            reader.Width()};
    if (!stamping.overWhite.empty() && reader.Depth() != Depth24) {
        return Failure{Reading, "only a 24-bit picture can have opacities"};
    }
    std::vector<Band> bands(encoderThread ? kQueuedBands : 1);
    if (!Attempt([&] {
            for (Band& band : bands)
                band.bytes.reset(new std::uint8_t[std::size_t(rows) * std::size_t(stride)]);
        }, outcome, Reading))
        return *outcome;

    if (!encoderThread) {
        Band& band = bands.front();
        while (reader.NextRow() < reader.Height()) {
            if (!Attempt([&] { ReadBand(reader, band, rows); }, outcome, Reading) ||
                !Attempt([&] { stamping.Write(writer, band); }, outcome, Writing))
                return *outcome;
        }
    } else {
        BandQueue queue(bands);
        std::optional<Failure> written;
        std::jthread encoder;
        try {
            encoder = std::jthread([&] {
                while (Band* band = queue.TakeFull()) {
                    if (!Attempt([&] { stamping.Write(writer, *band); }, written, Writing)) {
                        queue.Stop();
                        return;
                    }
                    queue.GiveEmpty(band);
                }
            });
        } catch (const std::system_error&) {
            // No second thread to be had: the rows go through this one.
            return PumpRows(reader, stamp, passes, writer, false, layOverWhite);
        }
        while (reader.NextRow() < reader.Height()) {
            Band* band = queue.TakeEmpty();
            if (!band) break;  // the writing side stopped
            if (!Attempt([&] { ReadBand(reader, *band, rows); }, outcome, Reading)) {
                queue.Stop();
                break;
            }
            queue.GiveFull(band);
        }
        queue.End();
        encoder.join();
        if (outcome) return *outcome;
        if (written) return *written;
    }
    if (!Attempt([&] { reader.Finish(); }, outcome, Reading) ||
        !Attempt([&] { writer.Finish(); }, outcome, Writing))
        return *outcome;
    return Done{};
}

}  // namespace sigillon::batch
