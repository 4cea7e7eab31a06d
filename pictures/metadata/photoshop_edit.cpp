// Photoshop's image resources (JPEG APP13): the thumbnail resources and the
// IPTC object preview are taken out. The resources hold no offsets, so the
// rest is laid out again as it was; data that cannot be read is kept byte
// for byte unless it shows signs of a picture.
#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "pictures/metadata/md5.h"
#include "pictures/metadata/metadata_parts.h"

namespace sigillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kPhotoshopSignature{"Photoshop 3.0\0", 14};
// The resources that hold a thumbnail: 0x0409 from Photoshop 4, 0x040C after.
constexpr std::uint16_t kThumbnails[] = {0x0409, 0x040C};
constexpr std::uint16_t kIptc = 0x0404, kIptcDigest = 0x0425;
// IPTC application record datasets of the object preview: its file format,
// its version, and the preview itself.
constexpr std::uint8_t kPreviewDatasets[] = {200, 201, 202};

std::uint32_t BigEndian(const std::uint8_t* p, std::size_t bytes) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < bytes; ++i) v = v << 8 | p[i];
    return v;
}

struct Resource {
    std::size_t at = 0, dataAt = 0, dataSize = 0, end = 0;
    std::uint16_t id = 0;
};

// Each resource: a signature, its id, a Pascal name padded to even length,
// the size of its data, the data padded to even length.
std::optional<std::vector<Resource>> ReadResources(const Bytes& b) {
    std::vector<Resource> resources;
    for (std::size_t at = 0; at < b.size();) {
        if (b.size() - at < 12) return std::nullopt;
        const std::string_view signature(reinterpret_cast<const char*>(&b[at]), 4);
        if (signature != "8BIM" && signature != "AgHg" && signature != "DCSR" &&
            signature != "PHUT" && signature != "MeSa")
            return std::nullopt;
        Resource r;
        r.at = at;
        r.id = std::uint16_t(BigEndian(&b[at + 4], 2));
        const std::size_t sizeAt = at + 6 + ((std::size_t(b[at + 6]) + 2) & ~std::size_t(1));
        if (sizeAt > b.size() || b.size() - sizeAt < 4) return std::nullopt;
        r.dataSize = BigEndian(&b[sizeAt], 4);
        r.dataAt = sizeAt + 4;
        if (r.dataSize > b.size() - r.dataAt) return std::nullopt;
        r.end = std::min(b.size(), r.dataAt + r.dataSize + (r.dataSize & 1));
        resources.push_back(r);
        at = r.end;
    }
    return resources;
}

// The IPTC data without the object preview's datasets; nothing when the
// datasets cannot be read. *previewBytes counts the preview's bytes.
std::optional<Bytes> WithoutObjectPreview(const std::uint8_t* data, std::size_t size,
                                          std::size_t& previewBytes) {
    Bytes kept;
    for (std::size_t at = 0; at < size;) {
        if (data[at] != 0x1C) {
            // Zeros may pad the end; anything else is damage.
            if (std::all_of(data + at, data + size, [](std::uint8_t c) { return c == 0; })) {
                kept.insert(kept.end(), data + at, data + size);
                break;
            }
            return std::nullopt;
        }
        if (size - at < 5) return std::nullopt;
        std::size_t header = 5, length = BigEndian(data + at + 3, 2);
        if (length & 0x8000) {  // an extended dataset: the length's own length
            const std::size_t bytes = length & 0x7FFF;
            if (bytes > 4 || size - at - 5 < bytes) return std::nullopt;
            length = BigEndian(data + at + 5, bytes);
            header += bytes;
        }
        if (length > size - at - header) return std::nullopt;
        const std::size_t end = at + header + length;
        const bool preview =
            data[at + 1] == 2 &&
            std::count(std::begin(kPreviewDatasets), std::end(kPreviewDatasets), data[at + 2]) > 0;
        if (preview)
            previewBytes += data[at + 2] == 202 ? length : 0;
        else
            kept.insert(kept.end(), data + at, data + end);
        at = end;
    }
    return kept;
}

bool HasPictureMarks(const Bytes& b) {
    auto has = [&](std::string_view mark) {
        return std::search(b.begin(), b.end(), mark.begin(), mark.end()) != b.end();
    };
    return has({"8BIM\x04\x09", 6}) || has({"8BIM\x04\x0C", 6}) || has({"\x1C\x02\xCA", 3});
}

}  // namespace

