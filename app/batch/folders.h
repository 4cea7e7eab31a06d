// Folders among the inputs: walked with --recursive for the picture files
// below them, each known by its content, not its name.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sigillon::batch {

struct WalkedInputs {
    std::vector<std::string> inputs;      // the inputs given, a folder's pictures in its place
    std::vector<std::string> subFolders;  // each input's folder below the folder walked ("a/b/")
    std::size_t skipped = 0;              // files that are no picture
    std::size_t linksSkipped = 0;         // symbolic links not followed, or met again
    std::string problem;                  // non-empty: the run cannot start, and why
};

// Inputs that are no folder stay as they are. A folder without recursive
// is a problem. Entries are taken in the order of their names, so that a
// run is the same on every file system. Symbolic links below a folder are
// followed only with followLinks, and a folder reached again (a link loop)
// is walked once.
WalkedInputs WalkFolders(const std::vector<std::string>& inputs, bool recursive, bool followLinks);

}  // namespace sigillon::batch
