#include "pictures/metadata/exif_values.h"

#include <exiv2/exiv2.hpp>

#include "pictures/metadata/exiv2_hold.h"
#include "pictures/metadata/metadata_edit.h"

namespace sigillon {

bool IsExifKey(const std::string& key) {
    if (key.rfind("Exif.", 0) != 0) return false;
    const auto hold = HoldExiv2();
    try {
        Exiv2::ExifKey parsed(key);  // throws for an unknown group or tag name
        return true;
    } catch (...) {
        return false;
    }
}

std::map<std::string, std::string> ReadExifValues(const PictureMetadata& metadata,
                                                  const std::vector<std::string>& keys) {
    std::map<std::string, std::string> values;
    if (keys.empty() || metadata.exif.empty() || metadata.exif.size() > kMaxExifBytes)
        return values;
    const auto hold = HoldExiv2();
    try {
        Exiv2::ExifData data;
        Exiv2::ExifParser::decode(data, metadata.exif.data(),
                                  static_cast<std::uint32_t>(metadata.exif.size()));
        for (const std::string& key : keys) {
            auto found = data.findKey(Exiv2::ExifKey(key));
            if (found == data.end()) continue;
            std::string text = found->toString();
            while (!text.empty() && (text.back() == '\0' || text.back() == ' ')) text.pop_back();
            if (!text.empty()) values[key] = std::move(text);
        }
    } catch (...) {
        values.clear();
    }
    return values;
}

}  // namespace sigillon
