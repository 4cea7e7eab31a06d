// --preset FILE: options in a JSON object, keyed by their long names
// without the dashes ({"mode": 4, "text": "\u00a9 {year} Ann"}), with
// "portrait" and "landscape" objects of options for pictures of that shape.
#pragma once

#include <string>
#include <vector>

namespace sigillon::batch {

struct PresetValue {
    std::string section;  // empty, "portrait" or "landscape"
    std::string key;      // as written
    enum class Kind { Text, True, False, Other } kind = Kind::Other;
    std::string text;     // a string as it is, a number as JSON writes it
};

struct Preset {
    std::vector<PresetValue> values;
    std::string problem;  // non-empty: the file cannot be used, and why
};

// The file's values in the order of their keys; what is no JSON object,
// or a section that is no object, is a problem. The option table judges
// the keys and values.
Preset ReadPreset(const std::string& path);

}  // namespace sigillon::batch
