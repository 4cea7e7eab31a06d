// One picture's rows on their way from its file through the stamp into the
// output file, a band at a time, so that no more than a few bands are ever
// held. With an encoder thread, reading (the decoding, for JPEG) on the
// calling thread overlaps with stamping and writing (the encoding) on a
// second one, which a bounded queue of bands feeds.
#pragma once

#include <cstdint>
#include <string>

#include "app/batch/failure.h"
#include "pictures/rows/picture_rows.h"
#include "stamping/placed_stamp.h"

namespace sigillon::batch {

// Rows in a band of rows of stride bytes: about kBandBytes, at least one.
inline constexpr std::int64_t kBandBytes = std::int64_t(256) << 10;
inline constexpr int kQueuedBands = 4;
std::int32_t BandRows(std::int64_t stride);

// Moves every row of reader to writer, stamped passes times by stamp (none:
// the rows pass unchanged) and, with layOverWhite, laid over white by the
// reader's opacities, then finishes the reader and, when all went well, the
// writer, which gives the file its name. Each row takes all its
// passes one after the other, as whole passes over the picture reach it.
// Nothing escapes; a failure stops both sides and leaves the target as it
// was. A failure's side is Input for the reader's, Output for the
// writer's, and its message the reader's or writer's own reason: the
// caller names the file.
Expected<Done> PumpRows(PictureRowReader& reader, const PlacedStamp* stamp, int passes,
                        PictureRowWriter& writer, bool encoderThread, bool layOverWhite = false);

}  // namespace sigillon::batch
