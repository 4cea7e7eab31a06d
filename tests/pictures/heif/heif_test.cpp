// HEIF and AVIF files read through libheif: each variant the encoders make
// (8, 10 and 12 bits, alpha, a grid, rotation and mirroring, a real phone
// file) gives the pixels heif-convert gives for the same file, its deep
// samples rounded to 8 bits; metadata comes as exiftool reads it; damaged
// and oversized files are refused with their reasons.
#include "pictures/heif/heif_file.h"

#include <gtest/gtest.h>
#include <spng.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "pictures/png/png_file.h"
#include "tests/support/files_test_support.h"
#include "tests/support/metadata_test_support.h"
#include "tests/support/process.h"

namespace sigillon {
namespace {

using testing::Bytes;

const std::string kPhone = std::string(SIGILLON_PHOTOS_DIR) + "/iphone-11-pro-max.heic";

// Red, green, blue and alpha as 16-bit samples, and the PNG's bit depth.
struct Samples {
    int bits = 0;
    std::vector<std::uint16_t> rgba;
};

Samples ReadPngSamples(const std::string& path) {
    const Bytes file = testing::ReadAll(path);
    Samples samples;
    spng_ctx* ctx = spng_ctx_new(0);
    spng_set_png_buffer(ctx, file.data(), file.size());
    spng_ihdr ihdr{};
    if (spng_get_ihdr(ctx, &ihdr) == 0) {
        samples.bits = ihdr.bit_depth;
        std::size_t size = 0;
        spng_decoded_image_size(ctx, SPNG_FMT_RGBA16, &size);
        samples.rgba.resize(size / 2);
        if (spng_decode_image(ctx, samples.rgba.data(), size, SPNG_FMT_RGBA16, 0) != 0)
            samples.rgba.clear();
    }
    spng_ctx_free(ctx);
    return samples;
}

// What heif-convert's PNG shows, in 8 bits: its 16-bit samples hold the
// file's bits - bit samples shifted up, rounded down to 8 bits here.
std::uint8_t Expected8(std::uint16_t v, int pngBits, int fileBits) {
    if (pngBits == 8) return std::uint8_t(v >> 8);
    const std::uint32_t max = (1u << fileBits) - 1;
    return std::uint8_t(((v >> (16 - fileBits)) * 255 + max / 2) / max);
}

bool RunTool(const std::vector<std::string>& argv) {
    const testing::ProcessRun run = testing::RunProcess(argv);
    EXPECT_EQ(run.status, 0) << argv[0] << ": " << run.err;
    return run.status == 0;
}

class HeifReading : public ::testing::Test {
protected:
    void SetUp() override {
        // Smooth, with some edges, as a photo; the alpha a ramp with a hole.
        auto picture = testing::Gradient(160, 128);
        std::vector<std::uint8_t> alpha(160 * 128);
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 160; ++x)
                alpha[std::size_t(y * 160 + x)] =
                    (x - 80) * (x - 80) + (y - 64) * (y - 64) < 400 ? 0 : std::uint8_t(x + 60);
        Write("opaque.png", EncodePng(*picture, {}, {}));
        Write("alpha.png", EncodePng(*picture, alpha, {}));
    }
    void Write(const std::string& name, const ByteBlock& block) {
        testing::WriteAll(folder_ / name, Bytes(block.data(), block.data() + block.size()));
    }
    testing::TempFolder folder_;
};

TEST_F(HeifReading, EveryVariantGivesHeifConvertsPixelsRounded) {
    const struct {
        const char* name;
        std::vector<std::string> make;  // the encoder's command, the output last
        int bits;
        int width, height;
        bool alpha;
    } cases[] = {
        {"8-bit.heic", {"heif-enc", "-q", "80", "opaque.png", "-o"}, 8, 160, 128, false},
        {"alpha.heic", {"heif-enc", "-q", "80", "alpha.png", "-o"}, 8, 160, 128, true},
        {"10-bit.avif", {"avifenc", "-s", "10", "-d", "10", "opaque.png", "-o"}, 10, 160, 128, false},
        {"12-bit-alpha.avif", {"avifenc", "-s", "10", "-d", "12", "alpha.png", "-o"}, 12, 160, 128,
         true},
        {"grid.avif", {"avifenc", "-s", "10", "--grid", "2x2", "opaque.png", "-o"}, 8, 160, 128, false},
        {"turned.avif", {"avifenc", "-s", "10", "--irot", "1", "opaque.png", "-o"}, 8, 128, 160, false},
        {"mirrored.avif", {"avifenc", "-s", "10", "--irot", "3", "--imir", "1", "opaque.png", "-o"},
         8, 128, 160, false},
        {"phone.heic", {}, 8, 2566, 3313, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = folder_ / c.name;
        if (c.make.empty()) {
            path = kPhone;
        } else {
            std::vector<std::string> argv = c.make;
            for (std::string& arg : argv)
                if (arg.ends_with(".png")) arg = folder_ / arg;
            argv.push_back(path);
            if (!RunTool(argv)) continue;
        }
        const std::string reference = folder_ / "reference.png";
        if (!RunTool({"heif-convert", "--quiet", path, reference})) continue;
        const Samples expected = ReadPngSamples(reference);

        const HeifPicture got = ReadHeifFile(path, {});
        ASSERT_EQ(got.pixels->Width(), c.width);
        ASSERT_EQ(got.pixels->Height(), c.height);
        ASSERT_EQ(expected.rgba.size(), std::size_t(c.width) * std::size_t(c.height) * 4);
        ASSERT_EQ(got.alpha.size(), c.alpha ? std::size_t(c.width * c.height) : 0);
        int wrong = 0;
        for (int y = 0; y < c.height && wrong < 5; ++y) {
            const std::uint8_t* row = got.pixels->RowAddress(y);
            for (int x = 0; x < c.width && wrong < 5; ++x) {
                const std::uint16_t* e = &expected.rgba[(std::size_t(y) * std::size_t(c.width) + std::size_t(x)) * 4];
                const std::uint8_t want[4] = {Expected8(e[2], expected.bits, c.bits),
                                              Expected8(e[1], expected.bits, c.bits),
                                              Expected8(e[0], expected.bits, c.bits),
                                              Expected8(e[3], expected.bits, c.bits)};
                const std::uint8_t alpha = c.alpha ? got.alpha[std::size_t(y * c.width + x)] : 255;
                if (std::memcmp(row + 3 * x, want, 3) == 0 && alpha == want[3]) continue;
                ADD_FAILURE() << "pixel " << x << "," << y;
                ++wrong;
            }
        }
    }
}

// The phone's EXIF block from its TIFF header, its Display P3 profile and
// its XMP packet, byte for byte as exiftool extracts them.
TEST_F(HeifReading, MetadataComesAsExiftoolReadsIt) {
    const HeifPicture phone = ReadHeifFile(kPhone, {.withMetadata = true});
    EXPECT_TRUE(phone.warnings.empty());
    const std::string exif = testing::Exiftool(folder_, {"-b", "-EXIF", kPhone});
    const std::string icc = testing::Exiftool(folder_, {"-b", "-ICC_Profile", kPhone});
    const std::string xmp = testing::Exiftool(folder_, {"-b", "-XMP", kPhone});
    ASSERT_GT(exif.size(), 8u);
    EXPECT_EQ(std::string(phone.metadata.exif.begin(), phone.metadata.exif.end()), exif);
    EXPECT_EQ(std::string(phone.metadata.icc.begin(), phone.metadata.icc.end()), icc);
    EXPECT_EQ(phone.metadata.xmp, xmp);
    EXPECT_TRUE(ReadHeifFile(kPhone, {}).metadata.Empty());

    // Colours given as numbers: sRGB's pass quietly, BT.2020's are told.
    ASSERT_TRUE(RunTool({"avifenc", "-s", "10", "--cicp", "9/16/9", folder_ / "opaque.png",
                     folder_ / "pq.avif"}));
    const HeifPicture pq = ReadHeifFile(folder_ / "pq.avif", {.withMetadata = true});
    EXPECT_EQ(pq.warnings, std::vector<std::string>{
                               "the colours are described by numbers (primaries 9, transfer 16), "
                               "which cannot be carried: they are taken as sRGB"});
}

TEST_F(HeifReading, DamagedAndOversizedFilesAreRefusedWithTheirReasons) {
    const Bytes phone = testing::ReadAll(kPhone);
    Bytes garbled = phone;
    // The coded tiles lie at the end; scrambling them leaves the boxes whole.
    for (std::size_t i = garbled.size() - 300000; i < garbled.size() - 1000; i += 7) garbled[i] ^= 0x5A;
    const struct {
        const char* name;
        Bytes file;
        std::int64_t storageLimit;
        const char* refusal;  // how the refusal begins, "" read
    } cases[] = {
        {"empty", {}, 0, "HEIF: the file is empty"},
        {"cut", Bytes(phone.begin(), phone.begin() + 200000), 0, "HEIF: "},
        {"header only", Bytes(phone.begin(), phone.begin() + 40), 0, "HEIF: "},
        {"too large", phone, 2566 * 3313 * 3, "HEIF: picture of 2566 x 3313 pixels is too large"},
        {"garbled", garbled, 0, "HEIF: "},
    };
    const std::int64_t limit = StorageLimit();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.storageLimit) SetStorageLimit(c.storageLimit);
        try {
            ReadHeifData({c.file.data(), c.file.size()}, {});
            ADD_FAILURE() << "read";
        } catch (const BitmapError& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with(c.refusal)) << error.what();
            EXPECT_GT(std::string(error.what()).size(), std::string("HEIF: ").size());
        }
        SetStorageLimit(limit);
    }
    // Accepted or not, tiles libheif cannot decode at all give no picture.
    EXPECT_THROW(ReadHeifData({garbled.data(), garbled.size()}, {.acceptDamaged = true}),
                 BitmapError);
}

