// WebP files judged by libwebp's own tools: files made with cwebp, webpmux
// and img2webp must read as dwebp decodes them, and files written here must
// be the bytes cwebp writes for the same pixels and carry metadata exiftool
// reads back.
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

// RGBA, top row first, as dwebp -pam writes every file.
struct Decoded {
    int width = 0, height = 0;
    Bytes rgba;
};

void RunTool(const std::vector<std::string>& args) {
    const testing::ProcessRun run = testing::RunProcess(args);
    ASSERT_EQ(run.status, 0) << args[0] << ": " << run.err;
}

Decoded Dwebp(const testing::TempFolder& folder, const std::string& file) {
    RunTool({SIGILLON_DWEBP, "-quiet", "-pam", file, "-o", folder / "decoded.pam"});
    const Bytes pam = testing::ReadAll(folder / "decoded.pam");
    const std::string text(pam.begin(), pam.end());
    Decoded d;
    std::sscanf(text.c_str(), "P7\nWIDTH %d\nHEIGHT %d\n", &d.width, &d.height);
    const std::size_t end = text.find("ENDHDR\n");
    if (end != std::string::npos) d.rgba.assign(pam.begin() + std::ptrdiff_t(end + 7), pam.end());
    EXPECT_EQ(d.rgba.size(), std::size_t(d.width) * std::size_t(d.height) * 4) << file;
    return d;
}

// How many pixels of what was read differ from dwebp's, its alpha taken as
// opaque when the reader gave none; rows from `grey` on must be grey and
// opaque instead.
int Differences(const WebpPicture& read, const Decoded& d, int grey = 1 << 30) {
    if (read.pixels->Width() != d.width || read.pixels->Height() != d.height) return -1;
    int differ = 0;
    for (int y = 0; y < d.height; ++y)
        for (int x = 0; x < d.width; ++x) {
            const std::uint8_t* p = d.rgba.data() + (std::size_t(y) * std::size_t(d.width) + x) * 4;
            const TColor want = y < grey ? RGBColor(p[0], p[1], p[2]) : RGBColor(128, 128, 128);
            const int alpha = read.alpha.empty() ? 255 : read.alpha[std::size_t(y) * d.width + x];
            differ += read.pixels->PixelAt(x, y) != want || alpha != (y < grey ? p[3] : 255);
        }
    return differ;
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
        ASSERT_FALSE(metadata_.exif.empty());
        ASSERT_FALSE(metadata_.xmp.empty());
    }
    std::string P(const std::string& name) const { return folder_ / name; }
    void Save(const std::string& name, const ByteBlock& bytes) {
        testing::WriteAll(P(name), Bytes(bytes.data(), bytes.data() + bytes.size()));
    }

    testing::TempFolder folder_;
    std::unique_ptr<TBitmap> picture_;
    std::vector<std::uint8_t> alpha_;
    PictureMetadata metadata_;
};

