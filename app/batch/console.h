// Where a run tells what happens: standard error, one whole line per
// message, with a progress line on a terminal; and the tally of the inputs,
// which ends the run with the summary on standard output.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

#include "app/batch/job.h"
#include "app/batch/report.h"

namespace sigillon::batch {

// A file name may hold line breaks or terminal controls; a message stays one
// plain line.
std::string PlainLine(const std::string& text);

// Standard error as the tool's message box: one line per message, whole
// lines even when several workers talk at once, and on a terminal a
// progress line that messages push aside.
class Console {
public:
    Console(bool progress, std::size_t total) : progress_(progress), total_(total) {}

    void Say(const std::string& text);  // one message line
    void Start();                        // the progress line, before any input is done
    void JobDone();                      // one more input done
    void Finish();                       // the progress line goes

private:
    std::string ClearProgress() const { return progress_ ? "\r\033[K" : ""; }
    std::string ProgressText() const {
        if (!progress_) return {};
        return std::to_string(done_) + "/" + std::to_string(total_) + " done";
    }
    static void Write(const std::string& text) {
        if (!text.empty()) std::fwrite(text.data(), 1, text.size(), stderr);
    }

    std::mutex mutex_;
    bool progress_;
    std::size_t total_;
    std::size_t done_ = 0;
};

// What the run has done so far, and where each finished input is told:
// its failure line and its warnings (metadata dropped) on standard error,
// its line in the report.
class Tally {
public:
    Tally(Console& console, ReportFile* report) : console_(console), report_(report) {}

    // One input is done: its failure (unless said already) and warnings on
    // standard error, its line in the report, its count.
    void Finished(const BatchJob& job, const JobResult& result, bool sayFailure = true);

    // The summary as the last line on standard output; the exit status.
    int Summary();

private:
    Console& console_;
    ReportFile* report_;
    std::atomic<std::size_t> saved_{0};
    std::atomic<std::size_t> skipped_{0};
    std::atomic<std::size_t> failed_{0};
};

}  // namespace sigillon::batch
