// Metadata segments of JPEG files: read, written, and left out where a JPEG
// file cannot carry them.
#include "pictures/jpeg/jpeg_metadata.h"

#include <gtest/gtest.h>

#include "tests/support/bare_libjpeg.h"
#include "tests/support/metadata_test_support.h"

namespace sigillon {
namespace {

using testing::Bytes;

std::string Text(std::size_t size, char c) { return std::string(size, c); }

PictureMetadata Everything() {
    PictureMetadata m;
    m.exif = testing::RandomBytes(300, 1);
    m.xmp = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    m.extendedXmp = {testing::RandomBytes(65498, 2), testing::RandomBytes(70, 3)};
    m.icc = testing::IccProfile("RGB ", 150000, 4);  // three segments
    const std::string ps = std::string("Photoshop 3.0\0", 14);
    m.photoshop = {Bytes(ps.begin(), ps.end()), Bytes(ps.begin(), ps.end())};
    m.photoshop[1].resize(65533, 'p');
    return m;
}

TEST(JpegMetadata, WithoutMetadataTheFileIsByteForByteWhatItWas) {
    auto picture = testing::Gradient(40, 24);
    const Bytes plain = testing::Encoded(*picture);
    const PictureMetadata none;
    EXPECT_EQ(testing::Encoded(*picture, &none), plain);
    EXPECT_EQ(ReadJpegMetadata(plain.data(), plain.size()), none);
}

TEST(JpegMetadata, BlocksComeBackAsTheyWentInAfterTheJfifHeaderInOrder) {
    auto picture = testing::Gradient(40, 24);
    const Bytes plain = testing::Encoded(*picture);
    struct Case {
        const char* name;
        PictureMetadata m;
        bool grayscale = false;
    };
    std::vector<Case> cases = {{"everything", Everything()}};
    cases.push_back({"EXIF only", {}});
    cases.back().m.exif = testing::RandomBytes(65527, 5);  // the most one segment holds
    cases.push_back({"XMP only", {}});
    cases.back().m.xmp = Text(65504, 'x');
    cases.push_back({"gray profile on a gray file", {}, true});
    cases.back().m.icc = testing::IccProfile("GRAY", 500, 6);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TJPEGImage jpeg;
        jpeg.Assign(*picture);
        jpeg.SetGrayscaleOutput(c.grayscale);
        jpeg.SetOutputMetadata(c.m);
        jpeg.Compress();
        EXPECT_TRUE(jpeg.WriteMetadataWarnings().empty());
        const Bytes file(jpeg.Data().begin(), jpeg.Data().end());
        EXPECT_EQ(ReadJpegMetadata(file.data(), file.size()), c.m);
        EXPECT_EQ(jpeg.Metadata(), c.m) << "what the encoder holds reads back the same";
    }
    // The segments of "everything", and without them the very file made
    // without metadata.
    const Bytes file = testing::Encoded(*picture, &cases[0].m);
    std::vector<int> order;
    Bytes stripped(file.begin(), file.begin() + 2);
    std::size_t at = 2;
    for (const auto& [marker, payload] : testing::SegmentsOf(file)) {
        const bool ours = marker == 0xE1 || marker == 0xE2 || marker == 0xED;
        if (ours) order.push_back(marker);
        if (!ours)
            stripped.insert(stripped.end(), file.begin() + std::ptrdiff_t(at),
                            file.begin() + std::ptrdiff_t(at + 4 + payload.size()));
        at += 4 + payload.size();
    }
    stripped.insert(stripped.end(), file.begin() + std::ptrdiff_t(at), file.end());
    EXPECT_EQ(testing::SegmentsOf(file)[0].first, 0xE0) << "JFIF first";
    EXPECT_EQ(order, (std::vector<int>{0xE1, 0xE1, 0xE1, 0xE1, 0xE2, 0xE2, 0xE2, 0xED, 0xED}));
    EXPECT_EQ(testing::SegmentsOf(file)[1].second[0], 'E') << "EXIF before XMP";
    EXPECT_EQ(stripped, plain);
}

TEST(JpegMetadata, BlocksAJpegFileCannotCarryAreLeftOutWithAWarning) {
    auto picture = testing::Gradient(16, 16);
    struct Case {
        const char* name;
        void (*spoil)(PictureMetadata&);
        const char* warning;
        bool grayscale = false;
    };
    const Case cases[] = {
        {"EXIF", [](PictureMetadata& m) { m.exif.resize(65528); }, "EXIF block of 65528 bytes"},
        {"XMP", [](PictureMetadata& m) { m.xmp = Text(65505, 'x'); }, "XMP packet of 65505"},
        {"extended XMP", [](PictureMetadata& m) { m.extendedXmp[1].resize(65499); },
         "extended XMP segment of 65499"},
        {"Photoshop", [](PictureMetadata& m) { m.photoshop[1].resize(65534); },
         "Photoshop/IPTC segment of 65534"},
        {"ICC", [](PictureMetadata& m) { m.icc = testing::IccProfile("RGB ", 255 * 65519 + 1, 7); },
         "ICC profile of 16707346 bytes"},
        {"gray ICC", [](PictureMetadata& m) { m.icc = testing::IccProfile("GRAY", 500, 8); },
         "for 1 colour channels, the file has 3"},
        {"colour ICC", [](PictureMetadata&) {}, "for 3 colour channels, the file has 1", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PictureMetadata m = Everything();
        c.spoil(m);
        TJPEGImage jpeg;
        jpeg.Assign(*picture);
        jpeg.SetGrayscaleOutput(c.grayscale);
        jpeg.SetOutputMetadata(m);
        jpeg.Compress();
        ASSERT_EQ(jpeg.WriteMetadataWarnings().size(), 1u);
        EXPECT_NE(jpeg.WriteMetadataWarnings()[0].find(c.warning), std::string::npos)
            << jpeg.WriteMetadataWarnings()[0];
        const PictureMetadata back = jpeg.Metadata();
        int lost = (back.exif != m.exif) + (back.xmp != m.xmp) + (back.icc != m.icc) +
                   (back.extendedXmp.size() != m.extendedXmp.size()) +
                   (back.photoshop.size() != m.photoshop.size());
        EXPECT_EQ(lost, 1) << "only the block that does not fit is missing";
    }
}

TEST(JpegMetadata, ReadingKeepsTheFirstExifAndXmpAndIgnoresOtherSegments) {
    const Bytes plain = testing::Encoded(*testing::Gradient(16, 16));
    Bytes file =
        testing::WithSegment(plain, 0xE1, std::string("Exif\0\0", 6), {'M', 'M', 0, 42, 2});
    file =
        testing::WithSegment(file, 0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29), {'2'});
    file = testing::WithSegment(file, 0xE1, std::string("Exif\0\0", 6), {'I', 'I', 42, 0, 1});
    file =
        testing::WithSegment(file, 0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29), {'1'});
    file = testing::WithSegment(file, 0xE1, "Other", {1, 2, 3});
    file = testing::WithSegment(file, 0xED, "Adobe_CM", {0});
    // An ICC segment claiming to be 2 of 3 with no others: no profile.
    file = testing::WithSegment(file, 0xE2, std::string("ICC_PROFILE\0", 12), {2, 3, 'x'});
    const PictureMetadata m = ReadJpegMetadata(file.data(), file.size());
    EXPECT_EQ(m.exif, (Bytes{'I', 'I', 42, 0, 1}));
    EXPECT_EQ(m.xmp, "1");
    EXPECT_TRUE(m.icc.empty() && m.photoshop.empty() && m.extendedXmp.empty());

