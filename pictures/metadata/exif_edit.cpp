// The EXIF block: edited in place first, written anew by Exiv2 only when
// that cannot make the changes, and either result taken only when Exiv2
// reads every tag of it as it read the original's.
#include <algorithm>
#include <cstdint>
#include <exiv2/exiv2.hpp>
#include <limits>

#include "pictures/metadata/exif_check.h"
#include "pictures/metadata/exif_in_place.h"
#include "pictures/metadata/metadata_parts.h"

namespace sigillon {
namespace {

// What a JPEG file's APP1 segment holds after "Exif\0\0": an edit must not
// push a block that fitted over it, or the block would be left out.
constexpr std::size_t kMaxJpegExifBytes = kMaxJpegSegmentPayload - 6;

std::string Why(const std::exception& error) {
    std::string what = error.what();
    return what.empty() ? std::string("Exiv2 failed") : what;
}

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

// The changes as Exiv2 makes them to its reading of a block. Returns true
// when something was changed.
bool ChangeExifData(Exiv2::ExifData& data, const MetadataChanges& changes) {
    bool changed = false;
    if (changes.dropPictures && HasThumbnail(data)) {
        Exiv2::ExifThumb(data).erase();
        changed = true;
    }
    const long was = OrientationValue(data);
    if (changes.resetOrientation && was != 1 &&
        data.findKey(Exiv2::ExifKey("Exif.Image.Orientation")) != data.end()) {
        EraseKey(data, "Exif.Image.Orientation");
        data["Exif.Image.Orientation"] = std::uint16_t(1);
        auto x = data.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension"));
        auto y = data.findKey(Exiv2::ExifKey("Exif.Photo.PixelYDimension"));
        if (was >= 5 && was <= 8 && x != data.end() && y != data.end()) {
            const auto width = x->getValue();
            x->setValue(y->getValue().get());
            y->setValue(width.get());
        }
        changed = true;
    }
    if (changes.copyright) {
        EraseKey(data, "Exif.Image.Copyright");
        const Exiv2::AsciiValue text(*changes.copyright);
        data.add(Exiv2::ExifKey("Exif.Image.Copyright"), &text);
        changed = true;
    }
    return changed;
}

// Exiv2's block for its changed reading: changed in place where Exiv2 can
// keep the layout (when original is given), else laid out anew.
std::vector<std::uint8_t> EncodeExif(const std::vector<std::uint8_t>& original,
                                     const ParsedExif& parsed) {
    std::vector<std::uint8_t> inPlace = original;
    Exiv2::Blob blob;
    if (original.empty()) {
        Exiv2::ExifParser::encode(blob, parsed.order, parsed.data);
    } else if (Exiv2::ExifParser::encode(blob, inPlace.data(), std::uint32_t(inPlace.size()),
                                         parsed.order, parsed.data) == Exiv2::wmNonIntrusive) {
        return inPlace;
    }
    return std::vector<std::uint8_t>(blob.begin(), blob.end());
}

std::string Joined(const std::vector<std::string>& parts) {
    std::string text;
    for (std::size_t i = 0; i < parts.size(); ++i)
        text += (i == 0 ? "" : i + 1 == parts.size() ? " and " : ", ") + parts[i];
    return text;
}

// One way of making the changes, and how it read back.
struct Candidate {
    std::vector<std::uint8_t> block;
    std::vector<EmbeddedPicture> removed;
    std::vector<std::string> notDone;
    ExifComparison check;
    std::vector<std::string> picturesLeft;  // as Exiv2 or our walk finds them
    bool Good(const MetadataChanges& changes) const {
        return check.Same() && (!changes.dropPictures || picturesLeft.empty());
    }
};

void Judge(Candidate& c, const std::vector<std::uint8_t>& original, AllowedExifChanges allowed) {
    for (const EmbeddedPicture& p : c.removed) {
        auto& tags = p.inMakerNote ? allowed.makerTags : allowed.ifd0Tags;
        tags.insert(tags.end(), p.tags.begin(), p.tags.end());
    }
    c.check = CompareExif(original, c.block, allowed);
    // Exiv2 and our own walk look for pictures left: an edit may also make
    // a damaged IFD whole again (an appended IFD0 completing one the block
    // had cut off).
    c.picturesLeft = PicturesExiv2Finds(c.block);
    if (const std::optional<ExifLayout> layout = ReadExifLayout(c.block))
        for (const EmbeddedPicture& p : layout->pictures) c.picturesLeft.push_back(p.what);
}

std::optional<Candidate> InPlace(const std::vector<std::uint8_t>& original,
                                 const MetadataChanges& changes, std::size_t limit) {
    std::optional<InPlaceEdit> edit = EditExifInPlace(original, changes, limit);
    if (!edit) return std::nullopt;
    Candidate c{std::move(edit->block), std::move(edit->removed), std::move(edit->notDone), {}, {}};
    AllowedExifChanges allowed;
    allowed.copyright = edit->copyrightWritten;
    allowed.orientation = edit->orientationReset;
    allowed.dimensions = edit->dimensionsSwapped;
    allowed.pictures = changes.dropPictures;
    allowed.makerNote = edit->makerNote;
    allowed.written = edit->written;
    Judge(c, original, std::move(allowed));
    return c;
}

// Exiv2 writes the block, over the old one where it can keep its layout,
// else anew (and anew when the first does not read back the same); the
// maker-note previews it carries over are then removed in place from what
// it wrote.
std::optional<Candidate> Rewritten(const std::vector<std::uint8_t>& original,
                                   const ParsedExif& parsed, const MetadataChanges& changes) {
    ParsedExif changed = parsed;
    ChangeExifData(changed.data, changes);
    AllowedExifChanges allowed;
    allowed.copyright = changes.copyright.has_value();
    allowed.orientation = allowed.dimensions = changes.resetOrientation;
    allowed.pictures = changes.dropPictures;
    allowed.makerNoteMoved = true;
    std::optional<Candidate> last;
    for (bool overOld : {true, false}) {
        Candidate c;
        try {
            c.block = EncodeExif(overOld ? original : std::vector<std::uint8_t>(), changed);
        } catch (const std::exception&) {
            continue;
        }
        if (c.block.empty()) continue;
        if (changes.dropPictures) {
            MetadataChanges previews;
            previews.dropPictures = true;
            if (auto edit =
                    EditExifInPlace(c.block, previews, std::numeric_limits<std::size_t>::max())) {
                c.block = std::move(edit->block);
                c.removed = std::move(edit->removed);
            }
        }
        Judge(c, original, allowed);
        last = std::move(c);
        if (last->Good(changes)) break;
    }
    return last;
}

void Take(std::vector<std::uint8_t>& exif, Candidate& c, Warnings& warnings,
          MetadataReport& report) {
    exif = std::move(c.block);
    report.exifTagsCompared = c.check.compared;
    for (const EmbeddedPicture& p : c.removed) {
        if (p.bytes.empty()) continue;  // only a field named it; its bytes were elsewhere
        const std::string size = p.width > 0 && p.height > 0
                                     ? std::to_string(p.width) + " x " + std::to_string(p.height)
                                     : std::to_string(p.size) + " bytes";
        const std::string named =
            p.inMakerNote ? "the maker note's preview picture (" + p.what + ", " + size + ")"
                          : "the " + p.what + " (" + size + ")";
        report.picturesRemoved.push_back(named);
        if (p.what != "EXIF thumbnail") warnings.push_back("removed " + named);
    }
}

// Returns why the block must be dropped, or nothing.
std::string ChangeExifBlock(std::vector<std::uint8_t>& exif, const ParsedExif& parsed,
                            const MetadataChanges& changes, Warnings& warnings,
                            MetadataReport& report) {
    const std::size_t limit = exif.size() > kMaxJpegExifBytes
                                  ? std::numeric_limits<std::size_t>::max()
                                  : kMaxJpegExifBytes;
    std::optional<Candidate> inPlace = InPlace(exif, changes, limit);
    if (inPlace && inPlace->block == exif && inPlace->notDone.empty()) {
        report.exif = MetadataReport::Exif::Unchanged;
        return {};
    }
    if (!inPlace) {
        ParsedExif copy = parsed;
        if (!ChangeExifData(copy.data, changes)) {
            report.exif = MetadataReport::Exif::Unchanged;
            return {};
        }
    }
    const bool inPlaceGood = inPlace && inPlace->Good(changes);
    if (inPlaceGood && inPlace->notDone.empty()) {
        Take(exif, *inPlace, warnings, report);
        report.exif = MetadataReport::Exif::InPlace;
        return {};
    }
    std::optional<Candidate> rewritten = Rewritten(exif, parsed, changes);
    if (rewritten && rewritten->Good(changes) && rewritten->block.size() <= limit) {
        Take(exif, *rewritten, warnings, report);
        report.exif = MetadataReport::Exif::Rewritten;
        return {};
    }
    if (inPlaceGood) {
        warnings.push_back("EXIF block: left unchanged " + Joined(inPlace->notDone));
        Take(exif, *inPlace, warnings, report);
        report.exif = MetadataReport::Exif::InPlace;
        return {};
    }
    // Neither way reads back as it should: what is wrong with each, in brief.
    std::string why;
    for (const std::optional<Candidate>* c : {&rewritten, &inPlace})
        if (*c && !(*c)->check.Same()) why = (*c)->check.differences.front();
    if (why.empty()) why = "a picture would stay in it";
    const bool pictures =
        changes.dropPictures && (HasThumbnail(parsed.data) || !PicturesExiv2Finds(exif).empty() ||
                                 (inPlace && !inPlace->removed.empty()));
    if (pictures)
        return "its pictures of the photo cannot be removed without changing its tags (" + why +
               ")";
    std::vector<std::string> unchanged;
    if (changes.copyright) unchanged.push_back("the copyright");
    if (changes.resetOrientation && OrientationValue(parsed.data) != 1)
        unchanged.push_back("the orientation");
    warnings.push_back("EXIF block kept as it was" +
                       (unchanged.empty() ? std::string() : ", without " + Joined(unchanged)) +
                       ": its tags do not read back the same after either way of writing it (" +
                       why + ")");
    report.exif = MetadataReport::Exif::Kept;
    return {};
}

}  // namespace

long ExifOrientationValue(const std::vector<std::uint8_t>& exif) {
    return OrientationValue(ParseExif(exif).data);
}

void EditExif(PictureMetadata& m, const MetadataChanges& changes, Warnings& warnings,
              MetadataReport& report) {
    std::string dropped;  // why, when the block must go
    if (m.exif.size() > kMaxExifBytes) {
        dropped = "larger than " + std::to_string(kMaxExifBytes) + " bytes";
    } else if (!m.exif.empty()) {
        try {
            const ParsedExif parsed = ParseExif(m.exif);
            if (parsed.data.empty())
                dropped = "it holds no tag that can be read";
            else
                dropped = ChangeExifBlock(m.exif, parsed, changes, warnings, report);
            if (dropped.empty()) return;
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
        report.exif = MetadataReport::Exif::Dropped;
    }
    if (!changes.copyright) return;
    // No block, or none left: one of its own for the copyright.
    try {
        ParsedExif fresh;
        ChangeExifData(fresh.data, changes);
        std::vector<std::uint8_t> block = EncodeExif({}, fresh);
        const ParsedExif back = ParseExif(block);
        auto copyright = back.data.findKey(Exiv2::ExifKey("Exif.Image.Copyright"));
        if (copyright != back.data.end() && copyright->toString() == *changes.copyright) {
            m.exif = std::move(block);
            if (report.exif == MetadataReport::Exif::None) report.exif = MetadataReport::Exif::Made;
            return;
        }
    } catch (...) {
    }
    warnings.push_back("EXIF copyright not written: Exiv2 cannot make the block");
}

}  // namespace sigillon
