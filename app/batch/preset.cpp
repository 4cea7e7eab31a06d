#include "app/batch/preset.h"

#include <fstream>
#include <iterator>

#include <nlohmann/json.hpp>

namespace sigillon::batch {
namespace {

using nlohmann::json;

void AddValue(const std::string& section, const std::string& key, const json& value,
              Preset& preset) {
    PresetValue entry{section, key, PresetValue::Kind::Other, {}};
    if (value.is_string()) {
        entry.kind = PresetValue::Kind::Text;
        entry.text = value.get<std::string>();
    } else if (value.is_number()) {
        entry.kind = PresetValue::Kind::Text;
        entry.text = value.dump();
    } else if (value.is_boolean()) {
        entry.kind = value.get<bool>() ? PresetValue::Kind::True : PresetValue::Kind::False;
    }
    preset.values.push_back(std::move(entry));
}

}  // namespace

Preset ReadPreset(const std::string& path) {
    Preset preset;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        preset.problem = "cannot read it";
        return preset;
    }
    const std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const json document = json::parse(bytes, nullptr, false);
    if (document.is_discarded()) {
        preset.problem = "it is not JSON";
        return preset;
    }
    if (!document.is_object()) {
        preset.problem = "it is no JSON object of options";
        return preset;
    }
    for (const auto& [key, value] : document.items()) {
        if (key != "portrait" && key != "landscape") {
            AddValue({}, key, value, preset);
            continue;
        }
        if (!value.is_object()) {
            preset.problem = "\"" + key + "\" takes an object of options";
            return preset;
        }
        for (const auto& [inner, innerValue] : value.items()) AddValue(key, inner, innerValue, preset);
    }
    return preset;
}

}  // namespace sigillon::batch
