#include "pictures/metadata/exif_in_place.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace sigillon {
namespace {

using namespace tiff;

constexpr std::uint16_t kOrientation = 0x0112, kCopyright = 0x8298, kPixelX = 0xA002,
                        kPixelY = 0xA003;

struct Editor {
    const Bytes& original;
    const ExifLayout& layout;
    InPlaceEdit& edit;

    Order order() const { return layout.order; }

    void Zero(std::size_t at, std::size_t width) {
        if (at > edit.block.size() || edit.block.size() - at < width) return;
        std::fill_n(edit.block.begin() + std::ptrdiff_t(at), width, 0);
        edit.written.Add(at, at + width);
    }

    bool Number(const Entry& e, std::uint32_t value) {
        if (!PutNumber(edit.block, order(), e, value)) return false;
        edit.written.Add(e.valueAt, e.valueAt + (e.type == kShort ? 2 : 4));
        return true;
    }

    void ResetOrientation();
    void RemovePictures(RangeSet& blanked);
    void CutBlankedEnd(const RangeSet& blanked);
    void WriteCopyright(const std::string& text, std::size_t maxSize, bool keepLink);
};

void Editor::ResetOrientation() {
    const Entry* tag = layout.ifd0.Find(kOrientation);
    if (!tag) return;
    const auto was = layout.ifd0.Number(original, order(), kOrientation);
    if (was == 1u) return;
    if (!was || !Number(*tag, 1)) {
        edit.notDone.push_back("the orientation (its tag does not hold one number)");
        return;
    }
    edit.orientationReset = true;
    if (*was < 5 || *was > 8 || !layout.exifIfd) return;
    // Turned by a quarter: the stored width is now the height.
    const Entry* x = layout.exifIfd->Find(kPixelX);
    const Entry* y = layout.exifIfd->Find(kPixelY);
    const auto width = layout.exifIfd->Number(original, order(), kPixelX);
    const auto height = layout.exifIfd->Number(original, order(), kPixelY);
    if (!x || !y) return;
    auto holds = [](const Entry& e, std::uint32_t value) {
        return e.count == 1 && e.valueInBlock &&
               (e.type == kLong || (e.type == kShort && value <= 0xFFFF));
    };
    if (width && height && holds(*x, *height) && holds(*y, *width)) {
        Number(*x, *height);
        Number(*y, *width);
        edit.dimensionsSwapped = true;
    } else {
        edit.notDone.push_back(
            "the pixel width and height (their tags do not hold one number each)");
    }
}

void Editor::RemovePictures(RangeSet& blanked) {
    // No reader may follow IFD0's link to what came after it, whatever it is.
    if (layout.ifd0.next != 0) Zero(layout.ifd0.nextAt, 4);
    for (const EmbeddedPicture& p : layout.pictures) {
        for (const EmbeddedPicture::Field& f : p.fields) Zero(f.at, f.width);
        for (const Range& r : p.bytes)
            for (const Range& part : layout.kept.Outside(r.begin, r.end)) {
                Zero(part.begin, part.end - part.begin);
                blanked.Add(part);
            }
        edit.removed.push_back(p);
    }
}

void Editor::CutBlankedEnd(const RangeSet& blanked) {
    // Never into what stays: the tags' bytes, and the maker note, whose
    // inside may hold offsets nothing here knows of.
    std::size_t floor = 8;
    if (!layout.kept.Ranges().empty()) floor = std::max(floor, layout.kept.Ranges().back().end);
    if (layout.makerNote) floor = std::max(floor, layout.makerNote->end);
    std::size_t end = edit.block.size();
    for (auto r = blanked.Ranges().rbegin(); r != blanked.Ranges().rend(); ++r)
        if (r->end >= end && r->begin < end) end = std::max(r->begin, floor);
    edit.block.resize(std::min(edit.block.size(), std::max(end, floor)));
}

void Editor::WriteCopyright(const std::string& text, std::size_t maxSize, bool keepLink) {
    // The old entries as they now are (the orientation patched), and the
    // copyright in its place by tag.
    std::vector<std::array<std::uint8_t, 12>> entries;
    for (const Entry& e : layout.ifd0.entries) {
        if (e.tag == kCopyright) continue;
        std::array<std::uint8_t, 12> raw;
        std::copy_n(edit.block.begin() + std::ptrdiff_t(e.at), 12, raw.begin());
        entries.push_back(raw);
    }
    const std::size_t valueSize = text.size() + 1;  // ASCII ends with a zero byte
    const std::size_t at = edit.block.size() + (edit.block.size() & 1);  // IFDs start on a word
    const std::size_t tableSize = 2 + 12 * (entries.size() + 1) + 4;
    const std::size_t valueAt = at + tableSize;
    const std::size_t end = valueSize > 4 ? valueAt + valueSize : at + tableSize;
    if (end > maxSize || valueAt > 0xFFFFFFFFu || entries.size() + 1 > kMaxEntries) {
        edit.notDone.push_back("the copyright (no room for it in the " + std::to_string(maxSize) +
                               " bytes an EXIF block may take)");
        return;
    }
    std::array<std::uint8_t, 12> copyright{};
    Bytes scratch(12);
    order().Put16(scratch, 0, kCopyright);
    order().Put16(scratch, 2, kAscii);
    order().Put32(scratch, 4, std::uint32_t(valueSize));
    if (valueSize > 4)
        order().Put32(scratch, 8, std::uint32_t(valueAt));
    else
        std::copy(text.begin(), text.end(), scratch.begin() + 8);
    std::copy(scratch.begin(), scratch.end(), copyright.begin());
    entries.push_back(copyright);
    auto tagOf = [&](const std::array<std::uint8_t, 12>& e) {
        return order().big ? e[0] << 8 | e[1] : e[1] << 8 | e[0];
    };
    std::stable_sort(entries.begin(), entries.end(),
                     [&](const auto& a, const auto& b) { return tagOf(a) < tagOf(b); });

    Bytes& b = edit.block;
    b.resize(end + (end & 1), 0);
    order().Put16(b, at, std::uint16_t(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i)
        std::copy(entries[i].begin(), entries[i].end(),
                  b.begin() + std::ptrdiff_t(at + 2 + 12 * i));
    order().Put32(b, at + 2 + 12 * entries.size(), keepLink ? layout.ifd0.next : 0);
    if (valueSize > 4) std::copy(text.begin(), text.end(), b.begin() + std::ptrdiff_t(valueAt));
    order().Put32(b, 4, std::uint32_t(at));
    edit.written.Add(4, 8);
    edit.copyrightWritten = true;
}

}  // namespace

std::optional<InPlaceEdit> EditExifInPlace(const Bytes& block, const MetadataChanges& changes,
                                           std::size_t maxSize, std::string* whyNot) {
    const std::optional<ExifLayout> layout = ReadExifLayout(block, whyNot);
    if (!layout) return std::nullopt;
    InPlaceEdit edit;
    edit.block = block;
    edit.makerNote = layout->makerNote;
    Editor editor{block, *layout, edit};
    if (changes.resetOrientation) editor.ResetOrientation();
    RangeSet blanked;
    if (changes.dropPictures) {
        editor.RemovePictures(blanked);
        editor.CutBlankedEnd(blanked);
    }
    if (changes.copyright)
        editor.WriteCopyright(*changes.copyright, maxSize, !changes.dropPictures);
    return edit;
}

}  // namespace sigillon
