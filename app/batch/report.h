// The report of a sigillon-batch run: JSON Lines, one object per input of
// this worker's part, written as each input finishes, so that the file can
// be followed while the run goes on.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "app/batch/job.h"
#include "app/batch/plan.h"

namespace sigillon::batch {

// One JSON object and a line feed, the fields in this order:
//   {"input":…,"output":…,"status":"saved"|"skipped"|"failed","reason":…,
//    "width":…,"height":…,"ms":…,"warnings":[…]}
// width and height are null before the picture was read; ms is the time
// spent on the input, to the microsecond; warnings name the metadata that
// was dropped, and why, as standard error does. Paths are file names of any
// bytes, but JSON strings are UTF-8: a byte that is not part of valid UTF-8
// becomes U+FFFD rather than failing the line.
std::string ReportLine(const BatchJob& job, const JobResult& result);

// The report file. Each line reaches the file whole, in one write, under
// one lock, so that the lines of several workers never mix; a reader may
// take every line that ends in a line feed as one finished input. The file
// is written in place, not swapped in at the end: after a kill it holds the
// inputs finished until then.
class ReportFile {
public:
    // Creates the file or empties it; Problem() says why it could not.
    explicit ReportFile(const std::string& path);
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    // Appends the input's line. After the first failed write nothing more
    // is written and Problem() keeps the reason.
    void Add(const BatchJob& job, const JobResult& result);

    // Empty while all is well.
    std::string Problem() const;

private:
    std::string path_;
    int fd_ = -1;
    mutable std::mutex mutex_;
    std::string problem_;
};

}  // namespace sigillon::batch
