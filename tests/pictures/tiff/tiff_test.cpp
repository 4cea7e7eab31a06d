// TIFF files made here with libtiff and converted with tiffcp into every
// layout and compression read as they were made (libtiff's own RGBA reader
// judges JPEG-compressed ones); what the writer makes reads back through
// libtiff and exiftool.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <functional>

#include "pictures/formats.h"
#include "pictures/rows/held_rows.h"
#include "pictures/tiff/tiff_file.h"
#include "tests/support/files_test_support.h"
#include "tests/support/process.h"

namespace sigillon {
namespace {

using testing::Bytes;
using Pixels = std::vector<std::array<int, 4>>;  // blue, green, red, alpha

constexpr int kWidth = 37, kHeight = 23;  // tiles of 16 end inside the picture

struct Kind {
    const char* name;
    int bits, samples;
    std::uint16_t photometric;
    std::uint16_t alpha;  // EXTRASAMPLE_*, or 0 for none
};

const Kind kKinds[] = {
    {"rgb8", 8, 3, PHOTOMETRIC_RGB, 0},
    {"rgb16", 16, 3, PHOTOMETRIC_RGB, 0},
    {"grey8", 8, 1, PHOTOMETRIC_MINISBLACK, 0},
    {"white-is-zero8", 8, 1, PHOTOMETRIC_MINISWHITE, 0},
    {"grey16", 16, 1, PHOTOMETRIC_MINISBLACK, 0},
    {"palette8", 8, 1, PHOTOMETRIC_PALETTE, 0},
    {"rgba8", 8, 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA},
    {"grey-associated-alpha8", 8, 2, PHOTOMETRIC_MINISBLACK, EXTRASAMPLE_ASSOCALPHA},
};

// 16-bit values where rounding and cutting differ: 0x0081 -> 1 (cut: 0),
// 0xFF00 -> 254 (cut: 255).
constexpr std::uint32_t kWide[] = {0x0000, 0x0081, 0xFF00, 0xFFFF, 0x1234, 0x8000};
constexpr int kWideTo8[] = {0, 1, 254, 255, 18, 128};
// Premultiplied grey and alpha: grey 64 at alpha 128 is 128 again; alpha 0 is black.
constexpr std::uint32_t kAssociated[3][2] = {{0, 0}, {64, 128}, {200, 255}};

std::size_t WideAt(int x, int y, int s) { return std::size_t(x + 2 * y + s) % 6; }

std::uint32_t Sample(const Kind& kind, int x, int y, int s) {
    if (kind.alpha == EXTRASAMPLE_ASSOCALPHA) return kAssociated[x % 3][s % 2];  // grey, alpha
    return kind.bits == 16 ? kWide[WideAt(x, y, s)] : std::uint32_t(x * 7 + y * 13 + s * 50) & 255;
}

// What the samples must read as; colour map entry i is (i, 255 - i, 3i mod 256).
Pixels ExpectedPixels(const Kind& kind) {
    Pixels pixels;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const auto v = [&](int s) {
                return kind.bits == 16 ? kWideTo8[WideAt(x, y, s)] : int(Sample(kind, x, y, s));
            };
            const int a = kind.alpha ? v(kind.samples - 1) : 255;
            int g = kind.alpha == EXTRASAMPLE_ASSOCALPHA ? std::array{0, 128, 200}[x % 3] : v(0);
            if (kind.photometric == PHOTOMETRIC_MINISWHITE) g = 255 - g;
            if (kind.photometric == PHOTOMETRIC_RGB)
                pixels.push_back({v(2), v(1), v(0), a});
            else if (kind.photometric == PHOTOMETRIC_PALETTE)
                pixels.push_back({3 * g % 256, 255 - g, g, 255});
            else
                pixels.push_back({g, g, g, a});
        }
    return pixels;
}

// Samples together, or each in its plane (which tiffcp makes only of 8-bit
// files).
void MakeTiff(const std::string& path, const Kind& kind, bool separate = false) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, kWidth);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, kHeight);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, kind.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, kind.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, kind.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 4);
    if (kind.alpha) TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind.alpha);
    std::uint16_t map[3][256];
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c)
            map[c][i] = std::uint16_t(std::array{i, 255 - i, 3 * i % 256}[c] * 257);
    if (kind.photometric == PHOTOMETRIC_PALETTE)
        TIFFSetField(tif, TIFFTAG_COLORMAP, map[0], map[1], map[2]);
    const int perRow = separate ? 1 : kind.samples;
    std::vector<std::uint8_t> row(std::size_t(kWidth * perRow * kind.bits / 8));
    for (int plane = 0; plane < (separate ? kind.samples : 1); ++plane)
        for (int y = 0; y < kHeight; ++y) {
            for (int i = 0; i < kWidth * perRow; ++i) {
                const auto v = std::uint16_t(Sample(kind, i / perRow, y, separate ? plane : i % perRow));
                if (kind.bits == 8)
                    row[std::size_t(i)] = std::uint8_t(v);
                else
                    std::memcpy(&row[2 * std::size_t(i)], &v, 2);  // in the machine's order
            }
            ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), std::uint16_t(plane)),
                      1);
        }
    TIFFClose(tif);
}

