// HEIF and AVIF files read through libheif: each variant the encoders make
// (8, 10 and 12 bits, 4:4:4, alpha, a grid, rotation and
// mirroring, a real phone file) gives the pixels heif-convert gives for the
// same file, its deep samples rounded to 8 bits, read whole and, where the
// samples allow, as rows; metadata comes as exiftool reads it; damaged
// and oversized files are refused with their reasons.
#include "pictures/heif/heif_file.h"

#include <gtest/gtest.h>
#include <spng.h>

#include <algorithm>
#include <cstring>
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

// A PNG's red, green, blue and alpha as 16-bit samples, and its bit depth.
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
    std::size_t size = 0;
    if (spng_get_ihdr(ctx, &ihdr) == 0 &&
        spng_decoded_image_size(ctx, SPNG_FMT_RGBA16, &size) == 0) {
        samples = {ihdr.bit_depth, std::vector<std::uint16_t>(size / 2)};
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
        for (int i = 0; i < 160 * 128; ++i) {
            const int x = i % 160, y = i / 160;
            const bool hole = (x - 80) * (x - 80) + (y - 64) * (y - 64) < 400;
            alpha[std::size_t(i)] = hole ? 0 : std::uint8_t(x + 60);
        }
        for (const auto& [name, block] : {std::pair{"opaque.png", EncodePng(*picture, {}, {})},
                                          std::pair{"alpha.png", EncodePng(*picture, alpha, {})}})
            testing::WriteAll(folder_ / name, Bytes(block.data(), block.data() + block.size()));
    }
    testing::TempFolder folder_;
};

