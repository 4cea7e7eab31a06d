// EXIF blocks laid out here field by field, each with a maker note holding
// a preview picture as its maker's cameras lay it out, in both byte
// orders: edited for a stamped copy, only the bytes that say where the
// pictures are, the pictures themselves and the changed values may differ,
// and exiftool must find the tags as they were and no picture.
#include <gtest/gtest.h>

#include <functional>

#include "pictures/metadata/exif_pictures.h"
#include "pictures/metadata/metadata_edit.h"
#include "tests/support/metadata_test_support.h"

namespace sigillon {
namespace {

using testing::Bytes;
using testing::TiffBuilder;
using testing::TiffEntry;

constexpr std::uint16_t kShort = 3, kLong = 4, kUndefined = 7, kIfdType = 13;

struct Range {
    std::size_t begin, end;
};
// Where entry `index` of the IFD at `ifd` keeps its count, and its value
// (or the value's offset).
Range CountOf(std::size_t ifd, std::size_t index) {
    return {ifd + 6 + 12 * index, ifd + 10 + 12 * index};
}
Range ValueOf(std::size_t ifd, std::size_t index, std::size_t size = 4) {
    return {ifd + 10 + 12 * index, ifd + 10 + 12 * index + size};
}

// A maker note, laid out where the block puts it. It records where its
// picture lies and the fields that say so.
struct Note {
    Bytes bytes;
    std::vector<Range> mayChange;  // from the note's start
    std::vector<Range> picture;    // from the block's start
};
using NoteMaker = std::function<Note(std::size_t at, bool big, const Bytes& jpeg)>;

// A note of `head` and one IFD whose offsets count from the block: either
// the picture as the value of tag `data`, or its start and length in tags
// `start` and `length` and the picture right after the IFD.
Note PlainNote(std::size_t at, bool big, const Bytes& head, const Bytes& jpeg, std::uint16_t data,
               std::uint16_t start, std::uint16_t length) {
    TiffBuilder note(big, head);
    const std::size_t ifdAt = note.Next();
    const std::uint32_t size = std::uint32_t(jpeg.size());
    if (data) {
        note.AddIfd({{data, kUndefined, size, jpeg}}, 0, -std::ptrdiff_t(at));
        return Note{note.bytes, {CountOf(ifdAt, 0)}, {{at + ifdAt + 18, at + ifdAt + 18 + size}}};
    }
    const std::size_t jpegAt = ifdAt + TiffBuilder::IfdSize({{}, {}});
    const TiffEntry startEntry{start, kLong, 1, note.U32(std::uint32_t(at + jpegAt))};
    const TiffEntry lengthEntry{length, kLong, 1, note.U32(size)};
    note.AddIfd(start < length ? std::vector{startEntry, lengthEntry}
                               : std::vector{lengthEntry, startEntry});
    note.Add(jpeg);
    return Note{
        note.bytes, {ValueOf(ifdAt, start < length ? 1 : 0)}, {{at + jpegAt, at + jpegAt + size}}};
}

Bytes Signature(const char* text, std::size_t size) { return Bytes(text, text + size); }

struct MakerCase {
    const char* make;
    NoteMaker note;
    std::vector<std::string> removed;  // what the warnings name
};

std::vector<MakerCase> Makers() {
    // Nikon: "Nikon\0" 2.10, then a TIFF header of its own (the other byte
    // order than the block's) from which its offsets count; tag 0x0011
    // points to an IFD with the preview's start and length.
    auto nikon = [](std::size_t at, bool big, const Bytes& jpeg) {
        TiffBuilder inner(!big);
        const std::size_t jpegAt = inner.Add(jpeg);
        const std::size_t previewAt =
            inner.AddIfd({{0x0103, kShort, 1, inner.U16(6)},
                          {0x0201, kLong, 1, inner.U32(std::uint32_t(jpegAt))},
                          {0x0202, kLong, 1, inner.U32(std::uint32_t(jpeg.size()))}});
        inner.SetIfd0(inner.AddIfd({{0x0001, kUndefined, 4, {'0', '2', '1', '0'}},
                                    {0x0011, kLong, 1, inner.U32(std::uint32_t(previewAt))}}));
        Note out{Signature("Nikon\0\x02\x10\0\0", 10),
                 {ValueOf(10 + previewAt, 2)},
                 {{at + 10 + jpegAt, at + 10 + jpegAt + jpeg.size()}}};
        out.bytes.insert(out.bytes.end(), inner.bytes.begin(), inner.bytes.end());
        return out;
    };
    // Canon: a plain IFD; PreviewImageInfo's LONG values are half its size
    // (in its first 16 bits), quality, length, width, height, start.
    auto canon = [](std::size_t at, bool big, const Bytes& jpeg) {
        TiffBuilder note(big, Bytes{});
        const std::uint32_t start = std::uint32_t(at + 18 + 28);
        Bytes info;
        for (std::uint32_t v :
             {big ? 14u << 16 : 14u, 2u, std::uint32_t(jpeg.size()), 24u, 16u, start, 0u}) {
            const Bytes x = note.U32(v);
            info.insert(info.end(), x.begin(), x.end());
        }
        note.AddIfd({{0x00B6, kLong, 7, info}}, 0, -std::ptrdiff_t(at));
        note.Add(jpeg);
        return Note{note.bytes, {{18 + 8, 18 + 12}}, {{start, start + jpeg.size()}}};
    };
    // Olympus: "OLYMPUS\0II", offsets from the note; a thumbnail as tag
    // 0x0100's value, and CameraSettings (0x2020) pointing to an IFD with
    // whether the preview is there, its start and its length.
    auto olympus = [](std::size_t at, bool, const Bytes& jpeg) {
        TiffBuilder note(false, Signature("OLYMPUS\0II\x03\0", 12));
        const TiffEntry thumbnail{0x0100, kUndefined, std::uint32_t(jpeg.size()), jpeg};
        const std::size_t settingsAt =
            12 + TiffBuilder::IfdSize({thumbnail, {0x2020, kIfdType, 1, {}}});
        const std::size_t previewAt = settingsAt + TiffBuilder::IfdSize({{}, {}, {}});
        note.AddIfd({thumbnail, {0x2020, kIfdType, 1, note.U32(std::uint32_t(settingsAt))}});
        note.AddIfd({{0x0100, kLong, 1, note.U32(1)},
                     {0x0101, kLong, 1, note.U32(std::uint32_t(previewAt))},
                     {0x0102, kLong, 1, note.U32(std::uint32_t(jpeg.size()))}});
        note.Add(jpeg);
        const std::size_t thumbnailAt = 12 + 2 + 24 + 4;
        return Note{note.bytes,
                    {CountOf(12, 0), ValueOf(settingsAt, 0), ValueOf(settingsAt, 2)},
                    {{at + thumbnailAt, at + thumbnailAt + jpeg.size()},
                     {at + previewAt, at + previewAt + jpeg.size()}}};
    };
    // Samsung: a plain IFD whose offsets count from the note; tag 0x0035
    // points to an IFD with the preview's start and length.
    auto samsung = [](std::size_t at, bool big, const Bytes& jpeg) {
        TiffBuilder note(big, Bytes{});
        const std::size_t previewIfdAt = TiffBuilder::IfdSize({{}});
        const std::size_t jpegAt = previewIfdAt + TiffBuilder::IfdSize({{}, {}});
        note.AddIfd({{0x0035, kLong, 1, note.U32(std::uint32_t(previewIfdAt))}});
        note.AddIfd({{0x0201, kLong, 1, note.U32(std::uint32_t(jpegAt))},
                     {0x0202, kLong, 1, note.U32(std::uint32_t(jpeg.size()))}});
        note.Add(jpeg);
        return Note{
            note.bytes, {ValueOf(previewIfdAt, 1)}, {{at + jpegAt, at + jpegAt + jpeg.size()}}};
    };
    std::vector<MakerCase> cases = {
        {"NIKON CORPORATION", nikon, {"Nikon PreviewIFD"}},
        {"Canon", canon, {"Canon PreviewImageInfo"}},
        {"OLYMPUS IMAGING CORP.",
         olympus,
         {"Olympus ThumbnailImage", "Olympus CameraSettings PreviewImage"}},
        {"SAMSUNG", samsung, {"Samsung PreviewIFD"}}};
    // Notes of one IFD, their offsets from the block. Pentax: "AOC\0" and
    // big-endian, 0x0003 the length, 0x0004 the start; Casio: "QVC\0\0\0",
    // big-endian whatever the block; Minolta: no signature, 0x0088 the
    // start, 0x0089 the length; Sony and Sanyo: the picture as a value.
    struct Plain {
        const char* make;
        Bytes head;
        bool big;  // else the block's byte order
        std::uint16_t data, start, length;
        const char* removed;
    };
    const Plain plain[] = {
        {"PENTAX Corporation", Signature("AOC\0MM", 6), true, 0, 4, 3, "Pentax PreviewImage"},
        {"CASIO COMPUTER CO.,LTD.", Signature("QVC\0\0\0", 6), true, 0, 4, 3, "Casio PreviewImage"},
        {"KONICA MINOLTA", {}, false, 0, 0x0088, 0x0089, "Minolta PreviewImage"},
        {"SONY", Signature("SONY DSC \0\0\0", 12), false, 0x2001, 0, 0, "Sony PreviewImage"},
        {"SANYO Electric Co.,Ltd.", Signature("SANYO\0\x01\0", 8), false, 0x0100, 0, 0,
         "Sanyo SanyoThumbnail"},
    };
    for (const Plain& p : plain)
        cases.push_back({p.make,
                         [p](std::size_t at, bool big, const Bytes& jpeg) {
                             return PlainNote(at, p.big || big, p.head, jpeg, p.data, p.start,
                                              p.length);
                         },
                         {p.removed}});
    return cases;
}

TEST(EditExifInPlace, MakerNotePreviewsAreBlankedAndEverythingElseStays) {
    testing::TempFolder folder;
    const Bytes jpeg = testing::Encoded(*testing::Gradient(24, 16));
    const std::string copyright = "\xC2\xA9 2026 Sigillon Tests";
    for (const MakerCase& maker : Makers())
        for (bool big : {false, true}) {
            SCOPED_TRACE(std::string(maker.make) + (big ? ", big-endian" : ", little-endian"));
            // Header, maker note, EXIF IFD, IFD0, IFD1, thumbnail.
            TiffBuilder b(big);
            const std::size_t noteAt = b.Next();
            const Note note = maker.note(noteAt, big, jpeg);
            b.Add(note.bytes);
            const std::uint32_t noteSize = std::uint32_t(note.bytes.size());
            const std::size_t exifAt = b.AddIfd({{0xA002, kShort, 1, b.U16(24)},
                                                 {0xA003, kLong, 1, b.U32(16)},
                                                 {0x927C, kUndefined, noteSize, {}, noteAt}});
            const Bytes make = TiffBuilder::Text(maker.make);
            const std::vector<TiffEntry> ifd0 = {{0x010F, 2, std::uint32_t(make.size()), make},
                                                 {0x0112, kShort, 1, b.U16(6)},
                                                 {0x8769, kLong, 1, b.U32(std::uint32_t(exifAt))}};
            const std::size_t ifd0At = b.Next(), ifd1At = ifd0At + TiffBuilder::IfdSize(ifd0);
            const std::size_t thumbAt = ifd1At + TiffBuilder::IfdSize({{}, {}, {}});
            b.AddIfd(ifd0, std::uint32_t(ifd1At));
            b.AddIfd({{0x0103, kShort, 1, b.U16(6)},
                      {0x0201, kLong, 1, b.U32(std::uint32_t(thumbAt))},
                      {0x0202, kLong, 1, b.U32(std::uint32_t(jpeg.size()))}});
            b.Add(jpeg);
            b.SetIfd0(ifd0At);
            const Bytes original = b.bytes;

            PictureMetadata m;
            m.exif = original;
            MetadataReport report;
            std::vector<std::string> expected;
            for (const std::string& what : maker.removed)
                expected.push_back("removed the maker note's preview picture (" + what +
                                   ", 24 x 16)");
            EXPECT_EQ(EditMetadata(m, {copyright, true, true}, &report), expected);
            EXPECT_EQ(report.exif, MetadataReport::Exif::InPlace);

            // Byte by byte: what may differ is the header's IFD0 offset, the
            // orientation, the pixel size, IFD0's link to IFD1, IFD1 and
            // the thumbnail, and the note's fields naming its pictures.
            const std::size_t ifd0Next = ifd0At + 2 + 12 * ifd0.size();
            std::vector<Range> mayChange = {{4, 8},
                                            ValueOf(ifd0At, 1, 2),
                                            ValueOf(exifAt, 0, 2),
                                            ValueOf(exifAt, 1),
                                            {ifd0Next, ifd0Next + 4},
                                            {ifd1At, original.size()}};
            for (const Range& r : note.mayChange)
                mayChange.push_back({noteAt + r.begin, noteAt + r.end});
            mayChange.insert(mayChange.end(), note.picture.begin(), note.picture.end());
            for (std::size_t i = 0; i < std::min(original.size(), m.exif.size()); ++i)
                ASSERT_TRUE(m.exif[i] == original[i] ||
                            std::any_of(mayChange.begin(), mayChange.end(),
                                        [&](const Range& r) { return r.begin <= i && i < r.end; }))
                    << "byte " << i << " changed";
            for (const Range& r : note.picture)
                for (std::size_t i = r.begin; i < r.end; ++i)
                    ASSERT_EQ(m.exif.at(i), 0) << "picture byte " << i;
            // IFD1 and the thumbnail are cut off the end; IFD0 again, with
            // the copyright among its entries and its value after it.
            const std::size_t copyrightEnd = ifd1At + 2 + 12 * 4 + 4 + copyright.size() + 1;
            EXPECT_EQ(m.exif.size(), copyrightEnd + (copyrightEnd & 1));

            testing::WriteAll(folder / "out.jpg", testing::Encoded(*testing::Gradient(24, 16), &m));
            EXPECT_EQ(testing::ExiftoolTags(folder, folder / "out.jpg",
                                            {"Make", "Orientation", "ExifImageWidth",
                                             "ExifImageHeight", "Copyright", "Warning"}),
                      (std::vector<std::string>{maker.make, "1", "16", "24", copyright, "-"}));
            EXPECT_EQ(testing::Exiftool(folder, {"-a", "-b", "-PreviewImage", "-ThumbnailImage",
                                                 "-OtherImage", folder / "out.jpg"}),
                      "");
        }
}

// A block of IFD0 and an EXIF IFD: Make, orientation 6, what `more` adds to
// IFD0, and `exif` as the EXIF IFD's entries.
Bytes SmallBlock(bool big, const std::vector<TiffEntry>& more,
                 const std::vector<TiffEntry>& exif = {}) {
    TiffBuilder b(big);
    const std::size_t exifAt =
        b.AddIfd(exif.empty() ? std::vector<TiffEntry>{{0xA002, kShort, 1, b.U16(24)}} : exif);
    std::vector<TiffEntry> ifd0 = {{0x010F, 2, 12, TiffBuilder::Text("Test Camera")},
                                   {0x0112, kShort, 1, b.U16(6)}};
    ifd0.insert(ifd0.end(), more.begin(), more.end());
    ifd0.push_back({0x8769, kLong, 1, b.U32(std::uint32_t(exifAt))});
    b.SetIfd0(b.AddIfd(ifd0));
    return b.bytes;
}

// How the copyright goes in: into IFD0 again, in tag order, in place of
// the old one; without room for it the block stays as it was and says so;
// a block that reads otherwise once patched is written anew by Exiv2.
TEST(EditExifInPlace, CopyrightAndOrientationWhereverTheBlockAllows) {
    // The artist sorts after the copyright's place before it, so the new
    // IFD0 has the copyright among its entries, not at their end.
    const Bytes artistAndOld = SmallBlock(false, {{0x013B, 2, 4, TiffBuilder::Text("Ann")},
                                                  {0x8298, 2, 10, TiffBuilder::Text("old owner")}});
    // User comments that leave no room in a JPEG segment for a new IFD0,
    // and for a copyright at all.
    auto withComment = [](std::size_t size) {
        Bytes comment(size, 'c');
        std::copy_n("ASCII\0\0\0", 8, comment.begin());
        return SmallBlock(false, {}, {{0x9286, kUndefined, std::uint32_t(size), comment}});
    };
    const Bytes tight = withComment(65400);
    const std::size_t fullComment = 65400 + 65527 - 2 - tight.size();
    // A tag whose values lie over the orientation entry's: patching the
    // orientation would change it, so Exiv2 writes the block anew.
    Bytes overlapping = SmallBlock(true, {{0x0129, kShort, 6, Bytes(12, 1)}});
    const std::size_t ifd0 = std::size_t(overlapping[4]) << 24 | overlapping[5] << 16 |
                             overlapping[6] << 8 | overlapping[7];
    const Bytes orientationEntry = TiffBuilder(true).U32(std::uint32_t(ifd0 + 2 + 12));
    std::copy(orientationEntry.begin(), orientationEntry.end(),
              overlapping.begin() + std::ptrdiff_t(ValueOf(ifd0, 2).begin));
    using How = MetadataReport::Exif;
    const std::string bob = "\xC2\xA9 Bob & Co <2026>";
    struct Case {
        const char* name;
        Bytes block;
        std::string copyright;
        How how;
        std::vector<std::string> warnings;
        std::vector<std::string> read;  // Copyright, Artist, Orientation, UserComment's length
    } const cases[] = {
        {"replaced", artistAndOld, bob, How::InPlace, {}, {bob, "Ann", "1", "-"}},
        {"short enough to sit in its entry",
         artistAndOld,
         "Bo",
         How::InPlace,
         {},
         {"Bo", "Ann", "1", "-"}},
        {"room only once laid out anew",
         tight,
         "Ann",
         How::Rewritten,
         {},
         {"Ann", "-", "1", "65400"}},
        {"no room at all",
         withComment(fullComment),
         "Ann Example",
         How::InPlace,
         {"EXIF block: left unchanged the copyright (no room for it in the 65527 bytes an EXIF "
          "block may take)"},
         {"-", "-", "1", std::to_string(fullComment)}},
        {"overlapping values", overlapping, "Ann", How::Rewritten, {}, {"Ann", "-", "1", "-"}},
    };
    testing::TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PictureMetadata m;
        m.exif = c.block;
        MetadataReport report;
        EXPECT_EQ(EditMetadata(m, {c.copyright, true, true}, &report), c.warnings);
        EXPECT_EQ(report.exif, c.how);
        const std::optional<ExifLayout> layout = ReadExifLayout(m.exif);
        ASSERT_TRUE(layout);
        for (std::size_t i = 1; i < layout->ifd0.entries.size(); ++i)
            EXPECT_LT(layout->ifd0.entries[i - 1].tag, layout->ifd0.entries[i].tag)
                << "IFD0 in tag order";
        testing::WriteAll(folder / "out.jpg", testing::Encoded(*testing::Gradient(8, 8), &m));
        std::vector<std::string> read = testing::ExiftoolTags(
            folder, folder / "out.jpg", {"EXIF:Copyright", "Artist", "Orientation", "UserComment"});
        if (read[3] != "-") read[3] = std::to_string(read[3].size() + 8);  // without "ASCII\0\0\0"
        EXPECT_EQ(read, c.read);
    }
}

}  // namespace
}  // namespace sigillon