void Tiffcp(const std::string& options, const std::string& from, const std::string& to) {
    const std::string command = "tiffcp " + options + " " + from + " " + to + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << options;
}

// What the format table gives: row by row in bands of 5 when it reads the
// file so, held whole otherwise.
struct Read {
    Pixels pixels;
    std::vector<std::string> warnings;
};

Read ReadThroughTable(const std::string& path, ReadSettings settings = {}) {
    const PictureFormat* format = FormatOfName(path);
    Read read;
    std::unique_ptr<PictureRowReader> reader = format->openRows(path, settings).reader;
    if (!reader) {
        HeldPicture held = format->readWhole(path, settings);
        read.warnings = held.warnings;
        reader = std::make_unique<HeldRowReader>(std::move(held.pixels), std::move(held.alpha));
    }
    const std::int32_t width = reader->Width();
    std::vector<std::uint8_t> band(std::size_t(reader->Stride()) * 5);
    for (std::int32_t top; (top = reader->NextRow()) < reader->Height();) {
        const std::int32_t count = std::min(5, reader->Height() - top);
        reader->Read(band.data(), count);
        for (std::int32_t i = 0; i < count * width; ++i) {
            const std::uint8_t* p = &band[std::size_t(i / width * reader->Stride() + i % width * 3)];
            const auto alpha = reader->Alpha();
            read.pixels.push_back(
                {p[0], p[1], p[2], alpha.empty() ? 255 : alpha[std::size_t(top * width + i)]});
        }
    }
    reader->Finish();
    for (const std::string& w : reader->Warnings()) read.warnings.push_back(w);
    return read;
}

Pixels LibtiffRgba(const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    std::vector<std::uint32_t> raster(std::size_t(kWidth) * kHeight);
    EXPECT_TRUE(TIFFReadRGBAImageOriented(tif, kWidth, kHeight, raster.data(), ORIENTATION_TOPLEFT));
    TIFFClose(tif);
    Pixels pixels;
    for (std::uint32_t p : raster)
        pixels.push_back({int(TIFFGetB(p)), int(TIFFGetG(p)), int(TIFFGetR(p)), int(TIFFGetA(p))});
    return pixels;
}

std::string Refusal(const std::function<void()>& read) {
    try {
        read();
    } catch (const BitmapError& error) {
        return error.what();
    }
    return "(read)";
}

class TiffFiles : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return folder_ / name; }
    testing::TempFolder folder_;
};

