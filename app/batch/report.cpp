#include "app/batch/report.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <system_error>

namespace sigillon::batch {

std::string ReportLine(const BatchJob& job, const JobResult& result) {
    nlohmann::ordered_json line;
    line["input"] = job.input;
    line["output"] = job.output;
    line["status"] = StatusName(result.status);
    line["reason"] = result.reason;
    const bool sized = result.width > 0 && result.height > 0;
    line["width"] = sized ? nlohmann::ordered_json(result.width) : nlohmann::ordered_json();
    line["height"] = sized ? nlohmann::ordered_json(result.height) : nlohmann::ordered_json();
    line["ms"] = std::round(result.ms * 1000.0) / 1000.0;
    line["warnings"] = result.warnings;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + '\n';
}

ReportFile::ReportFile(const std::string& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) problem_ = "cannot write the report " + path + ": " + std::strerror(errno);
}

ReportFile::~ReportFile() {
    if (fd_ >= 0) ::close(fd_);
}

void ReportFile::Add(const BatchJob& job, const JobResult& result) {
    const std::string line = ReportLine(job, result);
    std::lock_guard lock(mutex_);
    if (fd_ < 0 || !problem_.empty()) return;
    for (std::size_t done = 0; done < line.size();) {
        ssize_t n = ::write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            problem_ =
                "cannot write the report " + path_ + ": " + std::strerror(n < 0 ? errno : ENOSPC);
            return;
        }
        done += std::size_t(n);
    }
}

std::string ReportFile::Problem() const {
    std::lock_guard lock(mutex_);
    return problem_;
}

}  // namespace sigillon::batch
