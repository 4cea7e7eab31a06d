// WebP files judged by libwebp's own tools: files made with cwebp, webpmux
// and img2webp read as dwebp decodes them; files written here are the bytes
// cwebp writes for the same pixels and carry metadata exiftool reads back.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "pictures/jpeg/jpeg_image.h"
#include "pictures/png/png_file.h"
#include "pictures/webp/webp_file.h"
#include "tests/support/files_test_support.h"
#include "tests/support/metadata_test_support.h"
#include "tests/support/process.h"

namespace sigillon {
namespace {

using testing::Bytes;

void RunTool(const std::vector<std::string>& args) {
    const testing::ProcessRun run = testing::RunProcess(args);
    ASSERT_EQ(run.status, 0) << args[0] << ": " << run.err;
}

// What dwebp decodes, through the PNG it writes.
PngPicture Dwebp(const testing::TempFolder& folder, const std::string& file) {
    RunTool({SIGILLON_DWEBP, "-quiet", file, "-o", folder / "decoded.png"});
    return ReadPngFile(folder / "decoded.png");
}

// How many pixels of what was read differ from dwebp's, alpha taken as
// opaque where there is none; rows from `grey` on must be grey and opaque.
int Differences(const WebpPicture& read, const PngPicture& d, int grey = 1 << 30) {
    const int width = d.pixels->Width(), height = d.pixels->Height();
    if (read.pixels->Width() != width || read.pixels->Height() != height) return -1;
    int differ = 0;
    for (int i = 0; i < width * height; ++i) {
        const int x = i % width, y = i / width;
        const auto alpha = [&](const auto& a) { return a.empty() ? 255 : a[std::size_t(i)]; };
        const TColor want = y < grey ? d.pixels->PixelAt(x, y) : RGBColor(128, 128, 128);
        differ += read.pixels->PixelAt(x, y) != want ||
                  alpha(read.alpha) != (y < grey ? alpha(d.alpha) : 255);
    }
    return differ;
}

Bytes Cut(Bytes b, std::size_t size) {
    b.resize(size);
    return b;
}

class WebpFiles : public ::testing::Test {
protected:
    void SetUp() override {
        picture_ = testing::Gradient(97, 61);
        alpha_.resize(97 * 61);
        for (std::size_t i = 0; i < alpha_.size(); ++i) alpha_[i] = std::uint8_t(i * 7);
        Save("picture.png", EncodePng(*picture_, {}, {}));
        Save("alpha.png", EncodePng(*picture_, alpha_, {}));
        // A JPEG with a profile, EXIF and XMP, and what the JPEG reader finds in it.
        testing::WriteAll(P("profile.icc"), testing::IccProfile("RGB ", 3000, 5));
        testing::WriteAll(P("meta.jpg"), testing::Encoded(*picture_));
        testing::Exiftool(folder_, {"-overwrite_original", "-EXIF:Copyright=Ann Example",
                                    "-XMP-dc:Rights=Ann's", "-ICC_Profile<=" + P("profile.icc"),
                                    P("meta.jpg")});
        TJPEGImage jpeg;
        jpeg.LoadFromFile(P("meta.jpg"));
        metadata_ = jpeg.Metadata();
        ASSERT_FALSE(metadata_.exif.empty() || metadata_.xmp.empty());
        // Lossless noise, large enough to be cut in its picture data.
        noise_ = Save("noise.webp",
                      EncodeWebp(*testing::RandomPicture(Depth24, 120, 90, 3), {}, {}, {0, true}));
        // Cut in a chunk after the picture: the picture is whole, the file not.
        PictureMetadata xmp;
        xmp.xmp = std::string(5000, 'x');
        const Bytes tagged = Save("tagged.webp", EncodeWebp(*picture_, {}, xmp, {}));
        metadataCut_ = Cut(tagged, tagged.size() - 100);
    }
    std::string P(const std::string& name) const { return folder_ / name; }
    Bytes Save(const std::string& name, const ByteBlock& block) {
        const Bytes bytes(block.data(), block.data() + block.size());
        testing::WriteAll(P(name), bytes);
        return bytes;
    }

