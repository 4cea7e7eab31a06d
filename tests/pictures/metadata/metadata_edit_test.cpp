// EXIF and XMP edited for the stamped copy, checked by exiftool where the
// result is a file.
#include "pictures/metadata/metadata_edit.h"

#include <gtest/gtest.h>

#include "pictures/jpeg/jpeg_metadata.h"
#include "pictures/raster/orientation.h"
#include "tests/support/metadata_test_support.h"

namespace sigillon {
namespace {

using testing::Bytes;

// A TIFF block whose IFD0 holds these tags, each one SHORT value.
Bytes Tiff(std::vector<std::pair<std::uint16_t, std::uint16_t>> tags, bool bigEndian = false) {
    Bytes b;
    auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.push_back(std::uint8_t(v >> (8 * (bigEndian ? bytes - 1 - i : i))));
    };
    b = bigEndian ? Bytes{'M', 'M'} : Bytes{'I', 'I'};
    put(42, 2);
    put(8, 4);
    put(std::uint32_t(tags.size()), 2);
    for (auto [tag, value] : tags) {
        put(tag, 2);
        put(3, 2);  // SHORT
        put(1, 4);
        put(value, 2);
        put(0, 2);
    }
    put(0, 4);  // no next IFD
    return b;
}

constexpr std::uint16_t kOrientation = 0x0112, kImageWidth = 0x0100;

const std::string kXmp =
    "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
    "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
    "xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:creator><rdf:Seq><rdf:li>Ann</rdf:li>"
    "</rdf:Seq></dc:creator></rdf:Description></rdf:RDF></x:xmpmeta>";

// Photoshop data holding one empty IPTC resource.
const std::string kPhotoshopHead(
    "Photoshop 3.0\0"
    "8BIM\x04\x04\0\0\0\0\0\0",
    26);
const Bytes kIptcOnly(kPhotoshopHead.begin(), kPhotoshopHead.end());

TEST(ExifOrientation, IsTheTagsValueWhenOneToEightElseOne) {
    struct Case {
        Bytes exif;
        int expected;
    };
    std::vector<Case> cases;
    for (std::uint16_t v = 1; v <= 8; ++v) cases.push_back({Tiff({{kOrientation, v}}), v});
    cases.push_back({Tiff({{kOrientation, 6}}, true), 6});
    cases.push_back({Tiff({{kOrientation, 0}}), 1});
    cases.push_back({Tiff({{kOrientation, 9}}), 1});
    cases.push_back({Tiff({{kImageWidth, 5}}), 1});
    cases.push_back({testing::RandomBytes(64, 1), 1});
    cases.push_back({{}, 1});
    Bytes huge = Tiff({{kOrientation, 6}});
    huge.resize(kMaxExifBytes + 1);
    cases.push_back({huge, 1});
    for (const Case& c : cases) {
        PictureMetadata m;
        m.exif = c.exif;
        EXPECT_EQ(ExifOrientation(m), c.expected) << c.exif.size() << " bytes";
    }
}

TEST(EditMetadata, BlocksWithNothingToChangeKeepTheirBytes) {
    PictureMetadata m;
    m.exif = Tiff({{kOrientation, 6}, {kImageWidth, 5}});
    m.xmp = kXmp;
    const PictureMetadata before = m;
    EXPECT_TRUE(EditMetadata(m, {}).empty());
    EXPECT_EQ(m, before);
    m.exif = Tiff({{kOrientation, 1}});
    const PictureMetadata upright = m;
    EXPECT_TRUE(EditMetadata(m, {std::nullopt, true, true}).empty());
    EXPECT_EQ(m, upright);
    PictureMetadata none;
    EXPECT_TRUE(EditMetadata(none, {std::nullopt, true, true}).empty());
    EXPECT_TRUE(none.Empty());
    // A packet in UTF-16 stays so while nothing in it changes.
    PictureMetadata wide;
    for (char c : kXmp) wide.xmp += std::string{'\0', c};
    const PictureMetadata wideBefore = wide;
    EXPECT_TRUE(EditMetadata(wide, {std::nullopt, true, true}).empty());
    EXPECT_EQ(wide, wideBefore);
}

// A block Exiv2 cannot read is kept byte for byte while nothing in it must
// change; one that must change, or one too large to look at, is dropped
// with the reason.
TEST(EditMetadata, BlocksExiv2CannotReadAreKeptUnlessTheyMustChange) {
    struct Case {
        const char* name;
        Bytes exif;
        std::string xmp;
        Bytes photoshopTail;  // after one IPTC resource
        bool copyright;
        const char* dropped;  // the start of the one warning; nullptr: nothing dropped
    };
    Bytes badOffset = {'I', 'I', 42, 0, 0xF0, 0xFF, 0xFF, 0xFF};
    Bytes huge = Tiff({{kOrientation, 6}});
    huge.resize(kMaxExifBytes + 1);
    const Bytes thumbnailCutShort = {'8', 'B', 'I', 'M', 0x04, 0x0C, 0, 0, 0, 0, 0x10};
    const std::vector<Case> cases = {
        {"random EXIF",
         testing::RandomBytes(200, 2),
         kXmp,
         {},
         false,
         "EXIF block of 200 bytes dropped"},
        {"IFD outside", badOffset, kXmp, {}, false, "EXIF block of 8 bytes dropped"},
        {"huge EXIF",
         huge,
         kXmp,
         {},
         false,
         "EXIF block of 1048577 bytes dropped: larger than 1048576"},
        {"broken XMP", Tiff({{kOrientation, 6}}), "<x:xmpmeta><rdf:RDF", {}, false, nullptr},
        {"not XMP", {}, "just text", {}, false, nullptr},
        {"broken XMP, copyright to write",
         {},
         "<x:xmpmeta><rdf:RDF",
         {},
         true,
         "XMP packet of 19 bytes dropped: Exiv2 cannot read it, and the copyright would have to "
         "change in it; its extended XMP with it"},
        {"broken XMP with a thumbnail",
         {},
         "<x:xmpmeta><xmp:Thumbnails>",
         {},
         false,
         "XMP packet of 27 bytes dropped: Exiv2 cannot read it, and a picture of the photo"},
        {"huge XMP",
         {},
         std::string(kMaxXmpBytes + 1, ' '),
         {},
         false,
         "XMP packet of 16777217 bytes dropped: larger than 16777216"},
        {"broken Photoshop", {}, kXmp, {1, 2, 3, 4}, false, nullptr},
        {"broken Photoshop with a thumbnail",
         {},
         kXmp,
         thumbnailCutShort,
         false,
         "Photoshop/IPTC data of 37 bytes dropped: its resources cannot be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PictureMetadata m;
        m.exif = c.exif;
        m.xmp = c.xmp;
        m.icc = testing::IccProfile("RGB ", 1000, 3);
        m.extendedXmp = {Bytes(50, 'e')};
        m.photoshop = {kIptcOnly};
        m.photoshop[0].insert(m.photoshop[0].end(), c.photoshopTail.begin(), c.photoshopTail.end());
        const PictureMetadata before = m;
        MetadataChanges changes;
        if (c.copyright) changes.copyright = "Ann";
        const std::vector<std::string> warnings = EditMetadata(m, changes);
        ASSERT_EQ(warnings.size(), c.dropped ? 1u : 0u) << (warnings.empty() ? "" : warnings[0]);
        const char dropped = c.dropped ? c.dropped[0] : 0;
        if (c.dropped) {
            EXPECT_EQ(warnings[0].rfind(c.dropped, 0), 0u) << warnings[0];
        }
        if (c.copyright) {
            EXPECT_NE(m.xmp.find("Ann"), std::string::npos)
                << "a packet of its own for the copyright";
        } else {
            EXPECT_EQ(m.exif, dropped == 'E' ? Bytes{} : before.exif);
            EXPECT_EQ(m.xmp, dropped == 'X' ? "" : before.xmp);
        }
        EXPECT_EQ(m.extendedXmp.empty(), dropped == 'X') << "extended XMP goes with its packet";
        EXPECT_EQ(m.photoshop, dropped == 'P' ? std::vector<Bytes>{} : before.photoshop);
        EXPECT_EQ(m.icc, before.icc);
    }
}

// The whole way a photograph takes through the batch tool: exiftool writes
// its tags, we read them, turn the picture upright, set the copyright,
// write the stamped copy, and exiftool reads it back.
TEST(EditMetadata, StampedCopyKeepsTheTagsLosesTheThumbnailAndIsUpright) {
    testing::TempFolder folder;
    const Bytes profile = testing::IccProfile("RGB ", 150000, 4);
    testing::WriteAll(folder / "profile.icc", profile);
    testing::WriteAll(folder / "thumb.jpg", testing::Encoded(*testing::Gradient(16, 12)));
    testing::WriteAll(folder / "in.jpg", testing::Encoded(*testing::Gradient(64, 48)));
    const std::string longText(70000, 'd');  // more than one segment: extended XMP
    testing::WriteAll(folder / "long.txt", Bytes(longText.begin(), longText.end()));
    testing::Exiftool(
        folder,
        {"-overwrite_original", "-EXIF:Make=Sigillon Test Camera", "-EXIF:Artist=Ann",
         "-Orientation#=6", "-EXIF:ExifImageWidth=64", "-EXIF:ExifImageHeight=48",
         "-ThumbnailImage<=" + folder / "thumb.jpg", "-XMP-dc:Creator=Ann",
         "-XMP-tiff:Orientation#=6", "-XMP-xmp:ThumbnailImage=AAAA",
         "-XMP-dc:Description<=" + folder / "long.txt", "-IPTC:Keywords=harbour",
         "-ICC_Profile<=" + folder / "profile.icc",
         "-Photoshop:PhotoshopThumbnail<=" + folder / "thumb.jpg",
         "-IPTC:ObjectPreviewFileFormat#=11", "-IPTC:ObjectPreviewData<=" + folder / "thumb.jpg",
         "-Photoshop:IPTCDigest=new", folder / "in.jpg"});

    TJPEGImage jpeg;
    jpeg.LoadFromFile(folder / "in.jpg");
    PictureMetadata m = jpeg.Metadata();
    EXPECT_EQ(m.icc, profile);
    EXPECT_FALSE(m.extendedXmp.empty());
    EXPECT_FALSE(m.photoshop.empty());
    ASSERT_EQ(ExifOrientation(m), 6);
    const std::string copyright = "\xC2\xA9 2026 Sigillon Tests";
    const std::size_t thumbnailBytes = testing::ReadAll(folder / "thumb.jpg").size();
    EXPECT_EQ(EditMetadata(m, {copyright, true, true}),
              (std::vector<std::string>{
                  "removed the XMP thumbnail",
                  "removed the IPTC object preview (" + std::to_string(thumbnailBytes) + " bytes)",
                  "removed the Photoshop thumbnail (16 x 12)"}));

    auto picture = std::make_unique<TBitmap>();
    picture->ShareImage(jpeg.Bitmap());
    ApplyOrientation(*picture, 6);
    TJPEGImage out;
    out.Assign(*picture);
    out.SetOutputMetadata(m);
    out.Compress();
    EXPECT_TRUE(out.WriteMetadataWarnings().empty());
    testing::WriteAll(folder / "out.jpg", Bytes(out.Data().begin(), out.Data().end()));

    // Each tag as exiftool reads the stamped copy ("-": absent).
    const std::vector<std::pair<std::string, std::string>> read = {
        {"EXIF:Make", "Sigillon Test Camera"},
        {"EXIF:Artist", "Ann"},
        {"EXIF:Orientation", "1"},
        {"XMP-tiff:Orientation", "1"},
        {"ThumbnailLength", "-"},
        {"XMP-xmp:ThumbnailImage", "-"},
        {"Photoshop:PhotoshopThumbnail", "-"},
        {"IPTC:ObjectPreviewData", "-"},
        {"IPTC:ObjectPreviewFileFormat", "-"},
        {"ExifImageWidth", "48"},
        {"ExifImageHeight", "64"},
        {"XMP-dc:Creator", "Ann"},
        {"IPTC:Keywords", "harbour"},
        {"EXIF:Copyright", copyright},
        {"XMP-dc:Rights", copyright},
        {"File:ImageWidth", "48"},
        {"File:ImageHeight", "64"},
        {"Warning", "-"},
    };
    std::vector<std::string> tags, expected;
    for (const auto& [tag, value] : read) {
        tags.push_back(tag);
        expected.push_back(value);
    }
    EXPECT_EQ(testing::ExiftoolTags(folder, folder / "out.jpg", tags), expected);
    const std::vector<std::string> digests = testing::ExiftoolTags(
        folder, folder / "out.jpg", {"Photoshop:IPTCDigest", "File:CurrentIPTCDigest"});
    EXPECT_EQ(digests[0], digests[1]) << "the IPTC digest stays current";
    EXPECT_NE(digests[0], "-");
    const std::string icc = testing::Exiftool(folder, {"-icc_profile", "-b", folder / "out.jpg"});
    EXPECT_TRUE(icc == std::string(profile.begin(), profile.end())) << icc.size() << " bytes";
    const std::string description =
        testing::Exiftool(folder, {"-XMP-dc:Description", "-b", folder / "out.jpg"});
    EXPECT_TRUE(description == longText) << description.size() << " bytes";
}

TEST(EditMetadata, CopyrightOnAPictureWithoutMetadataMakesBothBlocks) {
    testing::TempFolder folder;
    PictureMetadata m;
    EXPECT_TRUE(EditMetadata(m, {"Ann & Bob <2026>", true, true}).empty());
    testing::WriteAll(folder / "out.jpg", testing::Encoded(*testing::Gradient(8, 8), &m));
    EXPECT_EQ(
        testing::ExiftoolTags(folder, folder / "out.jpg", {"EXIF:Copyright", "XMP-dc:Rights"}),
        (std::vector<std::string>{"Ann & Bob <2026>", "Ann & Bob <2026>"}));
}

}  // namespace
}  // namespace sigillon
