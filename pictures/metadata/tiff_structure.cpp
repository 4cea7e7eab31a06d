#include "pictures/metadata/tiff_structure.h"

#include <algorithm>

namespace sigillon::tiff {

std::optional<std::uint16_t> Order::U16(const Bytes& b, std::size_t at) const {
    if (at > b.size() || b.size() - at < 2) return std::nullopt;
    return big ? std::uint16_t(b[at] << 8 | b[at + 1]) : std::uint16_t(b[at + 1] << 8 | b[at]);
}

std::optional<std::uint32_t> Order::U32(const Bytes& b, std::size_t at) const {
    if (at > b.size() || b.size() - at < 4) return std::nullopt;
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | b[at + std::size_t(big ? i : 3 - i)];
    return v;
}

void Order::Put16(Bytes& b, std::size_t at, std::uint16_t value) const {
    if (at > b.size() || b.size() - at < 2) return;
    b[at + (big ? 0 : 1)] = std::uint8_t(value >> 8);
    b[at + (big ? 1 : 0)] = std::uint8_t(value);
}

void Order::Put32(Bytes& b, std::size_t at, std::uint32_t value) const {
    if (at > b.size() || b.size() - at < 4) return;
    for (int i = 0; i < 4; ++i)
        b[at + std::size_t(big ? 3 - i : i)] = std::uint8_t(value >> (8 * i));
}

std::optional<Order> HeaderOrder(const Bytes& b, std::size_t at) {
    if (at > b.size() || b.size() - at < 8) return std::nullopt;
    const Order order{b[at] == 'M'};
    if ((b[at] != 'I' && b[at] != 'M') || b[at + 1] != b[at]) return std::nullopt;
    if (order.U16(b, at + 2) != 42) return std::nullopt;
    return order;
}

std::size_t TypeSize(std::uint16_t type) {
    switch (type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;  // BYTE, ASCII, SBYTE, UNDEFINED
        case 3:
        case 8:
            return 2;  // SHORT, SSHORT
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;  // LONG, SLONG, FLOAT, IFD
        case 5:
        case 10:
        case 12:
            return 8;  // RATIONAL, SRATIONAL, DOUBLE
        default:
            return 0;
    }
}

const Entry* Ifd::Find(std::uint16_t tag) const {
    for (const Entry& e : entries)
        if (e.tag == tag) return &e;
    return nullptr;
}

std::optional<std::uint32_t> Ifd::Number(const Bytes& b, Order order, std::uint16_t tag) const {
    const Entry* e = Find(tag);
    if (!e || e->count != 1) return std::nullopt;
    if (e->type == kShort) return order.U16(b, e->valueAt);
    if (e->type == kLong || e->type == kIfd) return order.U32(b, e->valueAt);
    return std::nullopt;
}

std::optional<Ifd> ReadIfd(const Bytes& b, Order order, std::size_t at, std::size_t base) {
    const auto count = order.U16(b, at);
    if (!count || *count > kMaxEntries || (b.size() - at - 2) / 12 < *count) return std::nullopt;
    Ifd ifd;
    ifd.at = at;
    ifd.base = base;
    ifd.nextAt = at + 2 + 12 * std::size_t(*count);
    ifd.next = order.U32(b, ifd.nextAt).value_or(0);
    ifd.entries.reserve(*count);
    for (std::size_t i = 0; i < *count; ++i) {
        Entry e;
        e.at = at + 2 + 12 * i;
        e.tag = *order.U16(b, e.at);
        e.type = *order.U16(b, e.at + 2);
        e.count = *order.U32(b, e.at + 4);
        e.valueSize = std::size_t(std::uint64_t(e.count) * TypeSize(e.type));
        if (std::uint64_t(e.count) * TypeSize(e.type) > b.size()) e.valueSize = b.size() + 1;
        if (e.Inline()) {
            e.valueAt = e.at + 8;
        } else {
            e.valueAt = base + *order.U32(b, e.at + 8);
        }
        e.valueInBlock = e.valueAt <= b.size() && b.size() - e.valueAt >= e.valueSize;
        ifd.entries.push_back(e);
    }
    return ifd;
}

std::optional<std::size_t> OffsetValue(const Bytes& b, Order order, const Entry& e,
                                       std::size_t base) {
    if (e.count != 1) return std::nullopt;
    std::optional<std::uint32_t> v;
    if (e.type == kShort) v = order.U16(b, e.valueAt);
    if (e.type == kLong || e.type == kIfd) v = order.U32(b, e.valueAt);
    if (!v || base + *v >= b.size()) return std::nullopt;
    return base + *v;
}

bool PutNumber(Bytes& b, Order order, const Entry& e, std::uint32_t value) {
    if (e.count != 1 || !e.valueInBlock) return false;
    if (e.type == kShort) {
        if (value > 0xFFFF) return false;
        order.Put16(b, e.valueAt, std::uint16_t(value));
        return true;
    }
    if (e.type == kLong) {
        order.Put32(b, e.valueAt, value);
        return true;
    }
    return false;
}

void RangeSet::Add(std::size_t begin, std::size_t end) {
    if (begin >= end) return;
    Range added{begin, end};
    std::vector<Range> merged;
    merged.reserve(ranges_.size() + 1);
    bool placed = false;
    for (const Range& r : ranges_) {
        if (r.end < added.begin) {
            merged.push_back(r);
        } else if (added.end < r.begin) {
            if (!placed) merged.push_back(added), placed = true;
            merged.push_back(r);
        } else {
            added = {std::min(added.begin, r.begin), std::max(added.end, r.end)};
        }
    }
    if (!placed) merged.push_back(added);
    ranges_ = std::move(merged);
}

bool RangeSet::Overlaps(std::size_t begin, std::size_t end) const {
    return std::any_of(ranges_.begin(), ranges_.end(),
                       [&](const Range& r) { return r.begin < end && begin < r.end; });
}

std::vector<Range> RangeSet::Outside(std::size_t begin, std::size_t end) const {
    std::vector<Range> parts;
    std::size_t at = begin;
    for (const Range& r : ranges_) {
        if (r.end <= at) continue;
        if (r.begin >= end) break;
        if (r.begin > at) parts.push_back({at, r.begin});
        at = std::max(at, r.end);
    }
    if (at < end) parts.push_back({at, end});
    return parts;
}

}  // namespace sigillon::tiff
