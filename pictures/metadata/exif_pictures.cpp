#include "pictures/metadata/exif_pictures.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <tuple>

namespace sigillon {
namespace {

using namespace tiff;

constexpr std::uint16_t kMake = 0x010F, kExifIfdPointer = 0x8769, kGpsIfdPointer = 0x8825,
                        kInteropPointer = 0xA005, kMakerNote = 0x927C, kJpegStart = 0x0201,
                        kJpegLength = 0x0202, kStripOffsets = 0x0111, kStripByteCounts = 0x0117;

// Where a maker note keeps a picture, inside one of its IFDs.
struct Spot {
    enum Kind {
        OffsetLength,  // one tag holds where it starts, another its length
        Data,          // the tag's value is the picture
        SubIfd,        // the tag points to an IFD with spots of its own
        Array,         // LONG values of the tag hold its length and start
        StatedLength,  // a length at a fixed place of a note that is no IFD
    } kind;
    std::uint16_t tag = 0;
    std::uint16_t length = 0;  // OffsetLength: the length tag; Array: its index
    std::uint16_t extra = 0;   // OffsetLength: a "preview valid" tag; Array: the start's index
    const char* name = "";
    std::span<const Spot> inside = {};
};

constexpr Spot kPreviewIfd[] = {{Spot::OffsetLength, kJpegStart, kJpegLength, 0, "PreviewIFD"}};
constexpr Spot kOlympusCameraSettings[] = {
    {Spot::OffsetLength, 0x0101, 0x0102, 0x0100, "CameraSettings PreviewImage"}};

constexpr Spot kNikonSpots[] = {{Spot::SubIfd, 0x0011, 0, 0, "PreviewIFD", kPreviewIfd}};
constexpr Spot kCanonSpots[] = {{Spot::Array, 0x00B6, 2, 5, "PreviewImageInfo"}};
constexpr Spot kOlympusSpots[] = {
    {Spot::Data, 0x0100, 0, 0, "ThumbnailImage"},
    {Spot::Data, 0x0081, 0, 0, "PreviewImageData"},
    {Spot::Data, 0x0280, 0, 0, "PreviewImage"},
    {Spot::OffsetLength, 0x0088, 0x0089, 0, "PreviewImage"},
    {Spot::OffsetLength, 0x1036, 0x1037, 0x1035, "PreviewImage"},
    {Spot::SubIfd, 0x2020, 0, 0, "CameraSettings", kOlympusCameraSettings}};
constexpr Spot kPentaxSpots[] = {{Spot::OffsetLength, 0x0004, 0x0003, 0, "PreviewImage"}};
constexpr Spot kCasioSpots[] = {{Spot::OffsetLength, 0x0004, 0x0003, 0, "PreviewImage"},
                                {Spot::Data, 0x2000, 0, 0, "PreviewImage"}};
constexpr Spot kMinoltaSpots[] = {{Spot::OffsetLength, 0x0088, 0x0089, 0, "PreviewImage"},
                                  {Spot::Data, 0x0081, 0, 0, "PreviewImage"}};
constexpr Spot kSonySpots[] = {{Spot::Data, 0x2001, 0, 0, "PreviewImage"}};
constexpr Spot kSamsungSpots[] = {{Spot::SubIfd, 0x0035, 0, 0, "PreviewIFD", kPreviewIfd}};
constexpr Spot kSamsungStmnSpots[] = {{Spot::StatedLength, 0, 12, 0, "PreviewImage"}};
constexpr Spot kSanyoSpots[] = {{Spot::Data, 0x0100, 0, 0, "SanyoThumbnail"}};

// How a maker note is laid out: after a signature, an IFD whose offsets
// count from the EXIF block's start, the note's start, or a TIFF header of
// its own. The makers whose notes hold no pictures are not listed: their
// notes are kept whole.
struct MakerLayout {
    const char* name;
    std::string_view makes[3];  // the IFD0 Make starts with one of these (any case)
    std::string_view signature;
    std::size_t ifdAt;  // where the IFD starts in the note; kNoIfd for none
    enum { FromBlock, FromNote, FromInnerTiff } base;
    enum { BlockOrder, BigEndian, OrderAt } order;
    std::size_t orderAt;  // OrderAt: where "II" or "MM" is
    std::span<const Spot> spots;
};
constexpr std::size_t kNoIfd = std::size_t(-1);

constexpr MakerLayout kLayouts[] = {
    {"Nikon",
     {"NIKON"},
     {"Nikon\0\x02", 7},
     10,
     MakerLayout::FromInnerTiff,
     MakerLayout::OrderAt,
     10,
     kNikonSpots},
    {"Canon", {"Canon"}, {}, 0, MakerLayout::FromBlock, MakerLayout::BlockOrder, 0, kCanonSpots},
    {"Olympus",
     {"OLYMPUS", "OM Digital"},
     {"OLYMPUS\0", 8},
     12,
     MakerLayout::FromNote,
     MakerLayout::OrderAt,
     8,
     kOlympusSpots},
    {"Olympus",
     {"OLYMPUS"},
     {"OLYMP\0", 6},
     8,
     MakerLayout::FromBlock,
     MakerLayout::BlockOrder,
     0,
     kOlympusSpots},
    {"Olympus",
     {"OM Digital"},
     {"OM SYSTEM\0", 10},
     16,
     MakerLayout::FromNote,
     MakerLayout::OrderAt,
     12,
     kOlympusSpots},
    {"Pentax",
     {"PENTAX", "RICOH", "SAMSUNG"},
     {"AOC\0", 4},
     6,
     MakerLayout::FromBlock,
     MakerLayout::OrderAt,
     4,
     kPentaxSpots},
    {"Pentax",
     {"PENTAX", "RICOH"},
     {"PENTAX \0", 8},
     10,
     MakerLayout::FromNote,
     MakerLayout::OrderAt,
     8,
     kPentaxSpots},
    {"Casio",
     {"CASIO"},
     {"QVC\0\0\0", 6},
     6,
     MakerLayout::FromBlock,
     MakerLayout::BigEndian,
     0,
     kCasioSpots},
    {"Minolta",
     {"KONICA MINOLTA", "Minolta"},
     {},
     0,
     MakerLayout::FromBlock,
     MakerLayout::BlockOrder,
     0,
     kMinoltaSpots},
    {"Sony",
     {"SONY"},
     {"SONY DSC \0\0\0", 12},
     12,
     MakerLayout::FromBlock,
     MakerLayout::BlockOrder,
     0,
     kSonySpots},
    {"Sony",
     {"SONY"},
     {"SONY CAM \0\0\0", 12},
     12,
     MakerLayout::FromBlock,
     MakerLayout::BlockOrder,
     0,
     kSonySpots},
    {"Sony", {"SONY"}, {}, 0, MakerLayout::FromBlock, MakerLayout::BlockOrder, 0, kSonySpots},
    {"Samsung",
     {"SAMSUNG"},
     {"STMN", 4},
     kNoIfd,
     MakerLayout::FromNote,
     MakerLayout::BlockOrder,
     0,
     kSamsungStmnSpots},
    {"Samsung",
     {"SAMSUNG"},
     {},
     0,
     MakerLayout::FromNote,
     MakerLayout::BlockOrder,
     0,
     kSamsungSpots},
    {"Sanyo",
     {"SANYO"},
     {"SANYO\0", 6},
     8,
     MakerLayout::FromBlock,
     MakerLayout::BlockOrder,
     0,
     kSanyoSpots},
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return !prefix.empty() && text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::string AsciiValue(const Bytes& b, const Entry* e) {
    if (!e || e->type != kAscii || !e->valueInBlock) return {};
    std::string text(reinterpret_cast<const char*>(b.data()) + e->valueAt, e->valueSize);
    return text.substr(0, text.find('\0'));
}

EmbeddedPicture::Field FieldOf(const Entry& e) { return {e.valueAt, e.type == kShort ? 2u : 4u}; }

struct Walk {
    const Bytes& b;
    Order order;
    ExifLayout& out;
    std::size_t reads = 0;

    // An IFD two tags point to is read for each (a maker's preview IFD may
    // be IFD1 as well); the walk has no loops but the IFD chain, which
    // ThumbnailChain guards, and reads at most 64 IFDs.
    std::optional<Ifd> Read(std::size_t at, std::size_t base) {
        if (++reads > 64) return std::nullopt;
        return ReadIfd(b, order, at, base);
    }

    void Keep(const Ifd& ifd, const std::vector<std::uint16_t>& pictureValues = {}) {
        out.kept.Add(ifd.at, ifd.End());
        for (const Entry& e : ifd.entries)
            if (!e.Inline() && e.valueInBlock &&
                std::find(pictureValues.begin(), pictureValues.end(), e.tag) == pictureValues.end())
                out.kept.Add(e.valueAt, e.valueAt + e.valueSize);
    }

    EmbeddedPicture Picture(std::string what, std::size_t start, std::size_t size) const {
        EmbeddedPicture p;
        p.what = std::move(what);
        p.size = size;
        if (start < b.size() && size > 0) {
            const std::size_t end = start + std::min(size, b.size() - start);
            p.bytes.push_back({start, end});
            std::tie(p.width, p.height) = JpegSize(b.data() + start, end - start);
        }
        return p;
    }

    // within: the tag whose UNDEFINED value holds the IFD, else 0.
    void MakerIfd(const Ifd& ifd, std::span<const Spot> spots, const std::string& maker,
                  std::uint16_t within);
    void MakerNote(const Range& note, std::string_view make);
    void ThumbnailChain(std::uint32_t first);
};

void Walk::MakerIfd(const Ifd& ifd, std::span<const Spot> spots, const std::string& maker,
                    std::uint16_t within) {
    std::vector<std::uint16_t> pictureValues;
    auto add = [&](EmbeddedPicture p, std::uint16_t tag) {
        p.inMakerNote = true;
        p.tags.push_back(tag);
        // An IFD inside an UNDEFINED value changes that value too.
        if (within) p.tags.push_back(within);
        // Two tags may name the same picture (Casio: its start and length,
        // and its data).
        for (EmbeddedPicture& seen : out.pictures)
            if (seen.inMakerNote && !seen.bytes.empty() && seen.bytes == p.bytes) {
                seen.fields.insert(seen.fields.end(), p.fields.begin(), p.fields.end());
                seen.tags.insert(seen.tags.end(), p.tags.begin(), p.tags.end());
                return;
            }
        out.pictures.push_back(std::move(p));
    };
    for (const Spot& s : spots) {
        const Entry* e = ifd.Find(s.tag);
        if (!e) continue;
        if (s.kind == Spot::OffsetLength) {
            const Entry* length = ifd.Find(s.length);
            const auto start = ifd.Number(b, order, s.tag), size = ifd.Number(b, order, s.length);
            if (!length || !start || !size || *size == 0) continue;
            EmbeddedPicture p = Picture(maker + " " + s.name, ifd.base + *start, *size);
            p.fields.push_back(FieldOf(*length));
            if (const Entry* valid = s.extra ? ifd.Find(s.extra) : nullptr;
                valid && ifd.Number(b, order, s.extra)) {
                p.fields.push_back(FieldOf(*valid));
                p.tags.push_back(s.extra);
            }
            add(std::move(p), s.length);
        } else if (s.kind == Spot::Data) {
            if (e->Inline() || !e->valueInBlock) continue;  // four bytes hold no picture
            EmbeddedPicture p = Picture(maker + " " + s.name, e->valueAt, e->valueSize);
            p.fields.push_back({e->at + 4, 4});  // its count
            pictureValues.push_back(s.tag);
            add(std::move(p), s.tag);
        } else if (s.kind == Spot::SubIfd && !s.inside.empty()) {
            // Olympus keeps some of its IFDs inside an UNDEFINED value.
            const bool embedded = e->type == kUndefined && e->valueInBlock;
            std::optional<std::size_t> at =
                embedded ? std::optional(e->valueAt) : OffsetValue(b, order, *e, ifd.base);
            if (!at) continue;
            if (auto sub = Read(*at, ifd.base))
                MakerIfd(*sub, s.inside, maker, embedded ? s.tag : 0);
        } else if (s.kind == Spot::Array) {
            if (e->type != kLong || !e->valueInBlock || e->count <= std::max(s.length, s.extra))
                continue;
            const std::size_t lengthAt = e->valueAt + 4 * std::size_t(s.length);
            const std::uint32_t size = *order.U32(b, lengthAt);
            const std::uint32_t start = *order.U32(b, e->valueAt + 4 * std::size_t(s.extra));
            if (size == 0) continue;
            EmbeddedPicture p = Picture(maker + " " + s.name, ifd.base + start, size);
            p.fields.push_back({lengthAt, 4});
            add(std::move(p), s.tag);
        }
    }
    // Any other value that is JPEG data is a picture as well.
    for (const Entry& e : ifd.entries) {
        if ((e.type != kUndefined && e.type != kByte) || e.Inline() || !e.valueInBlock ||
            std::find(pictureValues.begin(), pictureValues.end(), e.tag) != pictureValues.end())
            continue;
        const std::uint8_t* v = b.data() + e.valueAt;
        if (v[0] != 0xFF || v[1] != 0xD8 || v[2] != 0xFF) continue;
        char tag[8];
        std::snprintf(tag, sizeof tag, "0x%04X", e.tag);
        EmbeddedPicture p = Picture(maker + " JPEG picture in tag " + tag, e.valueAt, e.valueSize);
        p.fields.push_back({e.at + 4, 4});
        pictureValues.push_back(e.tag);
        add(std::move(p), e.tag);
    }
    Keep(ifd, pictureValues);
}

void Walk::MakerNote(const Range& note, std::string_view make) {
    const std::size_t size = note.end - note.begin;
    const std::uint8_t* start = b.data() + note.begin;
    for (const MakerLayout& layout : kLayouts) {
        if (std::none_of(std::begin(layout.makes), std::end(layout.makes),
                         [&](std::string_view m) { return StartsWithNoCase(make, m); }))
            continue;
        // A layout without a signature has nothing to compare (and a null
        // data pointer, which memcmp may not be given).
        if (size < layout.signature.size() ||
            (!layout.signature.empty() &&
             std::memcmp(start, layout.signature.data(), layout.signature.size()) != 0))
            continue;
        // The first layout whose make and signature match is the note's.
        Order noteOrder = order;
        std::size_t ifdAt = layout.ifdAt;
        if (layout.order == MakerLayout::BigEndian) noteOrder = Order{true};
        if (layout.order == MakerLayout::OrderAt && size >= layout.orderAt + 2) {
            const std::uint8_t o = start[layout.orderAt];
            if ((o == 'I' || o == 'M') && start[layout.orderAt + 1] == o)
                noteOrder = Order{o == 'M'};
        }
        std::size_t base = layout.base == MakerLayout::FromNote ? note.begin : 0;
        if (layout.base == MakerLayout::FromInnerTiff) {
            const auto inner = HeaderOrder(b, note.begin + layout.orderAt);
            if (!inner) break;
            noteOrder = *inner;
            base = note.begin + layout.orderAt;
            ifdAt = layout.orderAt + inner->U32(b, base + 4).value_or(size);
        }
        out.maker = layout.name;
        if (layout.ifdAt == kNoIfd) {
            // A note of fixed fields: it stays whole, only its length field changes.
            out.kept.Add(note);
            for (const Spot& s : layout.spots) {
                if (s.kind != Spot::StatedLength || size < s.length + 4u) continue;
                const std::uint32_t stated = *order.U32(b, note.begin + s.length);
                if (stated == 0) continue;
                EmbeddedPicture p =
                    Picture(std::string(layout.name) + " " + s.name, b.size(), stated);
                p.inMakerNote = true;
                p.fields.push_back({note.begin + s.length, 4});
                out.pictures.push_back(std::move(p));
            }
            return;
        }
        if (ifdAt >= size) break;
        const Order blockOrder = order;
        order = noteOrder;
        std::optional<Ifd> ifd = Read(note.begin + ifdAt, base);
        if (ifd) {
            // Its signature and header (a TIFF header of its own ends at
            // orderAt + 8; its IFD may lie anywhere after that).
            const std::size_t header =
                layout.base == MakerLayout::FromInnerTiff ? layout.orderAt + 8 : ifdAt;
            out.kept.Add(note.begin, note.begin + header);
            MakerIfd(*ifd, layout.spots, layout.name, 0);
        }
        order = blockOrder;
        if (ifd) return;
        break;
    }
    out.maker.clear();
    out.kept.Add(note);  // a layout not known here: the note stays as it is
}

void Walk::ThumbnailChain(std::uint32_t first) {
    std::uint32_t next = first;
    std::vector<std::uint32_t> seen;
    for (int n = 1; next != 0 && n <= 8; ++n) {
        if (std::find(seen.begin(), seen.end(), next) != seen.end()) return;  // a loop
        seen.push_back(next);
        const std::optional<Ifd> ifd = Read(next, 0);
        if (!ifd) return;
        EmbeddedPicture p;
        p.what = n == 1 ? "EXIF thumbnail" : "picture in IFD" + std::to_string(n);
        p.bytes.push_back({ifd->at, std::min(ifd->End(), b.size())});
        for (const Entry& e : ifd->entries)
            if (!e.Inline() && e.valueInBlock)
                p.bytes.push_back({e.valueAt, e.valueAt + e.valueSize});
        const auto start = ifd->Number(b, order, kJpegStart),
                   size = ifd->Number(b, order, kJpegLength);
        if (start && size && *start < b.size() && *size > 0) {
            const EmbeddedPicture jpeg = Picture({}, *start, *size);
            p.bytes.insert(p.bytes.end(), jpeg.bytes.begin(), jpeg.bytes.end());
            p.size = *size;
            p.width = jpeg.width;
            p.height = jpeg.height;
        }
        // An uncompressed thumbnail lies in strips.
        const Entry* offsets = ifd->Find(kStripOffsets);
        const Entry* counts = ifd->Find(kStripByteCounts);
        if (offsets && counts && offsets->valueInBlock && counts->valueInBlock &&
            offsets->count == counts->count && offsets->count <= 1024) {
            for (std::uint32_t i = 0; i < offsets->count; ++i) {
                auto value = [&](const Entry& e) -> std::optional<std::uint32_t> {
                    if (e.type == kShort) return order.U16(b, e.valueAt + 2 * i);
                    if (e.type == kLong) return order.U32(b, e.valueAt + 4 * i);
                    return std::nullopt;
                };
                const auto at = value(*offsets), size = value(*counts);
                if (!at || !size || *at >= b.size()) continue;
                p.bytes.push_back({*at, *at + std::min<std::size_t>(*size, b.size() - *at)});
                p.size += *size;
            }
        }
        out.pictures.push_back(std::move(p));
        next = ifd->next;
    }
}

}  // namespace

std::optional<ExifLayout> ReadExifLayout(const Bytes& b, std::string* whyNot) {
    auto fail = [&](const char* why) -> std::optional<ExifLayout> {
        if (whyNot) *whyNot = why;
        return std::nullopt;
    };
    const std::optional<Order> order = HeaderOrder(b);
    if (!order) return fail("it does not start with a TIFF header");
    ExifLayout out;
    out.order = *order;
    Walk walk{b, *order, out, {}};
    const std::optional<Ifd> ifd0 = walk.Read(*order->U32(b, 4), 0);
    if (!ifd0) return fail("its IFD0 cannot be read");
    out.ifd0 = *ifd0;
    out.kept.Add(0, 8);
    walk.Keep(*ifd0);
    // A JPEG picture named in IFD0 itself.
    const auto start = ifd0->Number(b, *order, kJpegStart),
               size = ifd0->Number(b, *order, kJpegLength);
    if (start && size && *size > 0) {
        EmbeddedPicture p = walk.Picture("JPEG picture in IFD0", *start, *size);
        p.fields.push_back(FieldOf(*ifd0->Find(kJpegLength)));
        p.tags.push_back(kJpegLength);
        out.pictures.push_back(std::move(p));
    }
    auto sub = [&](const Ifd& from, std::uint16_t tag) -> std::optional<Ifd> {
        const Entry* e = from.Find(tag);
        const auto at = e ? OffsetValue(b, *order, *e, 0) : std::nullopt;
        std::optional<Ifd> ifd = at ? walk.Read(*at, 0) : std::nullopt;
        // The maker note is kept by its walk: whole, or what its IFDs use.
        if (ifd) walk.Keep(*ifd, {kMakerNote});
        return ifd;
    };
    out.exifIfd = sub(*ifd0, kExifIfdPointer);
    sub(*ifd0, kGpsIfdPointer);
    if (out.exifIfd) {
        sub(*out.exifIfd, kInteropPointer);
        const Entry* note = out.exifIfd->Find(kMakerNote);
        if (note && !note->Inline() && note->valueInBlock) {
            out.makerNote = Range{note->valueAt, note->valueAt + note->valueSize};
            walk.MakerNote(*out.makerNote, AsciiValue(b, ifd0->Find(kMake)));
        }
    }
    walk.ThumbnailChain(ifd0->next);
    return out;
}

std::pair<int, int> JpegSize(const std::uint8_t* data, std::size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return {0, 0};
    std::size_t at = 2;
    while (at + 4 <= size) {
        if (data[at] != 0xFF) return {0, 0};
        const std::uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        const std::size_t length = std::size_t(data[at + 2]) << 8 | data[at + 3];
        const bool frame =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (at + 9 > size) return {0, 0};
            return {data[at + 7] << 8 | data[at + 8], data[at + 5] << 8 | data[at + 6]};
        }
        if (marker == 0xDA || marker == 0xD9 || length < 2) return {0, 0};
        at += 2 + length;
    }
    return {0, 0};
}

}  // namespace sigillon
