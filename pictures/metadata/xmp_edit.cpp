// The XMP packet and its extended part. Exiv2 reads a packet and writes it
// anew when something in it must change; the new packet is taken only when
// Exiv2 reads every other property of it as it read the old one. A packet
// Exiv2 cannot read is kept byte for byte unless something in it must
// change.
#include <algorithm>
#include <exiv2/exiv2.hpp>
#include <string_view>

#include "pictures/metadata/md5.h"
#include "pictures/metadata/metadata_parts.h"
#include "pictures/metadata/xmp_text.h"

namespace sigillon {
namespace {

// Properties that hold a picture of the photo: the XMP thumbnails, and
// Google's original picture and depth map (kept in extended XMP).
struct PictureProperty {
    std::string_view ns, name;
    const char* what;
};
constexpr PictureProperty kPictureProperties[] = {
    {"http://ns.adobe.com/xap/1.0/", "Thumbnails", "XMP thumbnail"},
    {"http://ns.google.com/photos/1.0/image/", "Data", "original picture (GImage)"},
    {"http://ns.google.com/photos/1.0/depthmap/", "Data", "depth map (GDepth)"},
    {"http://ns.google.com/photos/1.0/depthmap/", "Confidence", "depth confidence map (GDepth)"},
};
// Text a packet holding one of them has, for packets Exiv2 cannot read.
constexpr std::string_view kPictureMarks[] = {"Thumbnails",
                                              "http://ns.google.com/photos/1.0/image/",
                                              "http://ns.google.com/photos/1.0/depthmap/"};

// Extended XMP segments: a GUID of 32 hex digits, the full length and this
// part's offset (4 bytes each, big-endian), then the part.
constexpr std::size_t kExtendedHeader = 40;
constexpr std::size_t kExtendedRoom = kMaxJpegSegmentPayload - 35 - kExtendedHeader;
constexpr const char* kExtendedNote = "Xmp.xmpNote.HasExtendedXMP";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// By key, without making an XmpKey, which throws for a namespace Exiv2 has
// not registered.
Exiv2::XmpData::iterator Find(Exiv2::XmpData& data, std::string_view key) {
    return std::find_if(data.begin(), data.end(),
                        [&](const Exiv2::Xmpdatum& d) { return d.key() == key; });
}

const char* PictureIn(const Exiv2::Xmpdatum& d) {
    std::string ns;
    try {
        ns = Exiv2::XmpProperties::ns(d.groupName());
    } catch (...) {
        return nullptr;
    }
    const std::string name = d.tagName();
    for (const PictureProperty& p : kPictureProperties)
        if (ns == p.ns && StartsWith(name, p.name) &&
            (name.size() == p.name.size() || name[p.name.size()] == '[' ||
             name[p.name.size()] == '/'))
            return p.what;
    return nullptr;
}

bool HasPictureMarks(std::string_view text) {
    return std::any_of(std::begin(kPictureMarks), std::end(kPictureMarks),
                       [&](std::string_view mark) { return text.find(mark) != text.npos; });
}

// Properties the changes may touch, left out of the comparison.
bool MayChange(const Exiv2::Xmpdatum& d) {
    const std::string key = d.key();
    return PictureIn(d) || StartsWith(key, "Xmp.dc.rights") || key == "Xmp.tiff.Orientation" ||
           key == "Xmp.exif.PixelXDimension" || key == "Xmp.exif.PixelYDimension" ||
           key == kExtendedNote;
}

// How many properties were compared; *difference names the first that
// does not read back the same.
std::size_t CompareXmp(const Exiv2::XmpData& before, const Exiv2::XmpData& after,
                       std::string& difference) {
    using Property = std::pair<std::string, std::string>;
    auto list = [](const Exiv2::XmpData& data) {
        std::vector<Property> all;
        for (const Exiv2::Xmpdatum& d : data)
            if (!MayChange(d)) all.push_back({d.key(), d.toString()});
        std::sort(all.begin(), all.end());
        return all;
    };
    const std::vector<Property> was = list(before), is = list(after);
    std::vector<Property> gone, added;
    std::set_difference(was.begin(), was.end(), is.begin(), is.end(), std::back_inserter(gone));
    std::set_difference(is.begin(), is.end(), was.begin(), was.end(), std::back_inserter(added));
    if (!gone.empty())
        difference = gone.front().first + " does not read back as it was";
    else if (!added.empty())
        difference = added.front().first + " is new";
    return was.size();
}

// The value of attribute name="..." (or '...') in text, and where it is.
struct Attribute {
    std::size_t begin = 0, valueBegin = 0, valueEnd = 0;
    char quote = '"';
};
std::optional<Attribute> FindAttribute(const std::string& text, std::string_view name) {
    const std::size_t at = text.find(std::string(name) + "=");
    if (at == text.npos || at + name.size() + 2 > text.size()) return std::nullopt;
    Attribute a{at, at + name.size() + 2, 0, text[at + name.size() + 1]};
    if (a.quote != '"' && a.quote != '\'') return std::nullopt;
    a.valueEnd = text.find(a.quote, a.valueBegin);
    if (a.valueEnd == text.npos) return std::nullopt;
    return a;
}

// Exiv2 names itself as the packet's toolkit; the packet keeps the name
// it had (none, when it had none).
void KeepToolkit(std::string& packet, const std::string& original) {
    const std::optional<Attribute> ours = FindAttribute(packet, "x:xmptk");
    if (!ours) return;
    const std::optional<Attribute> theirs = FindAttribute(original, "x:xmptk");
    if (!theirs) {
        std::size_t begin = ours->begin;
        while (begin > 0 && packet[begin - 1] == ' ') --begin;
        packet.erase(begin, ours->valueEnd + 1 - begin);
        return;
    }
    const std::string name =
        original.substr(theirs->valueBegin, theirs->valueEnd - theirs->valueBegin);
    if (name.find(ours->quote) == name.npos)
        packet.replace(ours->valueBegin, ours->valueEnd - ours->valueBegin, name);
}

std::optional<std::string> Encode(const Exiv2::XmpData& data, const std::string& original) {
    std::string packet;
    if (Exiv2::XmpParser::encode(packet, data, Exiv2::XmpParser::useCompactFormat) != 0 ||
        packet.empty())
        return std::nullopt;
    KeepToolkit(packet, original);
    return packet;
}

bool Decode(Exiv2::XmpData& data, const std::string& packet) {
    try {
        return Exiv2::XmpParser::decode(data, packet) == 0 && !data.empty();
    } catch (...) {
        return false;
    }
}

// Takes the pictures out; their names, once each, go to removed.
void RemovePictures(Exiv2::XmpData& data, std::vector<std::string>& removed) {
    for (auto at = data.begin(); at != data.end();) {
        if (const char* what = PictureIn(*at)) {
            if (std::find(removed.begin(), removed.end(), what) == removed.end())
                removed.push_back(what);
            at = data.erase(at);
        } else {
            ++at;
        }
    }
}

bool ChangeXmp(Exiv2::XmpData& data, const MetadataChanges& changes, bool quarterTurn,
               std::vector<std::string>& removed) {
    bool changed = false;
    if (changes.dropPictures) {
        RemovePictures(data, removed);
        changed = !removed.empty();
    }
    if (changes.resetOrientation) {
        auto tag = Find(data, "Xmp.tiff.Orientation");
        if (tag != data.end() && tag->toString() != "1") {
            data.erase(tag);
            data["Xmp.tiff.Orientation"] = "1";
            changed = true;
            auto x = Find(data, "Xmp.exif.PixelXDimension");
            auto y = Find(data, "Xmp.exif.PixelYDimension");
            if (quarterTurn && x != data.end() && y != data.end()) {
                const std::string width = x->toString();
                x->setValue(y->toString());
                y->setValue(width);
            }
        }
    }
    if (changes.copyright) {
        for (auto at = data.begin(); at != data.end();)
            at = StartsWith(at->key(), "Xmp.dc.rights") ? data.erase(at) : std::next(at);
        Exiv2::LangAltValue rights;
        rights.value_["x-default"] = *changes.copyright;
        data.add(Exiv2::XmpKey("Xmp.dc.rights"), &rights);
        changed = true;
    }
    return changed;
}

// The packet with the changes made in its text, when that reads back with
// every other property as it was and the changes made; nothing else.
std::optional<std::string> InText(const std::string& packet, const Exiv2::XmpData& before,
                                  const XmpTextChanges& changes, MetadataReport& report) {
    std::optional<std::string> text = EditXmpText(packet, changes);
    Exiv2::XmpData back;
    if (!text || !Decode(back, *text)) return std::nullopt;
    std::string difference;
    const std::size_t compared = CompareXmp(before, back, difference);
    if (!difference.empty()) return std::nullopt;
    if (changes.copyright) {
        auto rights = Find(back, "Xmp.dc.rights");
        const auto* alt = rights == back.end()
                              ? nullptr
                              : dynamic_cast<const Exiv2::LangAltValue*>(&rights->value());
        if (!alt || alt->value_.size() != 1 || alt->toString("x-default") != *changes.copyright)
            return std::nullopt;
    }
    if (changes.resetOrientation) {
        auto orientation = Find(back, "Xmp.tiff.Orientation");
        if (orientation != back.end() && orientation->toString() != "1") return std::nullopt;
    }
    if (changes.dropPictures && std::any_of(back.begin(), back.end(),
                                            [](const Exiv2::Xmpdatum& d) { return PictureIn(d); }))
        return std::nullopt;
    if (changes.extendedNote) {
        auto note = Find(back, kExtendedNote);
        if (changes.extendedNote->empty()
                ? note != back.end()
                : note == back.end() || note->toString() != *changes.extendedNote)
            return std::nullopt;
    }
    report.xmpPropertiesCompared += compared;
    return text;
}

// ---- Extended XMP ----

std::uint32_t BigEndian32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

struct Extended {
    std::string guid, packet;
};

// The segments put together: one GUID, parts that cover the full length
// once each.
std::optional<Extended> Assemble(const std::vector<std::vector<std::uint8_t>>& parts) {
    Extended whole;
    std::uint32_t full = 0;
    std::vector<std::pair<std::uint32_t, const std::vector<std::uint8_t>*>> pieces;
    for (const auto& part : parts) {
        if (part.size() < kExtendedHeader) return std::nullopt;
        const std::string guid(part.begin(), part.begin() + 32);
        if (whole.guid.empty()) whole.guid = guid, full = BigEndian32(&part[32]);
        if (guid != whole.guid || BigEndian32(&part[32]) != full) return std::nullopt;
        pieces.push_back({BigEndian32(&part[36]), &part});
    }
    if (pieces.empty() || full > kMaxXmpBytes) return std::nullopt;
    std::sort(pieces.begin(), pieces.end());
    for (const auto& [offset, part] : pieces) {
        if (offset != whole.packet.size() || part->size() - kExtendedHeader > full - offset)
            return std::nullopt;
        whole.packet.append(part->begin() + kExtendedHeader, part->end());
    }
    if (whole.packet.size() != full) return std::nullopt;
    return whole;
}

std::vector<std::vector<std::uint8_t>> Split(const std::string& packet, const std::string& guid) {
    std::vector<std::vector<std::uint8_t>> parts;
    for (std::size_t at = 0; at < packet.size(); at += kExtendedRoom) {
        std::vector<std::uint8_t> part(guid.begin(), guid.end());
        for (std::uint32_t v : {std::uint32_t(packet.size()), std::uint32_t(at)})
            for (int shift = 24; shift >= 0; shift -= 8) part.push_back(std::uint8_t(v >> shift));
        part.insert(part.end(), packet.begin() + std::ptrdiff_t(at),
                    packet.begin() + std::ptrdiff_t(std::min(packet.size(), at + kExtendedRoom)));
        parts.push_back(std::move(part));
    }
    return parts;
}

// What the main packet's note of its extended part becomes.
struct ExtendedOutcome {
    enum { Same, Erase, Set } note = Same;
    std::string guid;
};

ExtendedOutcome EditExtendedXmp(PictureMetadata& m, const MetadataChanges& changes,
                                const std::string& mainGuid, Warnings& warnings,
                                MetadataReport& report) {
    if (!changes.dropPictures || m.extendedXmp.empty()) return {};
    std::size_t bytes = 0;
    bool marked = false;
    for (const auto& part : m.extendedXmp) {
        bytes += part.size();
        marked =
            marked || HasPictureMarks({reinterpret_cast<const char*>(part.data()), part.size()});
    }
    auto drop = [&](const std::string& why) {
        warnings.push_back("extended XMP of " + std::to_string(bytes) + " bytes dropped: " + why);
        m.extendedXmp.clear();
        return ExtendedOutcome{ExtendedOutcome::Erase, {}};
    };
    const std::optional<Extended> whole = Assemble(m.extendedXmp);
    Exiv2::XmpData data;
    if (!whole || whole->guid != mainGuid || !Decode(data, whole->packet)) {
        if (!marked) return {};  // kept byte for byte
        return drop("it may hold a picture of the photo, and Exiv2 cannot read it");
    }
    const Exiv2::XmpData before = data;
    std::vector<std::string> removed;
    RemovePictures(data, removed);
    if (removed.empty()) return {};
    std::string names;
    for (const std::string& what : removed) names += (names.empty() ? "the " : " and the ") + what;
    if (data.empty()) {
        warnings.push_back("removed " + names + " from the extended XMP, which held nothing else");
        m.extendedXmp.clear();
        return {ExtendedOutcome::Erase, {}};
    }
    // Taken out of the text, else written anew by Exiv2.
    XmpTextChanges pictures;
    pictures.dropPictures = true;
    std::optional<std::string> packet = InText(whole->packet, before, pictures, report);
    std::string difference;
    if (!packet) {
        packet = Encode(data, whole->packet);
        Exiv2::XmpData back;
        difference = "it cannot be written back";
        if (packet && Decode(back, *packet)) {
            difference.clear();
            report.xmpPropertiesCompared += CompareXmp(before, back, difference);
        }
    }
    if (!difference.empty())
        return drop("its pictures of the photo cannot be removed without changing it (" +
                    difference + ")");
    const std::string guid =
        Md5Hex(reinterpret_cast<const std::uint8_t*>(packet->data()), packet->size());
    m.extendedXmp = Split(*packet, guid);
    warnings.push_back("removed " + names + " from the extended XMP");
    return {ExtendedOutcome::Set, guid};
}

// For a packet Exiv2 cannot read: what in it would have to change.
std::vector<std::string> MustChange(const std::string& packet, const MetadataChanges& changes) {
    std::vector<std::string> what;
    if (changes.copyright) what.push_back("the copyright");
    if (changes.resetOrientation && packet.find("Orientation") != packet.npos)
        what.push_back("the orientation");
    if (changes.dropPictures && HasPictureMarks(packet)) what.push_back("a picture of the photo");
    return what;
}

// Returns why the packet must be dropped, or nothing.
std::string ChangePacket(PictureMetadata& m, const MetadataChanges& changes, bool quarterTurn,
                         Warnings& warnings, MetadataReport& report) {
    Exiv2::XmpData data;
    if (!Decode(data, m.xmp)) {
        const std::vector<std::string> what = MustChange(m.xmp, changes);
        if (what.empty()) {
            if (changes.dropPictures) EditExtendedXmp(m, changes, {}, warnings, report);
            return {};  // nothing to change: kept byte for byte
        }
        std::string list;
        for (const std::string& w : what) list += (list.empty() ? "" : ", ") + w;
        return "Exiv2 cannot read it, and " + list + " would have to change in it";
    }
    const auto note = Find(data, kExtendedNote);
    const bool noted = note != data.end();
    const ExtendedOutcome extended =
        EditExtendedXmp(m, changes, noted ? note->toString() : std::string(), warnings, report);
    const Exiv2::XmpData before = data;
    std::vector<std::string> removed;
    bool changed = ChangeXmp(data, changes, quarterTurn, removed);
    if (auto at = Find(data, kExtendedNote); at != data.end()) {
        // Set only when the note was there: the GUID came from it.
        if (extended.note == ExtendedOutcome::Erase) data.erase(at);
        if (extended.note == ExtendedOutcome::Set) at->setValue(extended.guid);
        changed = changed || extended.note != ExtendedOutcome::Same;
    }
    if (!changed) return {};  // kept byte for byte
    // The changes are made in the text first, and by Exiv2 writing the
    // packet anew when they cannot be.
    XmpTextChanges inText{changes.copyright, changes.resetOrientation, quarterTurn,
                          changes.dropPictures, std::nullopt};
    if (extended.note == ExtendedOutcome::Erase && noted) inText.extendedNote = "";
    if (extended.note == ExtendedOutcome::Set) inText.extendedNote = extended.guid;
    if (auto text = InText(m.xmp, before, inText, report)) {
        for (const std::string& what : removed) warnings.push_back("removed the " + what);
        m.xmp = std::move(*text);
        return {};
    }
    const std::optional<std::string> packet = Encode(data, m.xmp);
    Exiv2::XmpData back;
    std::string difference = "it cannot be written back";
    if (packet && Decode(back, *packet)) {
        difference.clear();
        report.xmpPropertiesCompared += CompareXmp(before, back, difference);
    }
    if (difference.empty()) {
        m.xmp = *packet;
        for (const std::string& what : removed) warnings.push_back("removed the " + what);
        return {};
    }
    if (!removed.empty() || extended.note != ExtendedOutcome::Same)
        return "its pictures of the photo cannot be removed without changing it (" + difference +
               ")";
    warnings.push_back(
        "XMP packet kept as it was, without the changes it needed: it does not read "
        "back the same when written again (" +
        difference + ")");
    return {};
}

}  // namespace

void EditXmp(PictureMetadata& m, const MetadataChanges& changes, bool quarterTurn,
             Warnings& warnings, MetadataReport& report) {
    std::string dropped;  // why, when the packet must go
    if (m.xmp.size() > kMaxXmpBytes) {
        dropped = "larger than " + std::to_string(kMaxXmpBytes) + " bytes";
    } else if (!m.xmp.empty()) {
        try {
            dropped = ChangePacket(m, changes, quarterTurn, warnings, report);
        } catch (const std::exception& error) {
            dropped = std::string("Exiv2 cannot handle it (") + error.what() + ")";
        } catch (...) {
            dropped = "Exiv2 cannot handle it";
        }
    } else if (changes.dropPictures && !m.extendedXmp.empty()) {
        EditExtendedXmp(m, changes, {}, warnings, report);
    }
    if (!dropped.empty()) {
        std::string text =
            "XMP packet of " + std::to_string(m.xmp.size()) + " bytes dropped: " + dropped;
        if (!m.extendedXmp.empty()) text += "; its extended XMP with it";
        warnings.push_back(text);
        m.xmp.clear();
        m.extendedXmp.clear();
    }
    if (!changes.copyright || !m.xmp.empty()) return;
    // No packet, or none left: one of its own for the copyright.
    std::optional<std::string> packet;
    try {
        Exiv2::XmpData fresh;
        std::vector<std::string> none;
        ChangeXmp(fresh, changes, false, none);
        packet = Encode(fresh, {});
    } catch (...) {
        packet.reset();
    }
    if (packet)
        m.xmp = std::move(*packet);
    else
        warnings.push_back("XMP copyright not written: Exiv2 cannot make the packet");
}

}  // namespace sigillon
