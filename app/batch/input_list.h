// Inputs for sigillon-batch from a list file, and how a list is split among
// workers that do not talk to each other.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sigillon::batch {

struct InputList {
    std::vector<std::string> paths;
    std::string problem;  // non-empty: the list could not be used, and why
};

// Entries one a line, or NUL-separated with nulSeparated (as find -print0
// writes them). An entry keeps every byte but its separator; a line also
// loses one carriage return before its line feed, so that a list written on
// another system reads the same (a name that really ends in one needs a
// NUL-separated list). Empty entries are skipped. A line holding a NUL byte
// is a problem: no path can hold one, and the list was most likely meant
// to be read NUL-separated.
InputList SplitInputList(std::string_view bytes, bool nulSeparated);

// Reads the list file whole ("-": standard input) and splits it.
InputList ReadInputList(const std::string& path, bool nulSeparated);

// FNV-1a, 64 bits, over the path's bytes as given: a fixed function of the
// bytes alone, the same on every machine and in every run.
std::uint64_t PathHash(std::string_view path);

// One part of a list split into count parts: a path belongs to the part
// numbered PathHash(path) % count.
struct Shard {
    std::uint64_t index = 0;
    std::uint64_t count = 1;
};

inline bool InShard(std::string_view path, Shard shard) {
    return PathHash(path) % shard.count == shard.index;
}

}  // namespace sigillon::batch