void EditPhotoshop(PictureMetadata& m, const MetadataChanges& changes, Warnings& warnings,
                   MetadataReport&) {
    if (!changes.dropPictures || m.photoshop.empty()) return;
    // The resources run on from one segment to the next.
    Bytes blocks;
    std::size_t total = 0;
    bool signed_ = true;
    for (const auto& part : m.photoshop) {
        total += part.size();
        if (part.size() < kPhotoshopSignature.size() ||
            !std::equal(kPhotoshopSignature.begin(), kPhotoshopSignature.end(), part.begin()))
            signed_ = false;
        else
            blocks.insert(blocks.end(), part.begin() + kPhotoshopSignature.size(), part.end());
    }
    const std::optional<std::vector<Resource>> resources =
        signed_ ? ReadResources(blocks) : std::nullopt;
    if (!resources) {
        if (signed_ && !HasPictureMarks(blocks)) return;  // kept byte for byte
        warnings.push_back("Photoshop/IPTC data of " + std::to_string(total) + " bytes dropped: " +
                           (signed_ ? "its resources cannot be read, and one may be a picture of "
                                      "the photo"
                                    : "a segment does not start as Photoshop data does"));
        m.photoshop.clear();
        return;
    }
    Bytes out;
    std::vector<std::string> removed;
    std::optional<std::array<std::uint8_t, 16>> oldDigest, newDigest;
    for (const Resource& r : *resources) {
        if (std::count(std::begin(kThumbnails), std::end(kThumbnails), r.id)) {
            std::string size = std::to_string(r.dataSize) + " bytes";
            if (r.dataSize >= 28)  // format, width, height, ... then the JPEG
                size = std::to_string(BigEndian(&blocks[r.dataAt + 4], 4)) + " x " +
                       std::to_string(BigEndian(&blocks[r.dataAt + 8], 4));
            removed.push_back("the Photoshop thumbnail (" + size + ")");
            continue;
        }
        std::size_t previewBytes = 0;
        std::optional<Bytes> iptc;
        if (r.id == kIptc) iptc = WithoutObjectPreview(&blocks[r.dataAt], r.dataSize, previewBytes);
        if (!iptc || iptc->size() == r.dataSize) {
            out.insert(out.end(), blocks.begin() + std::ptrdiff_t(r.at),
                       blocks.begin() + std::ptrdiff_t(r.end));
            if (r.dataSize & 1 && r.end == r.dataAt + r.dataSize) out.push_back(0);
            continue;
        }
        // The IPTC resource again, with its new size.
        removed.push_back("the IPTC object preview (" + std::to_string(previewBytes) + " bytes)");
        oldDigest = Md5(&blocks[r.dataAt], r.dataSize);
        newDigest = Md5(iptc->data(), iptc->size());
        out.insert(out.end(), blocks.begin() + std::ptrdiff_t(r.at),
                   blocks.begin() + std::ptrdiff_t(r.dataAt - 4));
        for (int shift = 24; shift >= 0; shift -= 8)
            out.push_back(std::uint8_t(iptc->size() >> shift));
        out.insert(out.end(), iptc->begin(), iptc->end());
        if (iptc->size() & 1) out.push_back(0);
    }
    if (removed.empty()) return;  // the segments stay as they are
    // A digest of the IPTC data that was current stays current.
    const std::optional<std::vector<Resource>> laidOut = ReadResources(out);
    if (oldDigest && laidOut)
        for (const Resource& r : *laidOut)
            if (r.id == kIptcDigest && r.dataSize == 16 &&
                std::equal(oldDigest->begin(), oldDigest->end(),
                           out.begin() + std::ptrdiff_t(r.dataAt)))
                std::copy(newDigest->begin(), newDigest->end(),
                          out.begin() + std::ptrdiff_t(r.dataAt));
    for (const std::string& what : removed) warnings.push_back("removed " + what);
    m.photoshop.clear();
    const std::size_t room = kMaxJpegSegmentPayload - kPhotoshopSignature.size();
    for (std::size_t at = 0; at < out.size(); at += room) {
        Bytes part(kPhotoshopSignature.begin(), kPhotoshopSignature.end());
        part.insert(part.end(), out.begin() + std::ptrdiff_t(at),
                    out.begin() + std::ptrdiff_t(std::min(out.size(), at + room)));
        m.photoshop.push_back(std::move(part));
    }
}

}  // namespace sigillon
