#include "pictures/tiff/tiff_metadata.h"

#include <algorithm>
#include <string_view>

#include "pictures/metadata/metadata.h"
#include "pictures/metadata/metadata_edit.h"
#include "pictures/metadata/tiff_structure.h"

namespace sigillon::tiff_metadata {
namespace {

constexpr std::uint16_t kInteroperabilityIfdTag = 40965, kMakerNoteTag = 37500;
constexpr std::string_view kPhotoshopSignature{"Photoshop 3.0\0", 14};
constexpr std::uint16_t kIptcResource = 0x0404;
// EXIF, then interoperability: deeper nesting is not EXIF's.
constexpr int kMaxDepth = 3;

bool IsSubIfd(std::uint16_t tag) {
    return tag == kExifIfdTag || tag == kGpsIfdTag || tag == kInteroperabilityIfdTag;
}

std::string TagName(std::uint16_t tag) {
    if (tag == kMakerNoteTag) return "the EXIF maker note";
    if (tag == kGpsIfdTag) return "the GPS tags";
    if (tag == kInteroperabilityIfdTag) return "the EXIF interoperability tags";
    if (tag == kExifIfdTag) return "the EXIF tags";
    return "EXIF tag " + std::to_string(tag);
}

std::optional<std::size_t> Append(const ReadAt& read, tiff::Order order, std::uint64_t at,
                                  std::uint64_t base, Bytes& out,
                                  const std::function<bool(std::uint16_t)>& keep, int depth,
                                  std::vector<std::string>& dropped) {
    tiff::Bytes count(2);
    if (depth > kMaxDepth || !read(at, 2, count.data())) return std::nullopt;
    const std::size_t entries = *order.U16(count, 0);
    if (entries == 0 || entries > tiff::kMaxEntries) return std::nullopt;
    tiff::Bytes table(entries * 12);
    if (!read(at + 2, table.size(), table.data())) return std::nullopt;

    struct Kept {
        std::size_t from;  // of its entry in table
        std::size_t size;  // of its value
    };
    std::vector<Kept> kept;
    for (std::size_t i = 0; i < entries; ++i) {
        const std::uint16_t tag = *order.U16(table, 12 * i);
        const std::size_t size = tiff::TypeSize(*order.U16(table, 12 * i + 2)) *
                                 std::size_t(*order.U32(table, 12 * i + 4));
        if (!keep(tag) || size == 0) continue;
        if (tag == kMakerNoteTag || size > kMaxExifBytes) {
            dropped.push_back(TagName(tag) + " left out: " +
                              (tag == kMakerNoteTag ? "it holds offsets into the file it came from"
                                                    : "its value is too large"));
            continue;
        }
        kept.push_back({12 * i, size});
    }
    const std::size_t start = out.size();
    out.resize(start + 2 + 12 * kept.size() + 4, 0);
    std::vector<bool> lost(kept.size());
    order.Put16(out, start, std::uint16_t(kept.size()));
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const std::size_t entry = start + 2 + 12 * k;
        std::copy_n(table.begin() + std::ptrdiff_t(kept[k].from), 12,
                    out.begin() + std::ptrdiff_t(entry));
        const std::uint16_t tag = *order.U16(out, entry);
        const std::uint32_t value = *order.U32(out, entry + 8);
        if (out.size() % 2) out.push_back(0);  // values start on a word boundary
        const std::size_t placed = out.size();
        bool copied = false;
        if (IsSubIfd(tag) && kept[k].size == 4) {
            copied = Append(
                         read, order, value, base, out, [](std::uint16_t) { return true; },
                         depth + 1, dropped)
                         .has_value();
        } else if (kept[k].size <= 4) {
            continue;  // the value sits in the entry
        } else if (out.size() + kept[k].size <= kMaxExifBytes) {
            out.resize(placed + kept[k].size);
            copied = read(value, kept[k].size, out.data() + placed);
        }
        if (!copied) {
            out.resize(placed);
            dropped.push_back(TagName(tag) + " left out: " +
                              (IsSubIfd(tag) ? "they cannot be read" : "its value cannot be read"));
            lost[k] = true;
            continue;
        }
        order.Put32(out, entry + 8, std::uint32_t(base + placed));
    }
    // Entries whose values were lost go, and the table closes up.
    std::size_t write = start + 2;
    std::size_t left = 0;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        const std::size_t entry = start + 2 + 12 * k;
        if (lost[k]) continue;
        std::copy_n(out.begin() + std::ptrdiff_t(entry), 12, out.begin() + std::ptrdiff_t(write));
        write += 12;
        ++left;
    }
    std::fill(out.begin() + std::ptrdiff_t(write),
              out.begin() + std::ptrdiff_t(start + 2 + 12 * kept.size() + 4), 0);
    order.Put16(out, start, std::uint16_t(left));
    return start;
}

}  // namespace

