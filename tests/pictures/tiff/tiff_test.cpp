// TIFF files made here with libtiff and converted with tiffcp into every
// layout and compression; the reader must give the samples they were made
// of (libtiff's own RGBA reader is the judge of JPEG-compressed ones), and
// what the writer makes must read back through libtiff and exiftool.
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

constexpr int kWidth = 37, kHeight = 23;  // tiles of 16 end inside the picture

// What the picture is made of.
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
    if (kind.alpha == EXTRASAMPLE_ASSOCALPHA) return kAssociated[x % 3][s];
    return kind.bits == 16 ? kWide[WideAt(x, y, s)] : std::uint32_t(x * 7 + y * 13 + s * 50) & 255;
}

std::array<int, 4> Bgra(int r, int g, int b, int a = 255) { return {b, g, r, a}; }

// What the samples must read as.
std::array<int, 4> Expected(const Kind& kind, int x, int y) {
    const auto v = [&](int s) {
        return kind.bits == 16 ? kWideTo8[WideAt(x, y, s)] : int(Sample(kind, x, y, s));
    };
    const int a = kind.alpha ? v(kind.samples - 1) : 255;
    if (kind.alpha == EXTRASAMPLE_ASSOCALPHA) {
        const int g = std::array{0, 128, 200}[x % 3];
        return Bgra(g, g, g, a);
    }
    if (kind.photometric == PHOTOMETRIC_RGB) return Bgra(v(0), v(1), v(2), a);
    // Colour map entry i is (i, 255 - i, 3i mod 256) in 16 bits.
    if (kind.photometric == PHOTOMETRIC_PALETTE) return Bgra(v(0), 255 - v(0), 3 * v(0) % 256);
    const int g = kind.photometric == PHOTOMETRIC_MINISWHITE ? 255 - v(0) : v(0);
    return Bgra(g, g, g, a);
}

std::vector<std::array<int, 4>> ExpectedPixels(const Kind& kind) {
    std::vector<std::array<int, 4>> pixels;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) pixels.push_back(Expected(kind, x, y));
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
    std::vector<std::uint16_t> map[3];
    for (int i = 0; i < 256; ++i) {
        map[0].push_back(std::uint16_t(i * 257));
        map[1].push_back(std::uint16_t((255 - i) * 257));
        map[2].push_back(std::uint16_t(3 * i % 256 * 257));
    }
    if (kind.photometric == PHOTOMETRIC_PALETTE)
        TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    const int perRow = separate ? 1 : kind.samples;
    std::vector<std::uint8_t> row(std::size_t(kWidth * perRow * kind.bits / 8));
    for (int plane = 0; plane < (separate ? kind.samples : 1); ++plane)
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x)
                for (int k = 0; k < perRow; ++k) {
                    const std::uint32_t v = Sample(kind, x, y, separate ? plane : k);
                    const std::size_t i = std::size_t(x * perRow + k);
                    if (kind.bits == 8) {
                        row[i] = std::uint8_t(v);
                    } else {
                        const std::uint16_t wide = std::uint16_t(v);  // in the machine's order
                        std::memcpy(&row[2 * i], &wide, 2);
                    }
                }
            ASSERT_EQ(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), std::uint16_t(plane)),
                      1);
        }
    TIFFClose(tif);
}

void Tiffcp(const std::string& options, const std::string& from, const std::string& to) {
    ASSERT_EQ(std::system(("tiffcp " + options + " " + from + " " + to + " 2>/dev/null").c_str()),
              0)
        << options;
}

// The pixels and alpha the reader gives, through the format table: row by
// row in bands of 5 when it reads the file so, whole otherwise.
struct Read {
    std::vector<std::array<int, 4>> pixels;
    std::vector<std::string> warnings;
};

