// XMP edited for a stamped copy: the copyright and orientation changed in
// the packet's text, pictures taken out of the packet and its extended
// part; exiftool reads the result from a JPEG file.
#include <gtest/gtest.h>

#include "pictures/metadata/md5.h"
#include "pictures/metadata/metadata_edit.h"
#include "tests/support/metadata_test_support.h"

namespace sigillon {
namespace {

using testing::Bytes;

const std::string kCopyright = "\xC2\xA9 2026 Ann & Bob <photos>";

std::string Packet(const std::string& description, const std::string& inside,
                   std::size_t padding = 0) {
    return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
           "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\" x:xmptk=\"Camera Toolkit 1.0\">\n"
           " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
           "  <rdf:Description rdf:about=\"uuid:faf5bdd5-ba3d-11da-ad31-d33d75182f1b\"\n"
           "    xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" "
           "xmlns:exif=\"http://ns.adobe.com/exif/1.0/\"\n"
           "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
           "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
           "    xmlns:xmpGImg=\"http://ns.adobe.com/xap/1.0/g/img/\"" +
           description +
           ">\n   <dc:creator><rdf:Seq><rdf:li>Ann</rdf:li></rdf:Seq></dc:creator>\n" + inside +
           "  </rdf:Description>\n </rdf:RDF>\n</x:xmpmeta>\n" + std::string(padding, ' ') +
           "\n<?xpacket end=\"w\"?>";
}

// The packet in UTF-16, big-endian, as some cameras write it.
std::string Utf16(const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
        if (static_cast<unsigned char>(c) >= 0x80) continue;  // the BOM's UTF-8 bytes
        out += '\0';
        out += c;
    }
    return out;
}

TEST(EditXmp, CopyrightAndOrientationChangeInTheTextAndNothingElseDoes) {
    const std::string attributes =
        " tiff:Orientation=\"6\" exif:PixelXDimension=\"3000\" exif:PixelYDimension=\"2000\"";
    const std::string elements =
        "   <tiff:Orientation>8</tiff:Orientation>\n   "
        "<exif:PixelXDimension>640</exif:PixelXDimension>\n"
        "   <exif:PixelYDimension>480</exif:PixelYDimension>\n   <dc:rights><rdf:Alt>\n"
        "    <rdf:li xml:lang=\"x-default\">old</rdf:li><rdf:li xml:lang=\"de\">alt</rdf:li>\n"
        "   </rdf:Alt></dc:rights>\n";
    // A picture to take out, cut out of the text.
    const std::string thumbnail =
        "   <xmp:Thumbnails><rdf:Alt><rdf:li rdf:parseType=\"Resource\"><xmpGImg:format>JPEG"
        "</xmpGImg:format><xmpGImg:image>/9j/4AAQSkZJRgABAgEASABIAAD</xmpGImg:image></rdf:li>"
        "</rdf:Alt></xmp:Thumbnails>\n";
    struct Case {
        const char* name;
        std::string packet;
        int orientation;  // EXIF's, before the picture was turned upright
        const char *width, *height;
        bool thumbnail, sameSize;
    } const cases[] = {
        {"attributes, padding", Packet(attributes, "", 400), 6, "2000", "3000", false, true},
        {"elements, rights there", Packet("", elements), 8, "480", "640", false, false},
        {"turned by half", Packet(attributes, ""), 3, "3000", "2000", false, false},
        {"UTF-16", Utf16(Packet(attributes, "", 400)), 6, "2000", "3000", false, false},
        {"thumbnail", Packet(attributes, thumbnail), 6, "2000", "3000", true, false},
    };
    testing::TempFolder folder;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PictureMetadata m;
        testing::TiffBuilder b(false);
        b.SetIfd0(b.AddIfd({{0x0112, 3, 1, b.U16(std::uint32_t(c.orientation))}}));
        m.exif = b.bytes;
        m.xmp = c.packet;
        EXPECT_EQ(EditMetadata(m, {kCopyright, true, true}),
                  c.thumbnail ? std::vector<std::string>{"removed the XMP thumbnail"}
                              : std::vector<std::string>{});
        EXPECT_EQ(m.xmp.size() == c.packet.size(), c.sameSize)
            << "the padding gives back the growth";
        testing::WriteAll(folder / "out.jpg", testing::Encoded(*testing::Gradient(8, 8), &m));
        EXPECT_EQ(testing::ExiftoolTags(folder, folder / "out.jpg",
                                        {"XMP-tiff:Orientation", "XMP-exif:ExifImageWidth",
                                         "XMP-exif:ExifImageHeight", "XMP-dc:Rights",
                                         "XMP-rdf:About", "XMP-x:XMPToolkit", "XMP-dc:Creator"}),
                  (std::vector<std::string>{"1", c.width, c.height, kCopyright,
                                            "uuid:faf5bdd5-ba3d-11da-ad31-d33d75182f1b",
                                            "Camera Toolkit 1.0", "Ann"}));
    }
}

