#include "pictures/heif/heif_boxes.h"

#include <map>
#include <optional>

namespace sigillon {
namespace {

// Big-endian fields read with the bytes checked first (ISO/IEC 14496-12).
class Bytes {
public:
    explicit Bytes(std::span<const std::uint8_t> data) : data_(data) {}
    bool Has(std::size_t n) const { return at_ <= data_.size() && n <= data_.size() - at_; }
    std::uint64_t Read(std::size_t n) {
        if (!Has(n)) {
            ok_ = false;
            at_ = data_.size();
            return 0;
        }
        std::uint64_t v = 0;
        for (std::size_t i = 0; i < n; ++i) v = (v << 8) | data_[at_ + i];
        at_ += n;
        return v;
    }
    void Skip(std::size_t n) {
        if (Has(n)) {
            at_ += n;
        } else {
            ok_ = false;
            at_ = data_.size();
        }
    }
    bool Ok() const { return ok_; }
    std::size_t At() const { return at_; }
    bool AtEnd() const { return at_ >= data_.size(); }

private:
    std::span<const std::uint8_t> data_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

struct Box {
    std::uint32_t type = 0;
    std::span<const std::uint8_t> body;
};

constexpr std::uint32_t Type(const char (&name)[5]) {
    return std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16 |
           std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint32_t(std::uint8_t(name[3]));
}

// The boxes one after another in data; stops at the first that does not fit.
std::vector<Box> Boxes(std::span<const std::uint8_t> data) {
    std::vector<Box> boxes;
    Bytes in(data);
    while (!in.AtEnd()) {
        const std::size_t start = in.At();
        std::uint64_t size = in.Read(4);
        const std::uint32_t type = std::uint32_t(in.Read(4));
        if (size == 1) size = in.Read(8);
        if (size == 0) size = data.size() - start;
        const std::size_t header = in.At() - start;
        if (!in.Ok() || size < header || size > data.size() - start) break;
        boxes.push_back({type, data.subspan(in.At(), std::size_t(size) - header)});
        in.Skip(std::size_t(size) - header);
    }
    return boxes;
}

struct Extent {
    std::uint64_t offset = 0, length = 0;
};
struct Location {
    int method = 0;  // 0: offsets into the file, 1: into the idat box
    std::vector<Extent> extents;
};

std::map<std::uint32_t, Location> ItemLocations(std::span<const std::uint8_t> iloc) {
    std::map<std::uint32_t, Location> items;
    Bytes in(iloc);
    const int version = int(in.Read(1));
    in.Skip(3);
    const std::uint64_t sizes = in.Read(2);
    const std::size_t offsetSize = (sizes >> 12) & 15, lengthSize = (sizes >> 8) & 15;
    const std::size_t baseSize = (sizes >> 4) & 15, indexSize = version > 0 ? sizes & 15 : 0;
    const std::uint64_t count = in.Read(version < 2 ? 2 : 4);
    for (std::uint64_t i = 0; i < count && in.Ok(); ++i) {
        const std::uint32_t id = std::uint32_t(in.Read(version < 2 ? 2 : 4));
        Location location;
        if (version > 0) location.method = int(in.Read(2) & 15);
        in.Skip(2);  // data reference index
        const std::uint64_t base = in.Read(baseSize);
        const std::uint64_t extents = in.Read(2);
        for (std::uint64_t e = 0; e < extents && in.Ok(); ++e) {
            in.Skip(indexSize);
            const std::uint64_t offset = in.Read(offsetSize);
            location.extents.push_back({base + offset, in.Read(lengthSize)});
        }
        if (in.Ok()) items[id] = std::move(location);
    }
    return items;
}

// The first bytes of an item's data, as many as its extents hold of them.
std::vector<std::uint8_t> ItemStart(const Location& location, std::span<const std::uint8_t> file,
                                    std::span<const std::uint8_t> idat, std::size_t want) {
    const std::span<const std::uint8_t> from = location.method == 0 ? file : idat;
    std::vector<std::uint8_t> data;
    for (const Extent& extent : location.extents) {
        if (location.method > 1 || extent.offset >= from.size()) break;
        const std::uint64_t length =
            extent.length == 0 ? from.size() - extent.offset
                               : std::min<std::uint64_t>(extent.length, from.size() - extent.offset);
        const auto bytes = from.subspan(std::size_t(extent.offset), std::size_t(length));
        data.insert(data.end(), bytes.begin(), bytes.end());
        if (data.size() >= want) break;
    }
    return data;
}

// ImageGrid and ImageOverlay (ISO/IEC 23008-12, 6.6.2.3 and 6.6.2.4): a
// version, flags whose bit 0 makes the sizes 32-bit, then the grid's rows
// and columns less one, or the overlay's four fill values; then the size.
std::optional<DerivedPicture> Derived(std::uint32_t type, std::span<const std::uint8_t> data) {
    Bytes in(data);
    in.Skip(1);
    const bool wide = (in.Read(1) & 1) != 0;
    DerivedPicture picture;
    if (type == Type("grid")) {
        picture.type = "grid";
        const std::uint32_t rows = std::uint32_t(in.Read(1)) + 1;
        picture.tiles = rows * (std::uint32_t(in.Read(1)) + 1);
    } else {
        picture.type = "iovl";
        in.Skip(8);
    }
    picture.width = std::uint32_t(in.Read(wide ? 4 : 2));
    picture.height = std::uint32_t(in.Read(wide ? 4 : 2));
    if (!in.Ok()) return std::nullopt;
    return picture;
}

}  // namespace

std::vector<DerivedPicture> DerivedPictures(std::span<const std::uint8_t> file) {
    std::vector<DerivedPicture> found;
    for (const Box& top : Boxes(file)) {
        if (top.type != Type("meta") || top.body.size() < 4) continue;
        std::map<std::uint32_t, std::uint32_t> types;
        std::map<std::uint32_t, Location> locations;
        std::span<const std::uint8_t> idat;
        for (const Box& box : Boxes(top.body.subspan(4))) {
            if (box.type == Type("iloc")) locations = ItemLocations(box.body);
            if (box.type == Type("idat")) idat = box.body;
            if (box.type != Type("iinf") || box.body.empty()) continue;
            const std::size_t countSize = box.body[0] == 0 ? 2 : 4;
            if (box.body.size() < 4 + countSize) continue;
            for (const Box& infe : Boxes(box.body.subspan(4 + countSize))) {
                Bytes in(infe.body);
                const int version = int(in.Read(1));
                in.Skip(3);
                if (infe.type != Type("infe") || version < 2) continue;
                const std::uint32_t id = std::uint32_t(in.Read(version == 2 ? 2 : 4));
                in.Skip(2);  // protection index
                const std::uint32_t type = std::uint32_t(in.Read(4));
                if (in.Ok()) types[id] = type;
            }
        }
        for (const auto& [id, type] : types) {
            if (type != Type("grid") && type != Type("iovl")) continue;
            const auto location = locations.find(id);
            if (location == locations.end()) continue;
            if (auto picture = Derived(type, ItemStart(location->second, file, idat, 20)))
                found.push_back(*picture);
        }
    }
    return found;
}

}  // namespace sigillon
