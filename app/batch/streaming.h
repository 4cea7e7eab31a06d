// The job-running part of the batch tool: each input goes row by row when
// its files allow, so that memory grows with the picture's width and not
// its area, and whole through RunJob otherwise. The files made, the
// refusals and the warnings are the same either way.
#pragma once

#include <cstddef>
#include <string>

#include "app/batch/batch.h"

namespace sigillon::batch {

// Whether the job now starting writes on a second thread: with Auto, when
// no picture waits to start and a core is free (waiting: jobs not yet started; running: the
// jobs under way, this one included).
bool UseEncoderThread(EncoderThread setting, std::size_t waiting, std::size_t running,
                      unsigned cores);

// The cores this process may run on.
unsigned AvailableCores();

// What became of one input, and for --verbose which way it went and why
// ("photo.jpg: row by row, on one thread").
struct RoutedJob {
    JobResult result;
    std::string route;
};

// Loads, stamps and saves one input as RunJob does, row by row where it
// can. Nothing escapes.
RoutedJob RunJobByRows(const BatchJob& job, const JobSettings& settings, bool encoderThread);

}  // namespace sigillon::batch
