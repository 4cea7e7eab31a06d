// The TIFF structure of an EXIF block, read and patched where it sits.
//
// Every read is checked against the end of the block: a field that is not
// all there reads as nothing, and an IFD whose entries run past the end is
// not read at all. Nothing here allocates in proportion to a count the
// block states without first checking that the block holds that much.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sigillon::tiff {

using Bytes = std::vector<std::uint8_t>;

// An IFD holds at most this many entries here; a larger count is damage.
inline constexpr std::size_t kMaxEntries = 4096;

struct Order {
    bool big = false;  // "MM": most significant byte first

    std::optional<std::uint16_t> U16(const Bytes& b, std::size_t at) const;
    std::optional<std::uint32_t> U32(const Bytes& b, std::size_t at) const;
    // Callers check the room first; these write nothing outside the block.
    void Put16(Bytes& b, std::size_t at, std::uint16_t value) const;
    void Put32(Bytes& b, std::size_t at, std::uint32_t value) const;
};

// "II*\0" or "MM\0*" at the start of bytes + at.
std::optional<Order> HeaderOrder(const Bytes& b, std::size_t at = 0);

// Bytes of one value of a TIFF field type; 0 for a type TIFF does not know.
std::size_t TypeSize(std::uint16_t type);

inline constexpr std::uint16_t kByte = 1, kAscii = 2, kShort = 3, kLong = 4, kUndefined = 7,
                               kIfd = 13;

struct Entry {
    std::size_t at = 0;  // of its 12 bytes
    std::uint16_t tag = 0, type = 0;
    std::uint32_t count = 0;
    // Where its value's bytes are: inside the entry when they fit in four
    // bytes, else at the offset the entry holds, plus the IFD's base.
    std::size_t valueAt = 0;
    std::size_t valueSize = 0;
    bool valueInBlock = false;  // all of the value lies inside the block
    bool Inline() const { return valueSize <= 4; }
};

struct Ifd {
    std::size_t at = 0;      // of its entry count
    std::size_t base = 0;    // what its offsets count from
    std::size_t nextAt = 0;  // of the offset of the next IFD
    std::uint32_t next = 0;  // 0 when there is none, or the field is cut off
    std::vector<Entry> entries;

    std::size_t End() const { return nextAt + 4; }
    const Entry* Find(std::uint16_t tag) const;
    // The value of a SHORT or LONG entry with one value.
    std::optional<std::uint32_t> Number(const Bytes& b, Order order, std::uint16_t tag) const;
};

// The IFD at `at`, its offsets counted from `base`. Nothing when its entry
// table does not lie inside the block. The next-IFD offset may be missing
// (some maker notes leave it out): it then reads as 0.
std::optional<Ifd> ReadIfd(const Bytes& b, Order order, std::size_t at, std::size_t base);

// Where the value of entry e lies when it is read as an offset (SHORT, LONG
// or IFD type, one value), counted from base; nothing when that is outside
// the block.
std::optional<std::size_t> OffsetValue(const Bytes& b, Order order, const Entry& e,
                                       std::size_t base);

// Writes a SHORT or LONG value into the entry's one value, as its type
// says; false (and nothing written) for another type or a value its type
// cannot hold.
bool PutNumber(Bytes& b, Order order, const Entry& e, std::uint32_t value);

// Byte ranges [begin, end) of the block.
struct Range {
    std::size_t begin = 0, end = 0;
    bool operator==(const Range&) const = default;
};

// Ranges, kept sorted and merged.
class RangeSet {
public:
    void Add(std::size_t begin, std::size_t end);
    void Add(const Range& r) { Add(r.begin, r.end); }
    bool Overlaps(std::size_t begin, std::size_t end) const;
    // The parts of [begin, end) that no range here covers.
    std::vector<Range> Outside(std::size_t begin, std::size_t end) const;
    const std::vector<Range>& Ranges() const { return ranges_; }

private:
    std::vector<Range> ranges_;
};

}  // namespace sigillon::tiff
