// The whole batch tool after parsing: the list of inputs, this shard's
// part of it, the stamp, the workers, the report and the summary.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>

#include "app/batch/job.h"
#include "app/batch/options.h"

namespace sigillon::batch {

// Makes the text stamp for --text; the text renderer lives behind it, so
// this library draws no text and loads no Qt. A failure with an empty
// message is settings refused (a font not found), already said on
// standard error.
using TextRenderer = std::function<Expected<StampImage>(const BatchOptions&)>;

// Whether the job now starting writes on a second thread: with Auto, when
// no picture waits to start and a core is free (waiting: jobs not yet
// started; running: the jobs under way, this one included).
bool UseEncoderThread(EncoderThread setting, std::size_t waiting, std::size_t running,
                      unsigned cores);

// The cores this process may run on.
unsigned AvailableCores();

// Returns the exit status: 0 when nothing failed, 1 when any input failed,
// 2 when the run could not start (no such --out folder, an unreadable
// list, a report that cannot be written or would replace a file of the
// run). The summary is the last line on standard output.
int RunBatch(const BatchOptions& options, const TextRenderer& renderText = {});

}  // namespace sigillon::batch