TEST_F(TiffFiles, EveryLayoutAndCompressionReadsAsMadeOrAsLibtiffDecodesIt) {
    const struct {
        const char* options;  // tiffcp's
        bool separate;        // samples in planes
    } layouts[] = {{"", false},        {"-c lzw", false},        {"-c zip", false},
                   {"-c lzw", true},   {"-t -w 16 -l 16", true}, {"-c zip -t -w 16 -l 16", false},
                   {"-B -c lzw", false}, {"-c jpeg -r 16", false}, {"-c jpeg:r -r 16", false},
                   {"-c jpeg -t -w 16 -l 16", false}};
    for (const Kind& kind : kKinds)
        for (const auto& layout : layouts) {
            const std::string options = layout.options;
            const bool jpeg = options.starts_with("-c jpeg");
            // tiffcp (4.5) garbles 16-bit planes it cuts into tiles; JPEG takes 8-bit RGB and grey.
            if ((kind.bits == 16 && layout.separate && options.starts_with("-t")) ||
                (jpeg && &kind != &kKinds[0] && &kind != &kKinds[2]))
                continue;
            SCOPED_TRACE(kind.name + (" " + options) + (layout.separate ? " separate" : ""));
            MakeTiff(P("source.tif"), kind, layout.separate);
            Tiffcp(options, P("source.tif"), P("copy.tif"));
            const Read read = ReadThroughTable(P("copy.tif"));
            EXPECT_EQ(read.pixels, jpeg ? LibtiffRgba(P("copy.tif")) : ExpectedPixels(kind));
            EXPECT_TRUE(read.warnings.empty());
        }
}

TEST_F(TiffFiles, OnlyTheFirstPageIsReadAndTheOthersAreTold) {
    MakeTiff(P("a.tif"), kKinds[0]);
    MakeTiff(P("b.tif"), kKinds[2]);
    Tiffcp("", P("a.tif") + " " + P("b.tif"), P("pages.tif"));
    const Read read = ReadThroughTable(P("pages.tif"));
    EXPECT_EQ(read.pixels, ExpectedPixels(kKinds[0]));
    EXPECT_EQ(read.warnings,
              std::vector<std::string>{"TIFF: the file has 2 pages; only the first is read"});
}

