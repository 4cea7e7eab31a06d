#include "app/batch/run.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iterator>
#include <memory>
#include <system_error>
#include <thread>
#include <utility>

#include "app/batch/console.h"
#include "app/batch/job.h"
#include "app/batch/kept_jpeg.h"
#include "app/batch/plan.h"
#include "app/batch/report.h"

namespace sigillon::batch {
namespace {

// A run that could not start says why and touches nothing.
int CannotStart(const std::string& problem) {
    std::fprintf(stderr, "sigillon-batch: %s\n", PlainLine(problem).c_str());
    return 2;
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

int RunBatch(const BatchOptions& given, const TextRenderer& renderText) {
    if (!given.outDir.empty()) {
        std::error_code error;
        if (!std::filesystem::is_directory(given.outDir, error))
            return CannotStart("--out " + given.outDir + " is not a folder");
    }

    BatchOptions options = given;
    if (!options.filesFrom.empty()) {
        InputList list = ReadInputList(options.filesFrom, options.nulSeparated);
        if (!list.problem.empty()) return CannotStart(list.problem);
        options.inputs.insert(options.inputs.end(), std::make_move_iterator(list.paths.begin()),
                              std::make_move_iterator(list.paths.end()));
    }

    std::vector<BatchJob> jobs = PlanJobs(options);
    std::unique_ptr<ReportFile> report;
    if (!options.reportPath.empty()) {
        if (std::string clash = ReportClash(options, jobs); !clash.empty())
            return CannotStart(clash + "; name another file");
        report = std::make_unique<ReportFile>(options.reportPath);
        if (std::string problem = report->Problem(); !problem.empty()) return CannotStart(problem);
    }
    std::erase_if(jobs, [&](const BatchJob& job) {
        return !job.testPicture && !InShard(job.input, options.shard);
    });

    Console console(::isatty(STDERR_FILENO) == 1, jobs.size());
    console.Start();
    Tally tally(console, report.get());

    // Every input fails for the one reason, said once; outputs that are
    // already there are still done.
    auto failAll = [&](const std::string& reason) {
        for (const BatchJob& job : jobs) {
            JobResult result;
            result.status = job.skip ? JobStatus::Skipped : JobStatus::Failed;
            if (!job.skip) result.reason = job.refusal.empty() ? reason : job.refusal;
            tally.Finished(job, result, false);
        }
        return tally.Summary();
    };

    // The stamp is read and made Depth24 once, before any worker starts;
    // from then on nothing writes to it.
    JobSettings settings;
    settings.mode = options.mode;
    settings.times = options.times;
    settings.margin = options.margin;
    settings.scale = options.scale;
    settings.quality = options.quality;
    settings.lossless = options.lossless;
    // Every picture worked on at once may hold its coefficients.
    settings.memoryBudget =
        options.memoryBudget > 0
            ? std::uint64_t(options.memoryBudget) << 20
            : DefaultMemoryBudget(std::min<std::size_t>(
                  options.jobs > 0 ? std::size_t(options.jobs) : AvailableCores(),
                  std::max<std::size_t>(1, jobs.size())));
    settings.metadata.keep = !options.stripMetadata;
    settings.metadata.autoOrient = options.autoOrient;
    settings.acceptDamaged = options.acceptDamaged;
    if (options.copyrightGiven)
        settings.metadata.copyright = options.copyright;
    else if (options.textGiven && !options.text.empty())
        settings.metadata.copyright = options.text;
    if (!options.stampPath.empty()) {
        Expected<StampImage> stamp = LoadStamp(options.stampPath);
        if (!stamp) {
            console.Say(stamp.error().message);
            return failAll(stamp.error().message);
        }
        settings.stamps.push_back(std::move(*stamp));
    }
    if (options.textGiven) {
        try {
            // Scaled, the text is drawn at every size, and each picture gets
            // the one whose width comes closest to what it needs, fitted.
            const int first = options.scale > 0 ? 1 : options.size;
            const int last = options.scale > 0 ? 9 : options.size;
            for (int size = first; renderText && size <= last; ++size) {
                BatchOptions sized = options;
                sized.size = size;
                std::unique_ptr<TBitmap> rendered = renderText(sized);
                if (!rendered) break;
                rendered->SetDepth(Depth24);
                settings.stamps.push_back({std::move(rendered), {}});
            }
        } catch (const std::exception&) {
            settings.stamps.clear();
        }
        if (settings.stamps.empty()) {
            const std::string reason = "the text stamp could not be rendered";
            console.Say("sigillon-batch: " + reason);
            return failAll(reason);
        }
    }

    // Cores go to pictures first; a picture's writing gets one of its own
    // only where no other picture waits for it.
    const unsigned cores = AvailableCores();
    // Pictures still to stamp from each job on: skipped and refused ones
    // take no core.
    std::vector<std::size_t> toStamp(jobs.size() + 1, 0);
    for (std::size_t i = jobs.size(); i-- > 0;)
        toStamp[i] = toStamp[i + 1] + (!jobs[i].skip && jobs[i].refusal.empty() ? 1 : 0);
    std::atomic<std::size_t> running{0};
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        for (std::size_t i = next++; i < jobs.size(); i = next++) {
            const BatchJob& job = jobs[i];
            JobResult result;
            if (job.skip) {
                result.status = JobStatus::Skipped;
            } else {
                auto start = std::chrono::steady_clock::now();
                const std::size_t waiting = toStamp[std::min(jobs.size(), next.load())];
                const bool encoderThread =
                    UseEncoderThread(options.encoderThread, waiting, ++running, cores);
                result = RunJob(job, settings, encoderThread);
                --running;
                if (options.verbose) console.Say(result.route);
                result.ms = std::chrono::duration<double, std::milli>(
                                std::chrono::steady_clock::now() - start)
                                .count();
            }
            tally.Finished(job, result);
        }
    };

    std::size_t workers = options.jobs > 0 ? std::size_t(options.jobs) : cores;
    workers = std::min(workers, jobs.size());
    {
        // This thread is one of the workers; should a thread not start, the
        // others take its share.
        std::vector<std::jthread> helpers;
        try {
            for (std::size_t w = 1; w < workers; ++w) helpers.emplace_back(work);
        } catch (const std::system_error&) {
        }
        work();
    }
    return tally.Summary();
}

}  // namespace sigillon::batch