TEST_F(WebpFiles, ReadsThePixelsDwebpDecodesAndTheMetadataChunks) {
    Bytes exif = {'E', 'x', 'i', 'f', 0, 0};
    exif.insert(exif.end(), metadata_.exif.begin(), metadata_.exif.end());
    testing::WriteAll(P("prefixed.exif"), exif);
    testing::WriteAll(P("packet.xmp"), Bytes(metadata_.xmp.begin(), metadata_.xmp.end()));
    PictureMetadata exifOnly;
    exifOnly.exif = metadata_.exif;
    PictureMetadata xmpOnly;
    xmpOnly.xmp = metadata_.xmp;
    const std::string cwebp = SIGILLON_CWEBP, webpmux = SIGILLON_WEBPMUX;
    const struct Case {
        const char* name;
        std::vector<std::vector<std::string>> make;  // commands that make P("in.webp")
        bool alpha;
        PictureMetadata metadata;
    } cases[] = {
        {"lossy", {{cwebp, "-quiet", "-q", "70", P("picture.png"), "-o", P("in.webp")}}, false, {}},
        {"lossless", {{cwebp, "-quiet", "-lossless", P("picture.png"), "-o", P("in.webp")}}, false, {}},
        {"lossy, alpha", {{cwebp, "-quiet", P("alpha.png"), "-o", P("in.webp")}}, true, {}},
        {"lossless, alpha, exact",
         {{cwebp, "-quiet", "-lossless", "-exact", P("alpha.png"), "-o", P("in.webp")}}, true, {}},
        {"metadata from a JPEG",
         {{cwebp, "-quiet", "-metadata", "all", P("meta.jpg"), "-o", P("in.webp")}}, false, metadata_},
        {"EXIF after Exif\\0\\0, XMP added",
         {{cwebp, "-quiet", P("picture.png"), "-o", P("plain.webp")},
          {webpmux, "-set", "exif", P("prefixed.exif"), P("plain.webp"), "-o", P("exif.webp")},
          {webpmux, "-set", "xmp", P("packet.xmp"), P("exif.webp"), "-o", P("in.webp")}},
         false, [&] { PictureMetadata m = exifOnly; m.xmp = metadata_.xmp; return m; }()},
        {"XMP alone", {{cwebp, "-quiet", P("picture.png"), "-o", P("plain.webp")},
                       {webpmux, "-set", "xmp", P("packet.xmp"), P("plain.webp"), "-o", P("in.webp")}},
         false, xmpOnly},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const auto& command : c.make) RunTool(command);
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
    const std::string cwebp = SIGILLON_CWEBP;
    const struct Case {
        const char* name;
        WebpEncoding encoding;
        bool alpha;
        std::vector<std::string> cwebpOptions;
    } cases[] = {
        {"default quality", {}, false, {"-q", "90"}},
        {"quality 40", {40, false}, false, {"-q", "40"}},
        {"alpha", {}, true, {"-q", "90"}},
        {"lossless", {0, true}, false, {"-lossless", "-exact"}},
        {"lossless, alpha", {0, true}, true, {"-lossless", "-exact"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::span<const std::uint8_t> alpha = c.alpha ? alpha_ : std::span<const std::uint8_t>();
        WriteWebpFile(P("ours.webp"), *picture_, alpha, {}, c.encoding);
        std::vector<std::string> args = {cwebp, "-quiet"};
        args.insert(args.end(), c.cwebpOptions.begin(), c.cwebpOptions.end());
        args.insert(args.end(), {P(c.alpha ? "alpha.png" : "picture.png"), "-o", P("theirs.webp")});
        RunTool(args);
        EXPECT_TRUE(testing::ReadAll(P("ours.webp")) == testing::ReadAll(P("theirs.webp")));
        if (!c.encoding.lossless) continue;
        // Lossless: dwebp gives back every pixel and opacity.
        const Decoded d = Dwebp(folder_, P("ours.webp"));
        WebpPicture source{std::make_unique<TBitmap>(), {alpha.begin(), alpha.end()}, {}, {}};
        source.pixels->ShareImage(*picture_);
        EXPECT_EQ(Differences(source, d), 0);
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

// A lossless file of noise, large enough to be cut in its picture data.
Bytes NoiseFile(const testing::TempFolder& folder) {
    const ByteBlock file =
        EncodeWebp(*testing::RandomPicture(Depth24, 120, 90, 3), {}, {}, {0, true});
    testing::WriteAll(folder / "noise.webp", Bytes(file.data(), file.data() + file.size()));
    return Bytes(file.data(), file.data() + file.size());
}

Bytes Cut(Bytes b, std::size_t size) {
    b.resize(size);
    return b;
}

// The header of a lossless file of that size: what WebPGetFeatures reads.
Bytes LosslessHeader(std::uint32_t width, std::uint32_t height) {
    Bytes b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L', 0, 0, 0, 0, 0x2F};
    const std::uint32_t bits = (width - 1) | (height - 1) << 14;
    for (int i = 0; i < 4; ++i) b.push_back(std::uint8_t(bits >> (8 * i)));
    b.resize(64);
    testing::Put32(b, 4, 56);  // little-endian, as RIFF is
    testing::Put32(b, 16, 44);
    return b;
}

TEST_F(WebpFiles, DamagedAnimatedAndHugeFilesAreRefusedWithTheirReason) {
    const Bytes noise = NoiseFile(folder_);
    RunTool({SIGILLON_IMG2WEBP, "-lossless", P("picture.png"), P("alpha.png"), "-o", P("anim.webp")});
    Bytes damaged = noise;
    // In its code tables, where damage shows: WebP has no checksums, and
    // damage to the coded pixels decodes as other pixels.
    for (std::size_t i = 30; i < 46; ++i) damaged[i] ^= 0x5A;
    const struct Case {
        const char* name;
        Bytes file;
        const char* refused;  // also when damage is accepted, unless empty
    } cases[] = {
        {"empty", {}, "WebP: the file is empty"},
        {"header cut", Cut(noise, 20), "WebP: the file ends early: it is truncated"},
        {"not WebP inside", Cut(testing::ReadAll(P("picture.png")), 200),
         "WebP: not a WebP file, or its header is damaged"},
        {"animated", testing::ReadAll(P("anim.webp")), "WebP: animated WebP files are not supported"},
        {"16383 x 16383", LosslessHeader(16383, 16383),
         "WebP: picture of 16383 x 16383 pixels is too large"},
        {"cut before any row", Cut(noise, 40), "WebP: the file ends early: it is truncated"},
        {"damaged code tables", damaged, "WebP: the picture data is damaged"},
    };
    // Below the 805 MB such a picture takes, so that no test allocates it.
    const std::int64_t limit = StorageLimit();
    SetStorageLimit(512 << 20);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool accept : {false, true}) {
            try {
                ReadWebpData(c.file.data(), c.file.size(), {false, accept});
                EXPECT_TRUE(accept && !*c.refused) << "read";
            } catch (const BitmapError& e) {
                EXPECT_EQ(std::string(e.what()).rfind(*c.refused ? c.refused : "WebP: ", 0), 0u)
                    << e.what();
            }
        }
    }
    SetStorageLimit(limit);
}

TEST_F(WebpFiles, ACutFileIsReadAsFarAsItGoesWhenDamageIsAccepted) {
    const Bytes noise = NoiseFile(folder_);
    const Decoded whole = Dwebp(folder_, P("noise.webp"));
    const Bytes cut = Cut(noise, noise.size() * 2 / 3);
    try {
        ReadWebpData(cut.data(), cut.size(), {});
        ADD_FAILURE() << "a cut file was read";
    } catch (const BitmapError& e) {
        EXPECT_STREQ(e.what(), "WebP: the file ends early: it is truncated");
    }
    const WebpPicture read = ReadWebpData(cut.data(), cut.size(), {false, true});
    ASSERT_EQ(read.warnings.size(), 1u);
    int rows = 0;
    ASSERT_EQ(std::sscanf(read.warnings[0].c_str(), "the file ends early: it is truncated: %d of 90 rows",
                          &rows), 1) << read.warnings[0];
    EXPECT_GT(rows, 30);
    EXPECT_LT(rows, 90);
    EXPECT_EQ(Differences(read, whole, rows), 0);

    // Cut in a chunk after the picture: the picture is whole, the file not.
    PictureMetadata xmp;
    xmp.xmp = std::string(5000, 'x');
    const ByteBlock tagged = EncodeWebp(*picture_, {}, xmp, {});
    const Bytes tail(tagged.data(), tagged.data() + tagged.size() - 100);
    EXPECT_THROW(ReadWebpData(tail.data(), tail.size(), {true, false}), BitmapError);
    EXPECT_EQ(ReadWebpData(tail.data(), tail.size(), {true, true}).warnings,
              (std::vector<std::string>{
                  "the file ends early: it is truncated: its metadata may be lost"}));
}

}  // namespace
}  // namespace sigillon