    TJPEGImage jpeg;
    jpeg.LoadFromBytes(file.data(), file.size());
    EXPECT_EQ(jpeg.Metadata(), m);
    bare::Decoded reference;
    ASSERT_TRUE(bare::Decode(plain.data(), plain.size(), {JCS_EXT_BGR}, reference));
    EXPECT_EQ(testing::RowBytes(jpeg.Bitmap()), reference.pixels) << "pixels as without them";
    jpeg.Assign(*testing::Gradient(4, 4));
    EXPECT_TRUE(jpeg.Metadata().Empty());
    std::vector<std::string> why;
    EXPECT_TRUE(ReadJpegMetadata(file.data(), 100, &why).Empty()) << "no header, no metadata";
    EXPECT_EQ(why.size(), 1u);
}

TEST(JpegMetadata, RepeatedKindsBeyondTheirLimitAreDroppedWhole) {
    const Bytes plain = testing::Encoded(*testing::Gradient(8, 8));
    const Bytes one = testing::WithSegment({0xFF, 0xD8}, 0xED, std::string("Photoshop 3.0\0", 14),
                                           Bytes(65000 - 14, 1));
    Bytes file(plain.begin(), plain.begin() + 2);
    for (std::size_t i = 0; i < kMaxJpegMetadataKindBytes / 65000 + 1; ++i)
        file.insert(file.end(), one.begin() + 2, one.end());
    file.insert(file.end(), plain.begin() + 2, plain.end());
    file = testing::WithSegment(file, 0xE1, std::string("http://ns.adobe.com/xmp/extension/\0", 35),
                                {7});
    std::vector<std::string> dropped;
    const PictureMetadata m = ReadJpegMetadata(file.data(), file.size(), &dropped);
    EXPECT_TRUE(m.photoshop.empty());
    EXPECT_EQ(m.extendedXmp, std::vector<Bytes>{{7}});
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].rfind("Photoshop/IPTC data of", 0), 0u) << dropped[0];
}

// exiftool, reading our file, finds the profile we split into segments.
TEST(JpegMetadata, ExiftoolReadsTheIccProfileWeWriteByteForByte) {
    testing::TempFolder folder;
    PictureMetadata m;
    m.icc = testing::IccProfile("RGB ", 200000, 9);
    testing::WriteAll(folder / "out.jpg", testing::Encoded(*testing::Gradient(16, 16), &m));
    const std::string icc = testing::Exiftool(folder, {"-icc_profile", "-b", folder / "out.jpg"});
    EXPECT_TRUE(icc == std::string(m.icc.begin(), m.icc.end())) << icc.size() << " bytes";
}

}  // namespace
}  // namespace sigillon
