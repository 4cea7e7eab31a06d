// One picture's rows on their way from its file through the stamp into the
// output file, a band at a time, so that no more than a few bands are ever
// held. With an encoder thread, reading (the decoding, for JPEG) on the
// calling thread overlaps with stamping and writing (the encoding) on a
// second one, which a bounded queue of bands feeds.
#pragma once

#include <cstdint>
#include <string>

#include "pictures/rows/picture_rows.h"
#include "stamping/placed_stamp.h"

namespace sigillon::batch {

// Rows in a band of rows of stride bytes: about kBandBytes, at least one.
inline constexpr std::int64_t kBandBytes = std::int64_t(256) << 10;
inline constexpr int kQueuedBands = 4;
std::int32_t BandRows(std::int64_t stride);

struct PumpOutcome {
    enum class Failure { None, Reading, Writing };
    Failure failure = Failure::None;
    std::string reason;  // the reader's or the writer's, when one failed
};

// Moves every row of reader to writer, stamped passes times by stamp (none:
// the rows pass unchanged), then finishes the reader and, when all went
// well, the writer, which gives the file its name. Each row takes all its
// passes one after the other, as whole passes over the picture reach it.
// Nothing escapes; a failure stops both sides and leaves the target as it
// was.
PumpOutcome PumpRows(PictureRowReader& reader, const PlacedStamp* stamp, int passes,
                     PictureRowWriter& writer, bool encoderThread);

}  // namespace sigillon::batch
