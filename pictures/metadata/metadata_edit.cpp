#include "pictures/metadata/metadata_edit.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <exiv2/exiv2.hpp>
#include <mutex>
#include <new>
#include <optional>
#include <string_view>

// Exiv2 keeps global state (its log level, the XMP toolkit and the XMP
// namespaces a packet brings along), so every use of it here holds one
// lock. What is done under it is small beside coding the picture.

namespace sigillon {
namespace {

std::mutex& Exiv2Lock() {
    static std::mutex lock;
    return lock;
}

// Under the lock. Exiv2 would print its complaints about a damaged block on
// the standard error stream; the caller gets our warning instead.
void SetUpExiv2() {
    static bool done = false;
    if (done) return;
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize();
    done = true;
}

std::string Why(const std::exception& error) {
    std::string what = error.what();
    return what.empty() ? std::string("Exiv2 failed") : what;
}

// ---- EXIF ----

struct ParsedExif {
    Exiv2::ExifData data;
    Exiv2::ByteOrder order = Exiv2::littleEndian;
};

// Throws on a block Exiv2 cannot read; an empty result means it found no
// tag it could read.
ParsedExif ParseExif(const std::vector<std::uint8_t>& block) {
    ParsedExif parsed;
    parsed.order = Exiv2::ExifParser::decode(parsed.data, block.data(),
                                             static_cast<std::uint32_t>(block.size()));
    if (parsed.order == Exiv2::invalidByteOrder) parsed.order = Exiv2::littleEndian;
    return parsed;
}

bool HasThumbnail(const Exiv2::ExifData& data) {
    return std::any_of(data.begin(), data.end(),
                       [](const Exiv2::Exifdatum& d) { return d.groupName() == "Thumbnail"; });
}

// The orientation value when the tag holds one number, else 0.
long OrientationValue(const Exiv2::ExifData& data) {
    auto tag = data.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (tag == data.end() || tag->count() != 1) return 0;
    return tag->toLong(0);
}

void EraseKey(Exiv2::ExifData& data, const char* key) {
    for (auto at = data.findKey(Exiv2::ExifKey(key)); at != data.end();
         at = data.findKey(Exiv2::ExifKey(key)))
        data.erase(at);
}

void SwapValues(Exiv2::ExifData& data, const char* a, const char* b) {
    auto first = data.findKey(Exiv2::ExifKey(a));
    auto second = data.findKey(Exiv2::ExifKey(b));
    if (first == data.end() || second == data.end()) return;
    const auto firstValue = first->getValue();
    const auto secondValue = second->getValue();
    first->setValue(secondValue.get());
    second->setValue(firstValue.get());
}

// Returns true when something was changed.
bool ChangeExif(Exiv2::ExifData& data, const MetadataChanges& changes) {
    bool changed = false;
    if (changes.dropThumbnail && HasThumbnail(data)) {
        Exiv2::ExifThumb(data).erase();
        changed = true;
    }
    if (changes.resetOrientation &&
        data.findKey(Exiv2::ExifKey("Exif.Image.Orientation")) != data.end()) {
        const long was = OrientationValue(data);
        if (was != 1) {
            EraseKey(data, "Exif.Image.Orientation");
            data["Exif.Image.Orientation"] = std::uint16_t(1);
            if (was >= 5 && was <= 8)
                SwapValues(data, "Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension");
            changed = true;
        }
    }
    if (changes.copyright) {
        EraseKey(data, "Exif.Image.Copyright");
        const Exiv2::AsciiValue text(*changes.copyright);
        data.add(Exiv2::ExifKey("Exif.Image.Copyright"), &text);
        changed = true;
    }
    return changed;
}

// Whether a block written back reads as the changes meant: a thumbnail
// left in it would carry the unstamped picture on.
bool ReadsAsChanged(const std::vector<std::uint8_t>& block, const MetadataChanges& changes) {
    try {
        const ParsedExif back = ParseExif(block);
        if (changes.dropThumbnail && HasThumbnail(back.data)) return false;
        if (changes.resetOrientation &&
            back.data.findKey(Exiv2::ExifKey("Exif.Image.Orientation")) != back.data.end() &&
            OrientationValue(back.data) != 1)
            return false;
        if (changes.copyright) {
            auto tag = back.data.findKey(Exiv2::ExifKey("Exif.Image.Copyright"));
            if (tag == back.data.end() || tag->toString() != *changes.copyright) return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

// The changed tags as a block: changed in place where Exiv2 can keep the
// block's layout (and so the offsets inside maker notes), else laid out
// anew. Empty when nothing is left; nullopt when neither way gives a block
// that reads as changed.
std::optional<std::vector<std::uint8_t>> WriteBackExif(const std::vector<std::uint8_t>& original,
                                                       const ParsedExif& parsed,
                                                       const MetadataChanges& changes) {
    if (parsed.data.empty()) return std::vector<std::uint8_t>();
    if (!original.empty()) {
        std::vector<std::uint8_t> inPlace = original;
        Exiv2::Blob blob;
        const Exiv2::WriteMethod method = Exiv2::ExifParser::encode(
            blob, inPlace.data(), std::uint32_t(inPlace.size()), parsed.order, parsed.data);
        std::vector<std::uint8_t> written =
            method == Exiv2::wmNonIntrusive ? std::move(inPlace)
                                            : std::vector<std::uint8_t>(blob.begin(), blob.end());
        if (ReadsAsChanged(written, changes)) return written;
    }
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, parsed.order, parsed.data);
    std::vector<std::uint8_t> written(blob.begin(), blob.end());
    if (ReadsAsChanged(written, changes)) return written;
    return std::nullopt;
}

void EditExif(PictureMetadata& m, const MetadataChanges& changes,
              std::vector<std::string>& warnings) {
    std::string dropped;  // why, when the block must go
    if (m.exif.size() > kMaxExifBytes) {
        dropped = "larger than " + std::to_string(kMaxExifBytes) + " bytes";
    } else if (!m.exif.empty()) {
        try {
            ParsedExif parsed = ParseExif(m.exif);
            if (parsed.data.empty()) {
                dropped = "it holds no tag that can be read";
            } else if (ChangeExif(parsed.data, changes)) {
                auto written = WriteBackExif(m.exif, parsed, changes);
                if (written)
                    m.exif = std::move(*written);  // empty when the thumbnail was all there was
                else
                    dropped = "Exiv2 cannot write it back with the changes";
            }
            if (dropped.empty()) return;  // changed, or nothing to change: kept as it is
        } catch (const std::exception& error) {
            dropped = "Exiv2 cannot handle it (" + Why(error) + ")";
        } catch (...) {
            dropped = "Exiv2 cannot handle it";
        }
    }
    if (!dropped.empty()) {
        warnings.push_back("EXIF block of " + std::to_string(m.exif.size()) +
                           " bytes dropped: " + dropped);
        m.exif.clear();
    }
    if (!changes.copyright) return;
    // No block, or none left: one of its own for the copyright.
    std::optional<std::vector<std::uint8_t>> written;
    try {
        ParsedExif fresh;
        ChangeExif(fresh.data, changes);
        written = WriteBackExif({}, fresh, changes);
    } catch (...) {
        written.reset();
    }
    if (written)
        m.exif = std::move(*written);
    else
        warnings.push_back("EXIF copyright not written: Exiv2 cannot make the block");
}

// ---- XMP ----

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Returns true when something was changed.
bool ChangeXmp(Exiv2::XmpData& data, const MetadataChanges& changes) {
    bool changed = false;
    auto eraseAll = [&](const std::string& prefix) {
        for (auto at = data.begin(); at != data.end();) {
            if (StartsWith(at->key(), prefix)) {
                at = data.erase(at);
                changed = true;
            } else {
                ++at;
            }
        }
    };
    if (changes.dropThumbnail) eraseAll("Xmp.xmp.Thumbnails");
    if (changes.resetOrientation) {
        auto tag = data.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        if (tag != data.end() && tag->toString() != "1") {
            data.erase(tag);
            data["Xmp.tiff.Orientation"] = "1";
            changed = true;
        }
    }
    if (changes.copyright) {
        eraseAll("Xmp.dc.rights");
        Exiv2::LangAltValue rights;
        rights.value_["x-default"] = *changes.copyright;
        data.add(Exiv2::XmpKey("Xmp.dc.rights"), &rights);
        changed = true;
    }
    return changed;
}

void EditXmp(PictureMetadata& m, const MetadataChanges& changes,
             std::vector<std::string>& warnings) {
    std::string dropped;  // why, when the packet must go
    if (m.xmp.size() > kMaxXmpBytes) {
        dropped = "larger than " + std::to_string(kMaxXmpBytes) + " bytes";
    } else if (!m.xmp.empty()) {
        try {
            Exiv2::XmpData data;
            if (Exiv2::XmpParser::decode(data, m.xmp) != 0) {
                dropped = "it cannot be read";
            } else if (data.empty()) {
                dropped = "it holds no property that can be read";
            } else if (ChangeXmp(data, changes)) {
                std::string packet;
                if (Exiv2::XmpParser::encode(packet, data, Exiv2::XmpParser::useCompactFormat) !=
                        0 ||
                    packet.empty())
                    dropped = "it cannot be written back";
                else
                    m.xmp = std::move(packet);
            }
            if (dropped.empty()) return;  // changed, or nothing to change: kept as it is
        } catch (const std::exception& error) {
            dropped = "Exiv2 cannot handle it (" + Why(error) + ")";
        } catch (...) {
            dropped = "Exiv2 cannot handle it";
        }
    }
    if (!dropped.empty()) {
        std::string text =
            "XMP packet of " + std::to_string(m.xmp.size()) + " bytes dropped: " + dropped;
        if (!m.extendedXmp.empty()) text += "; its extended XMP with it";
        warnings.push_back(text);
        m.xmp.clear();
        m.extendedXmp.clear();
    }
    if (!changes.copyright) return;
    // No packet, or none left: one of its own for the copyright.
    std::string packet;
    int status = -1;
    try {
        Exiv2::XmpData fresh;
        ChangeXmp(fresh, changes);
        status = Exiv2::XmpParser::encode(packet, fresh, Exiv2::XmpParser::useCompactFormat);
    } catch (...) {
        status = -1;
    }
    if (status == 0 && !packet.empty())
        m.xmp = std::move(packet);
    else
        warnings.push_back("XMP copyright not written: Exiv2 cannot make the packet");
}

// ---- Photoshop ----

constexpr std::string_view kPhotoshopSignature{"Photoshop 3.0\0", 14};
// The resources that hold a thumbnail: 0x0409 from Photoshop 4, 0x040C after.
constexpr std::uint16_t kThumbnailResources[] = {0x0409, 0x040C};

void EditPhotoshop(PictureMetadata& m, const MetadataChanges& changes,
                   std::vector<std::string>& warnings) {
    if (!changes.dropThumbnail || m.photoshop.empty()) return;
    // The resource blocks run on from one segment to the next.
    std::vector<std::uint8_t> blocks;
    std::size_t total = 0;
    std::string dropped;
    for (const auto& part : m.photoshop) {
        total += part.size();
        if (part.size() < kPhotoshopSignature.size() ||
            !std::equal(kPhotoshopSignature.begin(), kPhotoshopSignature.end(), part.begin()))
            dropped = "a segment does not start as Photoshop data does";
        else
            blocks.insert(blocks.end(), part.begin() + kPhotoshopSignature.size(), part.end());
    }
    bool removed = false;
    try {
        for (std::uint16_t id : kThumbnailResources) {
            while (dropped.empty()) {
                const Exiv2::byte* record = nullptr;
                std::uint32_t header = 0, size = 0;
                const int found = Exiv2::Photoshop::locateIrb(blocks.data(), long(blocks.size()),
                                                              id, &record, &header, &size);
                if (found < 0) dropped = "its resource blocks cannot be read";
                if (found != 0) break;
                // The data is padded to an even length.
                const std::size_t at = std::size_t(record - blocks.data());
                const std::size_t end = std::min(blocks.size(), at + header + size + (size & 1));
                blocks.erase(blocks.begin() + std::ptrdiff_t(at),
                             blocks.begin() + std::ptrdiff_t(end));
                removed = true;
            }
        }
    } catch (...) {
        dropped = "Exiv2 cannot handle it";
    }
    if (!dropped.empty()) {
        warnings.push_back("Photoshop/IPTC data of " + std::to_string(total) +
                           " bytes dropped: " + dropped);
        m.photoshop.clear();
        return;
    }
    if (!removed) return;  // no thumbnail: the segments stay as they are
    m.photoshop.clear();
    const std::size_t room = kMaxJpegSegmentPayload - kPhotoshopSignature.size();
    for (std::size_t at = 0; at < blocks.size(); at += room) {
        std::vector<std::uint8_t> part(kPhotoshopSignature.begin(), kPhotoshopSignature.end());
        part.insert(part.end(), blocks.begin() + std::ptrdiff_t(at),
                    blocks.begin() + std::ptrdiff_t(std::min(blocks.size(), at + room)));
        m.photoshop.push_back(std::move(part));
    }
}

}  // namespace

std::vector<std::string> EditMetadata(PictureMetadata& m, const MetadataChanges& changes) {
    std::vector<std::string> warnings;
    std::lock_guard<std::mutex> hold(Exiv2Lock());
    SetUpExiv2();
    EditExif(m, changes, warnings);
    EditXmp(m, changes, warnings);
    EditPhotoshop(m, changes, warnings);
    // Namespaces a packet brought along stay registered otherwise, and a
    // long run over many files would keep them all.
    Exiv2::XmpProperties::unregisterNs();
    return warnings;
}

int ExifOrientation(const PictureMetadata& m) {
    if (m.exif.empty() || m.exif.size() > kMaxExifBytes) return 1;
    std::lock_guard<std::mutex> hold(Exiv2Lock());
    SetUpExiv2();
    long value = 0;
    try {
        value = OrientationValue(ParseExif(m.exif).data);
    } catch (...) {
        return 1;
    }
    return value >= 1 && value <= 8 ? int(value) : 1;
}

}  // namespace sigillon