TEST_F(HeifReading, EveryVariantGivesHeifConvertsPixelsRounded) {
    const struct {
        const char* name;
        std::vector<std::string> make;  // the encoder's command, the output last
        int bits, width, height;
        bool alpha;
        const char* whyNotRows;  // nullptr: handed out as rows too
    } cases[] = {
        {"8-bit.heic", {"heif-enc", "-q", "80", "opaque.png", "-o"}, 8, 160, 128, false, nullptr},
        {"alpha.heic", {"heif-enc", "-q", "80", "alpha.png", "-o"}, 8, 160, 128, true,
         "its alpha plane is read whole with it"},
        {"4:4:4.heic", {"heif-enc", "-q", "80", "-p", "chroma=444", "opaque.png", "-o"}, 8, 160, 128,
         false, nullptr},
        {"10-bit.avif", {"avifenc", "-s", "10", "-d", "10", "opaque.png", "-o"}, 10, 160, 128, false,
         "its samples are deeper than 8 bits"},
        {"12-bit-alpha.avif", {"avifenc", "-s", "10", "-d", "12", "alpha.png", "-o"}, 12, 160, 128,
         true, "its alpha plane is read whole with it"},
        {"grid.avif", {"avifenc", "-s", "10", "--grid", "2x2", "opaque.png", "-o"}, 8, 160, 128, false,
         nullptr},
        {"turned.avif", {"avifenc", "-s", "10", "--irot", "1", "opaque.png", "-o"}, 8, 128, 160, false,
         nullptr},
        {"mirrored.avif", {"avifenc", "-s", "10", "--irot", "3", "--imir", "1", "opaque.png", "-o"},
         8, 128, 160, false, nullptr},
        {"phone.heic", {}, 8, 2566, 3313, false, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.make.empty() ? kPhone : folder_ / c.name;
        std::vector<std::string> make = c.make;
        for (std::string& arg : make)
            if (arg.ends_with(".png")) arg = folder_ / arg;
        make.push_back(path);
        const std::string reference = folder_ / "reference.png";
        if ((!c.make.empty() && !RunTool(make)) ||
            !RunTool({"heif-convert", "--quiet", path, reference}))
            continue;
        const Samples expected = ReadPngSamples(reference);
        const int width = c.width, height = c.height;
        ASSERT_EQ(expected.rgba.size(), std::size_t(width) * std::size_t(height) * 4);

        const HeifPicture got = ReadHeifFile(path, {});
        ASSERT_EQ(got.pixels->Width(), width);
        ASSERT_EQ(got.pixels->Height(), height);
        ASSERT_EQ(got.alpha.size(), c.alpha ? std::size_t(width * height) : 0);
        // The rows, where the file is handed out as rows, are the same.
        RowReaderOpening opening = OpenHeifRowReader(path, {});
        EXPECT_EQ(opening.whyNot, c.whyNotRows ? c.whyNotRows : "");
        std::vector<std::uint8_t> rows;
        if (opening.reader) {
            ASSERT_EQ(opening.reader->Width(), width);
            ASSERT_EQ(opening.reader->Height(), height);
            EXPECT_TRUE(opening.upright);
            rows.resize(std::size_t(opening.reader->Stride()) * std::size_t(height));
            opening.reader->Read(rows.data(), height);
        }
        int wrong = 0;
        for (int i = 0; i < width * height && wrong < 5; ++i) {
            const std::uint16_t* e = &expected.rgba[std::size_t(i) * 4];
            const auto want = [&](int k) { return Expected8(e[k], expected.bits, c.bits); };
            const std::uint8_t* p = got.pixels->RowAddress(i / width) + 3 * (i % width);
            const std::uint8_t* r =
                rows.empty() ? p : &rows[std::size_t(i / width) * std::size_t(opening.reader->Stride()) +
                                         3 * std::size_t(i % width)];
            if (p[0] == want(2) && p[1] == want(1) && p[2] == want(0) &&
                (c.alpha ? got.alpha[std::size_t(i)] : 255) == want(3) &&
                std::equal(p, p + 3, r))
                continue;
            ADD_FAILURE() << "pixel " << i % width << "," << i / width;
            ++wrong;
        }
    }
}

// The phone's EXIF block from its TIFF header, its Display P3 profile and
// its XMP packet, byte for byte as exiftool extracts them.
TEST_F(HeifReading, MetadataComesAsExiftoolReadsIt) {
    const HeifPicture phone = ReadHeifFile(kPhone, {.withMetadata = true});
    EXPECT_TRUE(phone.warnings.empty());
    const std::string exif = testing::Exiftool(folder_, {"-b", "-EXIF", kPhone});
    ASSERT_GT(exif.size(), 8u);
    EXPECT_EQ(std::string(phone.metadata.exif.begin(), phone.metadata.exif.end()), exif);
    EXPECT_EQ(std::string(phone.metadata.icc.begin(), phone.metadata.icc.end()),
              testing::Exiftool(folder_, {"-b", "-ICC_Profile", kPhone}));
    EXPECT_EQ(phone.metadata.xmp, testing::Exiftool(folder_, {"-b", "-XMP", kPhone}));
    EXPECT_TRUE(ReadHeifFile(kPhone, {}).metadata.Empty());

    // Colours given as numbers: sRGB's pass quietly, BT.2020's are told.
    ASSERT_TRUE(RunTool({"avifenc", "-s", "10", "--cicp", "9/16/9", folder_ / "opaque.png",
                         folder_ / "pq.avif"}));
    EXPECT_EQ(ReadHeifFile(folder_ / "pq.avif", {.withMetadata = true}).warnings,
              std::vector<std::string>{"the colours are described by numbers (primaries 9, "
                                       "transfer 16), which cannot be carried: they are taken "
                                       "as sRGB"});
}

TEST_F(HeifReading, DamagedAndOversizedFilesAreRefusedWithTheirReasons) {
    const Bytes phone = testing::ReadAll(kPhone);
    Bytes garbled = phone;
    // The coded tiles lie at the end; scrambling them leaves the boxes whole.
    for (std::size_t i = garbled.size() - 300000; i < garbled.size() - 1000; i += 7)
        garbled[i] ^= 0x5A;
    // The phone's grid says its rows and columns in its idat box: 7 x 6.
    Bytes tiled = phone;
    const auto idat = std::search(tiled.begin(), tiled.end(), std::begin("idat"), std::end("idat") - 1);
    ASSERT_NE(idat, tiled.end());
    idat[6] = idat[7] = 0xFF;
    const struct {
        const char* name;
        Bytes file;
        std::int64_t storageLimit;
        const char* refusal;  // how it begins; a reason follows
        bool acceptDamaged;
    } cases[] = {
        {"empty", {}, 0, "HEIF: the file is empty", false},
        {"cut", Bytes(phone.begin(), phone.begin() + 200000), 0, "HEIF: ", false},
        {"header only", Bytes(phone.begin(), phone.begin() + 40), 0, "HEIF: ", false},
        {"too large", phone, 2566 * 3313 * 3, "HEIF: picture of 2566 x 3313 pixels is too large",
         false},
        {"garbled", garbled, 0, "HEIF: ", false},
        {"a grid of many tiles", tiled, 0, "HEIF: a grid of 65536 tiles, more than 4096", false},
        // Found by the fuzzer: 870 bytes whose overlay canvas libheif would allocate.
        {"an overlay's canvas", testing::ReadAll(SIGILLON_FUZZ_DIR "/regressions/heif/overlay-canvas"),
         0, "AVIF: an overlay of 26990 x 26213 pixels is too large", false},
        // Tiles libheif cannot decode at all give no picture, damage accepted or not.
        {"garbled, damage accepted", garbled, 0, "HEIF: ", true},
    };
    const std::int64_t limit = StorageLimit();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.storageLimit) SetStorageLimit(c.storageLimit);
        try {
            ReadHeifData({c.file.data(), c.file.size()}, {.acceptDamaged = c.acceptDamaged});
            ADD_FAILURE() << "read";
        } catch (const BitmapError& error) {
            const std::string what = error.what();
            EXPECT_TRUE(what.starts_with(c.refusal) && what.size() > std::strlen("HEIF: ")) << what;
        }
        SetStorageLimit(limit);
    }
}

// What the format table's sniffing does not already try: brands among the
// compatible ones, and boxes that are not, or not whole, ftyp boxes.
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
        {ftyp("mif1", {"heic"}), HeifBrand::Heif},
        {ftyp("mif1", {"miaf", "avif"}), HeifBrand::Avif},
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