// A little-endian grey TIFF of one IFD: each entry {tag, type, value} holds
// its one value inline, strip and tile offsets (given as 0) point past it.
Bytes GreyTiff(std::uint32_t w, std::uint32_t h, std::uint32_t bits,
               std::vector<std::array<std::uint32_t, 3>> entries) {
    entries.insert(entries.begin(), {{TIFFTAG_IMAGEWIDTH, TIFF_LONG, w},
                                     {TIFFTAG_IMAGELENGTH, TIFF_LONG, h},
                                     {TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, bits},
                                     {TIFFTAG_PHOTOMETRIC, TIFF_SHORT, 1}});
    Bytes file = {'I', 'I', 42, 0, 8, 0, 0, 0};
    file.resize(8 + 2 + 12 * entries.size() + 4 + 64, 0);
    testing::Put16(file, 8, std::uint32_t(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto [tag, type, value] = entries[i];
        testing::Put16(file, 10 + 12 * i, tag);
        testing::Put16(file, 12 + 12 * i, type);
        testing::Put32(file, 14 + 12 * i, 1);
        const bool offset = tag == TIFFTAG_STRIPOFFSETS || tag == TIFFTAG_TILEOFFSETS;
        (type == TIFF_SHORT ? testing::Put16 : testing::Put32)(
            file, 18 + 12 * i, offset ? std::uint32_t(file.size() - 64) : value);
    }
    return file;
}

TEST_F(TiffFiles, HeadersAskingForTooMuchAreRefusedBeforeDecoding) {
    const std::vector<std::array<std::uint32_t, 3>> strip = {
        {TIFFTAG_STRIPOFFSETS, TIFF_LONG, 0},
        {TIFFTAG_ROWSPERSTRIP, TIFF_LONG, 60000},
        {TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, 64}};
    testing::WriteAll(P("wide.tif"), GreyTiff(1u << 21, 1, 8, strip));
    testing::WriteAll(P("large.tif"), GreyTiff(60000, 60000, 8, strip));
    testing::WriteAll(P("tiled.tif"), GreyTiff(65536, 65536, 16,
                                               {{TIFFTAG_TILEWIDTH, TIFF_LONG, 65536},
                                                {TIFFTAG_TILELENGTH, TIFF_LONG, 65536},
                                                {TIFFTAG_TILEOFFSETS, TIFF_LONG, 0},
                                                {TIFFTAG_TILEBYTECOUNTS, TIFF_LONG, 64}}));
    testing::WriteAll(P("junk.tif"), Bytes{'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3});
    const TiffReading reading;
    EXPECT_EQ(Refusal([&] { OpenTiffRowReader(P("wide.tif"), reading); }),
              "TIFF: a picture of 2097152 x 1 has a side longer than 1048576");
    EXPECT_EQ(Refusal([&] { ReadTiffFile(P("tiled.tif"), reading); }),
              "TIFF: decoding takes 17179869184 bytes at once, more than 2147483647 bytes");
    // Row by row it costs a row; whole it does not fit.
    EXPECT_EQ(Refusal([&] { OpenTiffRowReader(P("large.tif"), reading); }), "(read)");
    EXPECT_EQ(Refusal([&] { ReadTiffFile(P("large.tif"), reading); }),
              "TIFF: a picture of 60000 x 60000 is too large to hold");
    EXPECT_TRUE(Refusal([&] { ReadTiffFile(P("junk.tif"), reading); }).starts_with("TIFF: "));
}

TEST_F(TiffFiles, DamagedStripsAreRefusedOrDecodedAsFarAsTheyGo) {
    MakeTiff(P("source.tif"), kKinds[0]);
    Tiffcp("-c zip -r 4", P("source.tif"), P("damaged.tif"));
    TIFF* tif = TIFFOpen(P("damaged.tif").c_str(), "r");
    const std::size_t third = std::size_t(TIFFGetStrileOffset(tif, 2));  // rows 9 to 12
    TIFFClose(tif);
    Bytes file = testing::ReadAll(P("damaged.tif"));
    file[third] = file[third + 1] = 0xFF;  // no zlib header
    testing::WriteAll(P("damaged.tif"), file);

    const std::string refusal = Refusal([&] { ReadThroughTable(P("damaged.tif")); });
    EXPECT_TRUE(refusal.starts_with("TIFF: ZIPDecode: ") && refusal.ends_with("(row 9 of 23)"))
        << refusal;
    ReadSettings accept;
    accept.acceptDamaged = true;
    const Read read = ReadThroughTable(P("damaged.tif"), accept);
    ASSERT_EQ(read.warnings.size(), 1u);
    EXPECT_TRUE(read.warnings[0].starts_with(
        "TIFF: the picture data is damaged from row 9 on (ZIPDecode: "))
        << read.warnings[0];
    const Pixels made = ExpectedPixels(kKinds[0]);
    ASSERT_EQ(read.pixels.size(), made.size());
    for (std::size_t row : {7, 13})
        EXPECT_TRUE(std::equal(made.begin() + row * kWidth, made.begin() + (row + 1) * kWidth,
                               read.pixels.begin() + row * kWidth)) << row;
}

// What the fuzzer found, damage accepted: read whole and row by row, the
// same rows, the fill bytes after the pixels included, or the same refusal.
TEST_F(TiffFiles, FuzzFindingsReadTheSameWholeAndRowByRow) {
    const TiffReading reading{true, true};
    for (const auto& file : std::filesystem::directory_iterator(SIGILLON_FUZZ_DIR "/regressions/tiff")) {
        std::string whole, rows;
        const std::string refusal = Refusal([&] {
            const HeldPicture held = ReadTiffFile(file.path(), reading);
            for (std::int32_t y = 0; y < held.pixels->Height(); ++y)
                whole.append(reinterpret_cast<const char*>(held.pixels->RowAddress(y)),
                             std::size_t(held.pixels->Stride()));
        });
        EXPECT_EQ(Refusal([&] {
                      const auto reader = OpenTiffRowReader(file.path(), reading).reader;
                      std::string row(std::size_t(reader->Stride()), 0);
                      for (; reader->NextRow() < reader->Height(); rows += row)
                          reader->Read(reinterpret_cast<std::uint8_t*>(row.data()), 1);
                  }),
                  refusal) << file;
        EXPECT_TRUE(refusal != "(read)" || whole == rows) << file;
    }
}

// Writes what the format table reads from `from` to `to`, the metadata and
// the alpha (where the format keeps it) with it.
std::vector<std::string> Convert(const std::string& from, const std::string& to) {
    ReadSettings settings;
    settings.withMetadata = true;
    HeldPicture held = FormatOfName(from)->readWhole(from, settings);
    WriteSettings write;
    write.metadata = &held.metadata;
    if (FormatOfName(to)->keepsAlpha) write.alpha = held.alpha;
    std::vector<std::string> warnings;
    const auto writer =
        FormatOfName(to)->createRowWriter(to, held.pixels->Image(), write, warnings);
    for (std::int32_t y = 0; y < held.pixels->Height(); ++y)
        writer->Write(held.pixels->RowAddress(y), 1);
    writer->Finish();
    return warnings;
}

TEST_F(TiffFiles, WrittenFilesDecodeWithTiffinfoAndCarryExifXmpIptcAndIcc) {
    const std::string tags[] = {"-Make=Sigil Optics",   "-Model=M1",
                                "-DateTimeOriginal=2024:01:02 03:04:05",
                                "-GPSLatitude=48.5",    "-GPSLatitudeRef=N",
                                "-XMP-dc:Title=Harbour", "-IPTC:Keywords=quay",
                                "-ICC_Profile<=/usr/share/color/icc/sRGB.icc"};
    for (const auto& [kind, order] : {std::pair{&kKinds[0], ""}, std::pair{&kKinds[6], "-B"}}) {
        MakeTiff(P("source.tif"), *kind);
        Tiffcp(order, P("source.tif"), P("ordered.tif"));
        std::vector<std::string> argv = {SIGILLON_EXIFTOOL, "-q", "-overwrite_original"};
        argv.insert(argv.end(), std::begin(tags), std::end(tags));
        argv.push_back(P("ordered.tif"));
        ASSERT_EQ(testing::RunProcess(argv).status, 0);
        for (const char* output : {"out.tif", "out.jpg"}) {
            SCOPED_TRACE(std::string(kind->name) + " " + order + " " + output);
            std::filesystem::remove(P(output));
            EXPECT_TRUE(Convert(P("ordered.tif"), P(output)).empty());
            const testing::ProcessRun read = testing::RunProcess(
                {SIGILLON_EXIFTOOL, "-s3", "-f", "-Make", "-Model", "-DateTimeOriginal",
                 "-GPSLatitude#", "-XMP-dc:Title", "-IPTC:Keywords", "-ProfileDescription",
                 P(output)});
            EXPECT_EQ(read.out, "Sigil Optics\nM1\n2024:01:02 03:04:05\n48.5\nHarbour\nquay\nsRGB\n");
        }
        const testing::ProcessRun info = testing::RunProcess({"tiffinfo", "-D", P("out.tif")});
        EXPECT_TRUE(info.status == 0 && info.err.empty()) << info.err;
        EXPECT_NE(info.out.find("Compression Scheme: AdobeDeflate"), std::string::npos) << info.out;
        EXPECT_EQ(ReadThroughTable(P("out.tif")).pixels, ExpectedPixels(*kind));
    }
}

}  // namespace
}  // namespace sigillon