std::optional<std::size_t> AppendIfd(const ReadAt& read, bool bigEndian, std::uint64_t at,
                                     std::uint64_t base, Bytes& out,
                                     const std::function<bool(std::uint16_t)>& keep,
                                     std::vector<std::string>& dropped) {
    const std::size_t size = out.size();
    std::vector<std::string> lost;
    std::optional<std::size_t> start =
        Append(read, tiff::Order{bigEndian}, at, base, out, keep, 0, lost);
    if (!start) out.resize(size);
    dropped.insert(dropped.end(), lost.begin(), lost.end());
    return start;
}

Bytes ExifBlockOfFile(const ReadAt& file, bool bigEndian, std::uint64_t ifd0,
                      std::vector<std::string>& dropped) {
    Bytes block =
        bigEndian ? Bytes{'M', 'M', 0, 42, 0, 0, 0, 8} : Bytes{'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto keep = [](std::uint16_t tag) {
        return tag == kExifIfdTag || tag == kGpsIfdTag ||
               std::count(std::begin(kDescriptiveTags), std::end(kDescriptiveTags), tag) > 0;
    };
    const std::optional<std::size_t> start =
        AppendIfd(file, bigEndian, ifd0, 0, block, keep, dropped);
    if (!start || *tiff::Order{bigEndian}.U16(block, *start) == 0) return {};
    return block;
}

Bytes IptcOfPhotoshop(const std::vector<Bytes>& segments, bool* others) {
    *others = false;
    // The resources run on from one segment to the next.
    Bytes resources;
    for (const Bytes& segment : segments) {
        if (segment.size() < kPhotoshopSignature.size() ||
            !std::equal(kPhotoshopSignature.begin(), kPhotoshopSignature.end(), segment.begin())) {
            *others = true;
            continue;
        }
        resources.insert(resources.end(),
                         segment.begin() + std::ptrdiff_t(kPhotoshopSignature.size()),
                         segment.end());
    }
    const tiff::Order big{true};
    Bytes iptc;
    // Each resource: "8BIM", its id, a Pascal name padded to even length,
    // the size of its data, the data padded to even length.
    for (std::size_t at = 0; at + 12 <= resources.size();) {
        const std::size_t sizeAt =
            at + 6 + ((std::size_t(resources[at + 6]) + 2) & ~std::size_t(1));
        const std::optional<std::uint32_t> size = big.U32(resources, sizeAt);
        if (!size || *size > resources.size() - sizeAt - 4) break;
        const std::size_t dataAt = sizeAt + 4;
        if (*big.U16(resources, at + 4) == kIptcResource && iptc.empty())
            iptc.assign(resources.begin() + std::ptrdiff_t(dataAt),
                        resources.begin() + std::ptrdiff_t(dataAt + *size));
        else
            *others = true;
        at = dataAt + *size + (*size & 1);
    }
    return iptc;
}

std::vector<Bytes> PhotoshopOfIptc(const Bytes& iptc) {
    if (iptc.empty()) return {};
    Bytes resource = {'8', 'B', 'I', 'M', 0x04, 0x04, 0, 0};  // id 0x0404, empty name
    for (int shift = 24; shift >= 0; shift -= 8)
        resource.push_back(std::uint8_t(iptc.size() >> shift));
    resource.insert(resource.end(), iptc.begin(), iptc.end());
    if (iptc.size() & 1) resource.push_back(0);
    std::vector<Bytes> segments;
    const std::size_t room = kMaxJpegSegmentPayload - kPhotoshopSignature.size();
    for (std::size_t at = 0; at < resource.size(); at += room) {
        Bytes segment(kPhotoshopSignature.begin(), kPhotoshopSignature.end());
        segment.insert(segment.end(), resource.begin() + std::ptrdiff_t(at),
                       resource.begin() + std::ptrdiff_t(std::min(resource.size(), at + room)));
        segments.push_back(std::move(segment));
    }
    return segments;
}

}  // namespace sigillon::tiff_metadata
