#include "app/batch/console.h"

namespace sigillon::batch {

std::string PlainLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        line += (u < 0x20 || u == 0x7F) ? '?' : c;
    }
    return line;
}

void Console::Say(const std::string& text) {
    std::string line = PlainLine(text) + '\n';
    std::lock_guard lock(mutex_);
    Write(ClearProgress() + line + ProgressText());
}

void Console::Start() {
    std::lock_guard lock(mutex_);
    Write(ProgressText());
}

void Console::JobDone() {
    std::lock_guard lock(mutex_);
    ++done_;
    Write(ClearProgress() + ProgressText());
}

void Console::Finish() {
    std::lock_guard lock(mutex_);
    Write(ClearProgress());
    progress_ = false;
}

void Tally::Finished(const BatchJob& job, const JobResult& result, bool sayFailure) {
    if (result.status == JobStatus::Failed && sayFailure)
        console_.Say(job.input + ": " + result.reason);
    for (const std::string& warning : result.warnings)
        console_.Say(job.input + ": warning: " + warning);
    if (report_) report_->Add(job, result);
    switch (result.status) {
        case JobStatus::Saved: ++saved_; break;
        case JobStatus::Skipped: ++skipped_; break;
        case JobStatus::Failed: ++failed_; break;
    }
    console_.JobDone();
}

int Tally::Summary() {
    console_.Finish();
    bool reportFailed = false;
    if (report_) {
        if (std::string problem = report_->Problem(); !problem.empty()) {
            console_.Say("sigillon-batch: " + problem);
            reportFailed = true;
        }
    }
    std::string line = std::to_string(saved_.load()) + " saved, " +
                       std::to_string(failed_.load()) + " failed";
    if (skipped_ > 0) line += ", " + std::to_string(skipped_.load()) + " skipped";
    line += '\n';
    std::fflush(stderr);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return failed_ == 0 && !reportFailed ? 0 : 1;
}

}  // namespace sigillon::batch
