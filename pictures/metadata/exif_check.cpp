#include "pictures/metadata/exif_check.h"

#include <algorithm>
#include <exiv2/exiv2.hpp>
#include <map>
#include <memory>

namespace sigillon {
namespace {

struct Tag {
    std::string key;
    Exiv2::TypeId type;
    long count;
    std::vector<Exiv2::byte> bytes;
    std::string text;  // for a reader of the differences
};

bool Contains(const std::vector<std::uint16_t>& tags, std::uint16_t tag) {
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

// IFD1 and the IFDs linked after it.
bool AfterIfd0(const std::string& group) {
    return group == "Thumbnail" || (group.size() > 5 && group.compare(0, 5, "Image") == 0 &&
                                    std::all_of(group.begin() + 5, group.end(),
                                                [](char c) { return c >= '0' && c <= '9'; }));
}

bool Allowed(const Exiv2::Exifdatum& d, const AllowedExifChanges& a) {
    const std::string key = d.key(), group = d.groupName();
    if (a.pictures && AfterIfd0(group)) return true;
    if (a.copyright && key == "Exif.Image.Copyright") return true;
    if (a.orientation && key == "Exif.Image.Orientation") return true;
    if (a.dimensions &&
        (key == "Exif.Photo.PixelXDimension" || key == "Exif.Photo.PixelYDimension"))
        return true;
    if (group == "Image" && Contains(a.ifd0Tags, d.tag())) return true;
    if (Exiv2::ExifTags::isMakerGroup(group) && Contains(a.makerTags, d.tag())) return true;
    // Laid out anew, the block's offsets to its IFDs and maker note change.
    if (a.makerNoteMoved && (key == "Exif.Photo.MakerNote" || key == "Exif.MakerNote.Offset" ||
                             key == "Exif.Image.ExifTag" || key == "Exif.Image.GPSTag" ||
                             key == "Exif.Photo.InteroperabilityTag"))
        return true;
    return false;
}

std::vector<Tag> Read(const tiff::Bytes& block, const AllowedExifChanges& allowed,
                      Exiv2::ByteOrder& order) {
    Exiv2::ExifData data;
    order = Exiv2::ExifParser::decode(data, block.data(), static_cast<std::uint32_t>(block.size()));
    if (order == Exiv2::invalidByteOrder) order = Exiv2::littleEndian;
    std::vector<Tag> tags;
    for (const Exiv2::Exifdatum& d : data) {
        if (Allowed(d, allowed)) continue;
        Tag t{d.key(), d.typeId(), d.count(), std::vector<Exiv2::byte>(std::size_t(d.size())), {}};
        if (!t.bytes.empty()) d.copy(t.bytes.data(), order);
        if (d.size() <= 64) t.text = d.toString();
        tags.push_back(std::move(t));
    }
    return tags;
}

// The maker note's bytes, equal wherever the edit did not write.
bool SameNote(const Tag& before, const Tag& after, const AllowedExifChanges& a) {
    if (before.bytes.size() != after.bytes.size()) return false;
    for (std::size_t i = 0; i < before.bytes.size(); ++i) {
        if (before.bytes[i] == after.bytes[i]) continue;
        const std::size_t at = (a.makerNote ? a.makerNote->begin : 0) + i;
        if (!a.makerNote || !a.written.Overlaps(at, at + 1)) return false;
    }
    return true;
}

}  // namespace

ExifComparison CompareExif(const tiff::Bytes& before, const tiff::Bytes& after,
                           const AllowedExifChanges& allowed) {
    ExifComparison result;
    std::vector<Tag> was, is;
    try {
        Exiv2::ByteOrder wasOrder, isOrder;
        was = Read(before, allowed, wasOrder);
        is = Read(after, allowed, isOrder);
        if (!was.empty() && wasOrder != isOrder) result.differences.push_back("the byte order");
    } catch (const std::exception& error) {
        result.differences.push_back(std::string("it cannot be read back (") + error.what() + ")");
        return result;
    }
    auto differ = [&](const std::string& what) {
        if (result.differences.size() < 5)
            result.differences.push_back(what);
        else if (result.differences.size() == 5)
            result.differences.push_back("...");
    };
    // Tags of one key pair off in the order they were read.
    std::map<std::string, std::vector<const Tag*>> byKey;
    for (const Tag& t : is) byKey[t.key].push_back(&t);
    std::map<std::string, std::size_t> used;
    for (const Tag& t : was) {
        ++result.compared;
        auto& same = byKey[t.key];
        const std::size_t n = used[t.key]++;
        if (n >= same.size()) {
            differ(t.key + " is gone");
            continue;
        }
        const Tag& back = *same[n];
        const bool equal =
            t.key == "Exif.Photo.MakerNote"
                ? SameNote(t, back, allowed)
                : t.type == back.type && t.count == back.count && t.bytes == back.bytes;
        if (!equal)
            differ(t.key + " reads " + (back.text.empty() ? "otherwise" : back.text) +
                   " instead of " + (t.text.empty() ? "what it was" : t.text));
    }
    for (const auto& [key, tags] : byKey)
        if (tags.size() > used[key]) differ(key + " is new");
    return result;
}

std::vector<std::string> PicturesExiv2Finds(const tiff::Bytes& block) {
    std::vector<std::string> found;
    try {
        Exiv2::ExifData data;
        Exiv2::ExifParser::decode(data, block.data(), static_cast<std::uint32_t>(block.size()));
        // The previews of the tags alone, in a picture of no pixels.
        std::unique_ptr<Exiv2::Image> image(
            Exiv2::ImageFactory::create(Exiv2::ImageType::jpeg).release());
        image->setExifData(data);
        for (const Exiv2::PreviewProperties& p :
             Exiv2::PreviewManager(*image).getPreviewProperties())
            found.push_back(p.width_ && p.height_
                                ? std::to_string(p.width_) + " x " + std::to_string(p.height_)
                                : std::to_string(p.size_) + " bytes");
    } catch (const std::exception&) {
        // A block Exiv2 cannot read has no preview it can show.
    }
    return found;
}

}  // namespace sigillon