// Google keeps the unstamped photo (GImage:Data) in extended XMP: it goes,
// what else is there stays, and the parts are named by the new digest.
TEST(EditXmp, PicturesLeaveTheExtendedXmpUnderANewDigest) {
    const std::string guid = "0123456789ABCDEF0123456789ABCDEF";
    const std::string image(90000, 'Q');  // base64 of the original picture
    const std::string description(70000, 'd');
    auto extended = [&](bool more) {
        return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
               "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
               "rdf:about=\"\" xmlns:GImage=\"http://ns.google.com/photos/1.0/image/\"" +
               std::string(more ? " xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                                  "GImage:Mime=\"image/jpeg\" dc:format=\"" +
                                      description + "\""
                                : "") +
               " GImage:Data=\"" + image + "\"/></rdf:RDF></x:xmpmeta>";
    };
    // The parts as JPEG segments hold them: GUID, full length, offset, data.
    auto split = [&](const std::string& packet) {
        std::vector<Bytes> parts;
        for (std::size_t at = 0; at < packet.size(); at += 60000) {
            Bytes part(guid.begin(), guid.end());
            for (std::uint32_t v : {std::uint32_t(packet.size()), std::uint32_t(at)})
                for (int shift = 24; shift >= 0; shift -= 8)
                    part.push_back(std::uint8_t(v >> shift));
            part.insert(part.end(), packet.begin() + std::ptrdiff_t(at),
                        packet.begin() + std::ptrdiff_t(std::min(packet.size(), at + 60000)));
            parts.push_back(part);
        }
        return parts;
    };
    const std::string main =
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
        "xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\" "
        "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "xmpNote:HasExtendedXMP=\"" +
        guid + "\" dc:source=\"phone\"/></rdf:RDF></x:xmpmeta>";
    testing::TempFolder folder;
    for (bool more : {true, false}) {
        SCOPED_TRACE(more ? "more than the picture" : "only the picture");
        PictureMetadata m;
        m.xmp = main;
        m.extendedXmp = split(extended(more));
        const std::vector<std::string> warnings = EditMetadata(m, {});
        EXPECT_EQ(warnings, std::vector<std::string>{
                                "removed the original picture (GImage) from the extended XMP" +
                                std::string(more ? "" : ", which held nothing else")});
        std::string whole, named;
        for (const Bytes& part : m.extendedXmp) {
            named = std::string(part.begin(), part.begin() + 32);
            whole.append(part.begin() + 40, part.end());
        }
        EXPECT_EQ(m.extendedXmp.size(), more ? 2u : 0u);
        if (more) {
            EXPECT_EQ(named,
                      Md5Hex(reinterpret_cast<const std::uint8_t*>(whole.data()), whole.size()));
        }
        testing::WriteAll(folder / "out.jpg", testing::Encoded(*testing::Gradient(8, 8), &m));
        std::vector<std::string> read = testing::ExiftoolTags(
            folder, folder / "out.jpg",
            {"XMP-xmpNote:HasExtendedXMP", "XMP-GImage:ImageMimeType", "XMP-GImage:ImageData",
             "XMP-dc:Format", "XMP-dc:Source", "Warning"});
        ASSERT_EQ(read.size(), 6u);
        EXPECT_EQ(read[3] == description, more) << read[3].size() << " bytes";
        read[3].clear();
        EXPECT_EQ(read, (std::vector<std::string>{more ? named : "-", more ? "image/jpeg" : "-",
                                                  "-", "", "phone", "-"}));
    }
}

TEST(Md5, DigestsOfTheReferenceMessages) {
    const std::string digits = "1234567890";
    const std::pair<std::string, std::string> cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {digits + digits + digits + digits + digits + digits + digits + digits,
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& [message, digest] : cases)
        EXPECT_EQ(Md5Hex(reinterpret_cast<const std::uint8_t*>(message.data()), message.size()),
                  digest);
}

}  // namespace
}  // namespace sigillon