    testing::TempFolder folder_;
    std::unique_ptr<TBitmap> picture_;
    std::vector<std::uint8_t> alpha_;
    PictureMetadata metadata_;
    Bytes noise_, metadataCut_;
};

TEST_F(WebpFiles, ReadsThePixelsDwebpDecodesAndTheMetadataChunks) {
    Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
    exif.insert(exif.end(), metadata_.exif.begin(), metadata_.exif.end());
    testing::WriteAll(P("prefixed.exif"), exif);
    testing::WriteAll(P("packet.xmp"), Bytes(metadata_.xmp.begin(), metadata_.xmp.end()));
    PictureMetadata xmpOnly, exifAndXmp;
    xmpOnly.xmp = exifAndXmp.xmp = metadata_.xmp;
    exifAndXmp.exif = metadata_.exif;
    const std::string png = P("picture.png"), alphaPng = P("alpha.png");
    const struct Case {
        const char* name;
        std::vector<std::string> cwebp;                         // its options and input
        std::vector<std::pair<std::string, std::string>> mux;  // chunks webpmux sets then
        bool alpha;
        PictureMetadata metadata;
    } cases[] = {
        {"lossy", {"-q", "70", png}, {}, false, {}},
        {"lossless", {"-lossless", png}, {}, false, {}},
        {"lossy, alpha", {alphaPng}, {}, true, {}},
        {"lossless, alpha, exact", {"-lossless", "-exact", alphaPng}, {}, true, {}},
        {"metadata from a JPEG", {"-metadata", "all", P("meta.jpg")}, {}, false, metadata_},
        {"EXIF after Exif\\0\\0, XMP added", {png},
         {{"exif", P("prefixed.exif")}, {"xmp", P("packet.xmp")}}, false, exifAndXmp},
        {"XMP alone", {png}, {{"xmp", P("packet.xmp")}}, false, xmpOnly},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> make = {SIGILLON_CWEBP, "-quiet"};
        make.insert(make.end(), c.cwebp.begin(), c.cwebp.end());
        make.insert(make.end(), {"-o", P("in.webp")});
        RunTool(make);
        for (const auto& [chunk, file] : c.mux)
            RunTool({SIGILLON_WEBPMUX, "-set", chunk, file, P("in.webp"), "-o", P("in.webp")});
        const WebpPicture read = ReadWebpFile(P("in.webp"), {true, false});
        EXPECT_EQ(Differences(read, Dwebp(folder_, P("in.webp"))), 0);
        EXPECT_EQ(!read.alpha.empty(), c.alpha);
        EXPECT_EQ(read.metadata, c.metadata);
        EXPECT_TRUE(read.warnings.empty());
        // Without metadata asked for, none is read.
        EXPECT_TRUE(ReadWebpFile(P("in.webp"), {}).metadata.Empty());
    }
}

TEST_F(WebpFiles, WritesTheBytesCwebpWritesForTheSamePixels) {
    const struct Case {
        WebpEncoding encoding;
        bool alpha;
        std::vector<std::string> cwebp;  // its options
    } cases[] = {
        {{}, false, {"-q", "90"}},
        {{40, false}, false, {"-q", "40"}},
        {{}, true, {"-q", "90"}},
        {{0, true}, false, {"-lossless", "-exact"}},
        {{0, true}, true, {"-lossless", "-exact"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cwebp[0] + " " + c.cwebp[1] + (c.alpha ? ", alpha" : ""));
        const std::span<const std::uint8_t> alpha(alpha_.data(), c.alpha ? alpha_.size() : 0);
        WriteWebpFile(P("ours.webp"), *picture_, alpha, {}, c.encoding);
        std::vector<std::string> args = {SIGILLON_CWEBP, "-quiet"};
        args.insert(args.end(), c.cwebp.begin(), c.cwebp.end());
        args.insert(args.end(), {P(c.alpha ? "alpha.png" : "picture.png"), "-o", P("theirs.webp")});
        RunTool(args);
        EXPECT_TRUE(testing::ReadAll(P("ours.webp")) == testing::ReadAll(P("theirs.webp")));
        if (!c.encoding.lossless) continue;
        // Lossless: dwebp gives back every pixel and opacity.
        const PngPicture back = Dwebp(folder_, P("ours.webp"));
        EXPECT_EQ(testing::RowBytes(*back.pixels), testing::RowBytes(*picture_));
        EXPECT_TRUE(std::equal(back.alpha.begin(), back.alpha.end(), alpha.begin(), alpha.end()));
    }
}

TEST_F(WebpFiles, MetadataIsWrittenInChunksExiftoolReads) {
    WriteWebpFile(P("out.webp"), *picture_, alpha_, metadata_, {});
    EXPECT_EQ(Differences(ReadWebpFile(P("out.webp"), {}), Dwebp(folder_, P("out.webp"))), 0);
    EXPECT_EQ(testing::ExiftoolTags(folder_, P("out.webp"), {"EXIF:Copyright", "XMP-dc:Rights"}),
              (std::vector<std::string>{"Ann Example", "Ann's"}));
    EXPECT_EQ(testing::Exiftool(folder_, {"-b", "-ICC_Profile", P("out.webp")}),
              std::string(metadata_.icc.begin(), metadata_.icc.end()));
    EXPECT_EQ(ReadWebpFile(P("out.webp"), {true, false}).metadata, metadata_);

    PictureMetadata jpegOnly = metadata_;
    jpegOnly.extendedXmp = {{1, 2}};
    jpegOnly.photoshop = {{3}};
    EXPECT_EQ(WebpMetadataWarnings(jpegOnly).size(), 2u);
}

// The header of a lossless file of that size: what WebPGetFeatures reads.
Bytes LosslessHeader(std::uint32_t width, std::uint32_t height) {
    Bytes b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L', 0, 0, 0, 0,
               0x2F};
    const std::uint32_t bits = (width - 1) | (height - 1) << 14;
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(bits >> (8 * i)));
    b.resize(64);
    testing::Put32(b, 4, 56);  // little-endian, as RIFF is
    testing::Put32(b, 16, 44);
    return b;
}

TEST_F(WebpFiles, DamagedAnimatedAndHugeFilesAreRefusedWithTheirReason) {
    RunTool({SIGILLON_IMG2WEBP, "-lossless", P("picture.png"), P("alpha.png"), "-o",
             P("anim.webp")});
    Bytes damaged = noise_;
    // In its code tables, where damage shows: WebP has no checksums, and
    // damage to the coded pixels decodes as other pixels.
    for (std::size_t i = 30; i < 46; ++i) damaged[i] ^= 0x5A;
    const char* const truncated = "WebP: the file ends early: it is truncated";
    const struct Case {
        const char* name;
        Bytes file;
        const char* refused;  // how the refusal begins
        bool readWhenAccepted;
    } cases[] = {
        {"empty", {}, "WebP: the file is empty", false},
        {"header cut", Cut(noise_, 20), truncated, false},
        {"not WebP inside", Cut(testing::ReadAll(P("picture.png")), 200),
         "WebP: not a WebP file, or its header is damaged", false},
        {"animated", testing::ReadAll(P("anim.webp")),
         "WebP: animated WebP files are not supported", false},
        {"16383 x 16383", LosslessHeader(16383, 16383),
         "WebP: picture of 16383 x 16383 pixels is too large", false},
        {"cut before any row", Cut(noise_, 40), truncated, false},
        {"damaged code tables", damaged, "WebP: the picture data is damaged", false},
        {"cut in the rows", Cut(noise_, noise_.size() * 2 / 3), truncated, true},
        {"cut in the metadata", metadataCut_, truncated, true},
    };
    // Below the 805 MB such a picture takes, so that no test allocates it.
    const std::int64_t limit = StorageLimit();
    SetStorageLimit(512 << 20);
    for (const Case& c : cases)
        for (bool accept : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (accept ? ", damage accepted" : ""));
            try {
                ReadWebpData(c.file.data(), c.file.size(), {true, accept});
                EXPECT_TRUE(accept && c.readWhenAccepted) << "read";
            } catch (const BitmapError& e) {
                EXPECT_FALSE(accept && c.readWhenAccepted);
                EXPECT_TRUE(std::string(e.what()).starts_with(c.refused)) << e.what();
            }
        }
    SetStorageLimit(limit);
}

TEST_F(WebpFiles, ACutFileIsReadAsFarAsItGoesWhenDamageIsAccepted) {
    const Bytes cut = Cut(noise_, noise_.size() * 2 / 3);
    const WebpPicture read = ReadWebpData(cut.data(), cut.size(), {false, true});
    ASSERT_EQ(read.warnings.size(), 1u);
    int rows = 0;
    ASSERT_EQ(std::sscanf(read.warnings[0].c_str(),
                          "the file ends early: it is truncated: %d of 90 rows", &rows), 1)
        << read.warnings[0];
    EXPECT_TRUE(rows > 30 && rows < 90) << rows;
    EXPECT_EQ(Differences(read, Dwebp(folder_, P("noise.webp")), rows), 0);
    EXPECT_EQ(ReadWebpData(metadataCut_.data(), metadataCut_.size(), {true, true}).warnings,
              (std::vector<std::string>{
                  "the file ends early: it is truncated: its metadata may be lost"}));
}

}  // namespace
}  // namespace sigillon