Read ReadThroughTable(const std::string& path, ReadSettings settings = {}) {
    const PictureFormat* format = FormatOfName(path);
    std::unique_ptr<PictureRowReader> reader;
    RowReaderOpening opening = format->openRows(path, settings);
    Read read;
    if (opening.reader) {
        reader = std::move(opening.reader);
    } else {
        HeldPicture held = format->readWhole(path, settings);
        read.warnings = held.warnings;
        reader = std::make_unique<HeldRowReader>(std::move(held.pixels), std::move(held.alpha));
    }
    std::vector<std::uint8_t> band(std::size_t(reader->Stride()) * 5);
    while (reader->NextRow() < reader->Height()) {
        const std::int32_t top = reader->NextRow(), count = std::min(5, reader->Height() - top);
        reader->Read(band.data(), count);
        for (std::int32_t k = 0; k < count; ++k)
            for (std::int32_t x = 0; x < reader->Width(); ++x) {
                const std::uint8_t* p = &band[std::size_t(k * reader->Stride() + 3 * x)];
                const auto alpha = reader->Alpha();
                read.pixels.push_back(
                    {p[0], p[1], p[2],
                     alpha.empty() ? 255 : alpha[std::size_t((top + k) * reader->Width() + x)]});
            }
    }
    reader->Finish();
    for (const std::string& w : reader->Warnings()) read.warnings.push_back(w);
    return read;
}

// What libtiff's own RGBA reader makes of a file, as blue-green-red-alpha.
std::vector<std::array<int, 4>> LibtiffRgba(const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    std::uint32_t w = 0, h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    std::vector<std::uint32_t> raster(std::size_t(w) * h);
    EXPECT_TRUE(TIFFReadRGBAImageOriented(tif, w, h, raster.data(), ORIENTATION_TOPLEFT, 0));
    TIFFClose(tif);
    std::vector<std::array<int, 4>> pixels;
    for (std::uint32_t p : raster)
        pixels.push_back({int(TIFFGetB(p)), int(TIFFGetG(p)), int(TIFFGetR(p)), int(TIFFGetA(p))});
    return pixels;
}

class TiffFiles : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return folder_ / name; }
    testing::TempFolder folder_;
};

TEST_F(TiffFiles, EveryLayoutAndCompressionReadsTheSamplesItWasMadeOf) {
    const struct {
        const char* options;  // tiffcp's
        bool separate;        // samples in planes
    } layouts[] = {{"", false},         {"-c lzw", false},
                   {"-c zip", false},   {"-c zip -t -w 16 -l 16", false},
                   {"-c lzw", true},    {"-t -w 16 -l 16", true},
                   {"-B -c lzw", false}};
    for (const Kind& kind : kKinds) {
        for (const auto& layout : layouts) {
            // tiffcp (4.5) garbles 16-bit planes it cuts into tiles.
            if (kind.bits == 16 && layout.separate && std::string(layout.options).find("-t") == 0)
                continue;
            SCOPED_TRACE(std::string(kind.name) + " " + layout.options +
                         (layout.separate ? " separate" : ""));
            MakeTiff(P("source.tif"), kind, layout.separate);
            Tiffcp(layout.options, P("source.tif"), P("copy.tif"));
            const Read read = ReadThroughTable(P("copy.tif"));
            EXPECT_EQ(read.pixels, ExpectedPixels(kind));
            EXPECT_TRUE(read.warnings.empty());
        }
    }
}

TEST_F(TiffFiles, JpegCompressedFilesReadAsLibtiffDecodesThem) {
    for (const char* layout : {"-c jpeg -r 16", "-c jpeg -t -w 16 -l 16", "-c jpeg:r -r 16"}) {
        for (const Kind* kind : {&kKinds[0], &kKinds[2]}) {
            SCOPED_TRACE(std::string(kind->name) + " " + layout);
            MakeTiff(P("source.tif"), *kind);
            Tiffcp(layout, P("source.tif"), P("jpeg.tif"));
            EXPECT_EQ(ReadThroughTable(P("jpeg.tif")).pixels, LibtiffRgba(P("jpeg.tif")));
        }
    }
}

TEST_F(TiffFiles, OnlyTheFirstPageIsReadAndTheOthersAreTold) {
    MakeTiff(P("a.tif"), kKinds[0]);
    MakeTiff(P("b.tif"), kKinds[2]);
    Tiffcp("", P("a.tif") + " " + P("b.tif"), P("pages.tif"));
    const Read read = ReadThroughTable(P("pages.tif"));
    EXPECT_EQ(read.pixels, ReadThroughTable(P("a.tif")).pixels);
    EXPECT_EQ(read.warnings,
              std::vector<std::string>{"TIFF: the file has 2 pages; only the first is read"});
}