TEST(HeifBrands, TheFtypBoxSaysWhichKind) {
    auto ftyp = [](const char* major, std::vector<const char*> compatible) {
        Bytes box(8 + 8 + 4 * compatible.size());
        testing::Put32(box, 0, std::uint32_t(box.size()));
        std::memcpy(box.data() + 4, "ftyp", 4);
        std::memcpy(box.data() + 8, major, 4);
        for (std::size_t i = 0; i < compatible.size(); ++i)
            std::memcpy(box.data() + 16 + 4 * i, compatible[i], 4);
        return box;
    };
    const struct {
        Bytes head;
        HeifBrand brand;
    } cases[] = {
        {ftyp("heic", {"mif1", "heic"}), HeifBrand::Heif},
        {ftyp("mif1", {"heic"}), HeifBrand::Heif},
        {ftyp("avif", {"avif", "mif1", "miaf"}), HeifBrand::Avif},
        {ftyp("mif1", {"miaf", "avif"}), HeifBrand::Avif},  // AVIF only among the compatible
        {ftyp("isom", {"iso2", "mp41"}), HeifBrand::None},  // a video
        {ftyp("qt  ", {"heic"}), HeifBrand::Heif},
        {Bytes{0, 0, 0, 24, 'f', 't', 'y', 'q', 'h', 'e', 'i', 'c'}, HeifBrand::None},
        {Bytes{0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e'}, HeifBrand::None},
    };
    int i = 0;
    for (const auto& c : cases)
        EXPECT_EQ(HeifBrandOf({c.head.data(), c.head.size()}), c.brand) << "case " << i++;
}

}  // namespace
}  // namespace sigillon
