// Changes to an EXIF block made where its bytes lie, so that nothing the
// changes do not touch moves: a maker note keeps the offsets it holds into
// itself and into the block.
//
// - The orientation is patched in its IFD0 entry; the EXIF pixel width and
//   height change places in theirs.
// - Embedded pictures are unlinked or their lengths set to 0, and their
//   bytes (and IFD1's) are blanked with zeros, except for bytes any tag that
//   stays still refers to. Blanked bytes at the end of the block are cut off.
// - The copyright goes into a new IFD0 appended at the end: a copy of the
//   old one's entries (sorted by tag, as TIFF requires) with the copyright
//   among them, its value after it; the header then points to it. The old
//   IFD0 stays where it was, referred to by nothing.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "pictures/metadata/exif_pictures.h"
#include "pictures/metadata/metadata_edit.h"

namespace sigillon {

struct InPlaceEdit {
    tiff::Bytes block;
    std::vector<EmbeddedPicture> removed;
    // Every range of the original block written to (the appended IFD0 and
    // the cut-off end left aside): a reader may see other values only here.
    tiff::RangeSet written;
    std::optional<tiff::Range> makerNote;
    // The changes it could not make, each named with why ("the copyright
    // (no room for it ...)").
    std::vector<std::string> notDone;
    bool orientationReset = false, dimensionsSwapped = false, copyrightWritten = false;
};

// Nothing (and *whyNot) when the block's header or IFD0 cannot be read.
// The block grows to at most maxSize bytes; a copyright that does not fit
// is left out and named in notDone.
std::optional<InPlaceEdit> EditExifInPlace(const tiff::Bytes& block, const MetadataChanges& changes,
                                           std::size_t maxSize, std::string* whyNot = nullptr);

}  // namespace sigillon