// A little-endian grey TIFF of one IFD: each entry {tag, type, value} holds
// its one value inline, strip and tile offsets (given as 0) point past it.
Bytes CraftedTiff(std::vector<std::array<std::uint32_t, 3>> entries) {
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

std::string Refusal(const std::function<void()>& read) {
    try {
        read();
    } catch (const BitmapError& error) {
        return error.what();
    }
    return "(read)";
}

TEST_F(TiffFiles, HeadersAskingForTooMuchAreRefusedBeforeDecoding) {
    const auto grey = [](std::uint32_t w, std::uint32_t h, std::uint32_t bits,
                         std::vector<std::array<std::uint32_t, 3>> layout) {
        layout.insert(layout.begin(), {{TIFFTAG_IMAGEWIDTH, TIFF_LONG, w},
                                       {TIFFTAG_IMAGELENGTH, TIFF_LONG, h},
                                       {TIFFTAG_BITSPERSAMPLE, TIFF_SHORT, bits},
                                       {TIFFTAG_PHOTOMETRIC, TIFF_SHORT, 1}});
        return CraftedTiff(layout);
    };
    const std::array<std::uint32_t, 3> strip[] = {{TIFFTAG_STRIPOFFSETS, TIFF_LONG, 0},
                                                  {TIFFTAG_ROWSPERSTRIP, TIFF_LONG, 60000},
                                                  {TIFFTAG_STRIPBYTECOUNTS, TIFF_LONG, 64}};
    testing::WriteAll(P("wide.tif"), grey(1u << 21, 1, 8, {std::begin(strip), std::end(strip)}));
    testing::WriteAll(P("large.tif"), grey(60000, 60000, 8, {std::begin(strip), std::end(strip)}));
    testing::WriteAll(P("tiled.tif"), grey(65536, 65536, 16,
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
    EXPECT_EQ(Refusal([&] { ReadTiffFile(P("junk.tif"), reading); }).rfind("TIFF: ", 0), 0u);
}

TEST_F(TiffFiles, DamagedStripsAreRefusedOrDecodedAsFarAsTheyGo) {
    MakeTiff(P("source.tif"), kKinds[0]);
    Tiffcp("-c zip -r 4", P("source.tif"), P("damaged.tif"));
    std::uint64_t* offsets = nullptr;
    TIFF* tif = TIFFOpen(P("damaged.tif").c_str(), "r");
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets));
    const std::size_t third = std::size_t(offsets[2]);  // rows 9 to 12
    TIFFClose(tif);
    Bytes file = testing::ReadAll(P("damaged.tif"));
    file[third] = file[third + 1] = 0xFF;  // no zlib header
    testing::WriteAll(P("damaged.tif"), file);

    const std::string refusal = Refusal([&] { ReadThroughTable(P("damaged.tif")); });
    EXPECT_EQ(refusal.rfind("TIFF: ZIPDecode: ", 0), 0u) << refusal;
    EXPECT_NE(refusal.find("(row 9 of 23)"), std::string::npos) << refusal;

    ReadSettings accept;
    accept.acceptDamaged = true;
    const Read read = ReadThroughTable(P("damaged.tif"), accept);
    ASSERT_EQ(read.warnings.size(), 1u);
    EXPECT_EQ(
        read.warnings[0].rfind("TIFF: the picture data is damaged from row 9 on (ZIPDecode: ", 0),
        0u)
        << read.warnings[0];
    for (int x = 0; x < kWidth; ++x) {
        EXPECT_EQ(read.pixels[std::size_t(7 * kWidth + x)], Expected(kKinds[0], x, 7));
        EXPECT_EQ(read.pixels[std::size_t(13 * kWidth + x)], Expected(kKinds[0], x, 13));
    }
}

// What the fuzzer found, damage accepted: read whole and row by row, the
// same rows, fill bytes included, or the same refusal.
TEST_F(TiffFiles, FuzzFindingsReadTheSameWholeAndRowByRow) {
    const auto rowsOrRefusal = [](const std::function<void(std::string&)>& read) {
        std::string rows;
        try {
            read(rows);
        } catch (const BitmapError& error) {
            return std::string(error.what());
        }
        return rows;
    };
    for (const auto& entry :
         std::filesystem::directory_iterator(SIGILLON_FUZZ_DIR "/regressions/tiff")) {
        const std::string path = entry.path();
        const TiffReading reading{true, true};
        const std::string whole = rowsOrRefusal([&](std::string& rows) {
            const HeldPicture held = ReadTiffFile(path, reading);
            for (std::int32_t y = 0; y < held.pixels->Height(); ++y)
                rows.append(reinterpret_cast<const char*>(held.pixels->RowAddress(y)),
                            std::size_t(held.pixels->Stride()));
        });
        EXPECT_TRUE(whole == rowsOrRefusal([&](std::string& rows) {
                        const std::unique_ptr<PictureRowReader> reader =
                            OpenTiffRowReader(path, reading).reader;
                        for (std::string row(std::size_t(reader->Stride()), 0);
                             reader->NextRow() < reader->Height(); rows += row)
                            reader->Read(reinterpret_cast<std::uint8_t*>(row.data()), 1);
                    }))
            << path;
    }
}

// Writes what the format table reads from `from` to `to` through the
// table, the metadata and alpha with it.
std::vector<std::string> Convert(const std::string& from, const std::string& to) {
    ReadSettings settings;
    settings.withMetadata = true;
    HeldPicture held = FormatOfName(from)->readWhole(from, settings);
    WriteSettings write;
    write.metadata = &held.metadata;
    write.alpha = held.alpha;
    std::vector<std::string> warnings;
    const PictureFormat* format = FormatOfName(to);
    std::unique_ptr<PictureRowWriter> writer =
        format->createRowWriter(to, held.pixels->Image(), write, warnings);
    std::vector<std::uint8_t> row(std::size_t(held.pixels->Stride()));
    for (std::int32_t y = 0; y < held.pixels->Height(); ++y) {
        const std::uint8_t* source = held.pixels->RowAddress(y);
        std::copy_n(source, row.size(), row.begin());
        if (!format->keepsAlpha && !held.alpha.empty())
            LayRowOverWhite(row.data(),
                            &held.alpha[std::size_t(y) * std::size_t(held.pixels->Width())],
                            held.pixels->Width());
        writer->Write(row.data(), 1);
    }
    writer->Finish();
    return warnings;
}

TEST_F(TiffFiles, WrittenFilesHoldTheSamplesAndAlphaAndDecodeWithTiffinfo) {
    for (const Kind* kind : {&kKinds[0], &kKinds[6]}) {
        SCOPED_TRACE(kind->name);
        MakeTiff(P("source.tif"), *kind);
        EXPECT_TRUE(Convert(P("source.tif"), P("out.tif")).empty());
        const testing::ProcessRun info = testing::RunProcess({"tiffinfo", "-D", P("out.tif")});
        EXPECT_EQ(info.status, 0);
        EXPECT_EQ(info.err, "");
        EXPECT_NE(info.out.find("Compression Scheme: AdobeDeflate"), std::string::npos) << info.out;
        EXPECT_EQ(ReadThroughTable(P("out.tif")).pixels, ExpectedPixels(*kind));
    }
}

TEST_F(TiffFiles, ExifXmpIptcAndIccGoFromTiffToTiffAndJpeg) {
    MakeTiff(P("source.tif"), kKinds[0]);
    const std::string tags[] = {"-Make=Sigil Optics",
                                "-Model=M1",
                                "-DateTimeOriginal=2024:01:02 03:04:05",
                                "-GPSLatitude=48.5",
                                "-GPSLatitudeRef=N",
                                "-XMP-dc:Title=Harbour",
                                "-IPTC:Keywords=quay",
                                "-ICC_Profile<=/usr/share/color/icc/sRGB.icc"};
    for (const char* order : {"", "-B"}) {
        Tiffcp(order, P("source.tif"), P("ordered.tif"));
        std::vector<std::string> argv = {SIGILLON_EXIFTOOL, "-q", "-overwrite_original"};
        argv.insert(argv.end(), std::begin(tags), std::end(tags));
        argv.push_back(P("ordered.tif"));
        ASSERT_EQ(testing::RunProcess(argv).status, 0);
        for (const char* output : {"out.tif", "out.jpg"}) {
            SCOPED_TRACE(std::string(order) + " " + output);
            std::filesystem::remove(P(output));
            EXPECT_TRUE(Convert(P("ordered.tif"), P(output)).empty());
            const testing::ProcessRun tags =
                testing::RunProcess({SIGILLON_EXIFTOOL, "-s3", "-f", "-Make", "-Model",
                                     "-DateTimeOriginal", "-GPSLatitude#", "-XMP-dc:Title",
                                     "-IPTC:Keywords", "-ProfileDescription", P(output)});
            EXPECT_EQ(tags.out,
                      "Sigil Optics\nM1\n2024:01:02 03:04:05\n48.5\nHarbour\nquay\nsRGB\n");
        }
    }
}

}  // namespace
}  // namespace sigillon
