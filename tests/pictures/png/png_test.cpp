#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <functional>
#include <map>

#include "pictures/png/png_file.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

using testing::Bytes;
using testing::RandomBytes;

// ---- PNG files built here with zlib, independently of the code under test ----

void Append32(Bytes& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(std::uint8_t(v >> shift));
}

void AddChunk(Bytes& file, const std::string& type, const Bytes& data) {
    Append32(file, std::uint32_t(data.size()));
    Bytes body(type.begin(), type.end());
    body.insert(body.end(), data.begin(), data.end());
    file.insert(file.end(), body.begin(), body.end());
    Append32(file, std::uint32_t(crc32(0, body.data(), uInt(body.size()))));
}

Bytes Zlib(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, raw.data(), uLong(raw.size()), 9), Z_OK);
    out.resize(size);
    return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct PngFields {
    std::uint32_t width = 11, height = 7;  // odd sizes: partial bytes, short passes
    int depth = 8;
    int colourType = 2;
    bool interlaced = false;
    std::function<unsigned(int x, int y, int c)> sample = [](int, int, int) { return 0u; };
    std::vector<std::pair<std::string, Bytes>> before;  // chunks between IHDR and IDAT
    std::vector<std::pair<std::string, Bytes>> after;   // chunks between IDAT and IEND
    std::optional<Bytes> idat;                          // instead of the samples
};

int Channels(int colourType) { return std::array{1, 0, 3, 1, 2, 0, 4}[std::size_t(colourType)]; }

constexpr int kPassX[7] = {0, 4, 0, 2, 0, 1, 0}, kPassY[7] = {0, 0, 4, 0, 2, 0, 1};
constexpr int kStepX[7] = {8, 8, 4, 4, 2, 2, 1}, kStepY[7] = {8, 8, 8, 4, 4, 2, 2};

// Unfiltered scanlines, samples packed from the high bit, 16 bits big-endian.
Bytes Scanlines(const PngFields& s) {
    Bytes raw;
    const int w = int(s.width), h = int(s.height);
    for (int p = s.interlaced ? 0 : 6; p < 7; ++p) {
        const int x0 = s.interlaced ? kPassX[p] : 0, y0 = s.interlaced ? kPassY[p] : 0;
        const int dx = s.interlaced ? kStepX[p] : 1, dy = s.interlaced ? kStepY[p] : 1;
        if (x0 >= w) continue;
        for (int y = y0; y < h; y += dy) {
            raw.push_back(0);
            unsigned bits = 0, used = 0;
            for (int x = x0; x < w; x += dx) {
                for (int c = 0; c < Channels(s.colourType); ++c) {
                    unsigned v = s.sample(x, y, c);
                    if (s.depth == 16) {
                        raw.push_back(std::uint8_t(v >> 8));
                        raw.push_back(std::uint8_t(v));
                    } else {
                        bits = bits << s.depth | v;
                        used += unsigned(s.depth);
                        if (used == 8) raw.push_back(std::uint8_t(bits)), bits = used = 0;
                    }
                }
            }
            if (used) raw.push_back(std::uint8_t(bits << (8 - used)));
        }
    }
    return raw;
}

Bytes BuildPng(const PngFields& s) {
    Bytes file = {137, 'P', 'N', 'G', '\r', '\n', 26, '\n'};
    Bytes ihdr;
    Append32(ihdr, s.width);
    Append32(ihdr, s.height);
    ihdr.insert(ihdr.end(), {std::uint8_t(s.depth), std::uint8_t(s.colourType), 0, 0,
                             std::uint8_t(s.interlaced)});
    AddChunk(file, "IHDR", ihdr);
    for (const auto& [type, data] : s.before) AddChunk(file, type, data);
    AddChunk(file, "IDAT", s.idat ? *s.idat : Zlib(Scanlines(s)));
    for (const auto& [type, data] : s.after) AddChunk(file, type, data);
    AddChunk(file, "IEND", {});
    return file;
}

// 16-bit samples and the 8-bit levels they round to, worked out by hand
// (cutting the low byte would give 0, 0, 0, 1 for the first four).
const std::map<unsigned, int> kSixteenBit = {{0x0081, 1},   {0x00FF, 1},   {0x0080, 0}, {0x01FF, 2},
                                             {0x8080, 128}, {0xFFFF, 255}, {0x0000, 0}};

unsigned SixteenBitSample(int i) {
    auto it = kSixteenBit.begin();
    std::advance(it, i % int(kSixteenBit.size()));
    return it->first;
}

// The 8-bit level of a sample: PNG scales 1-, 2- and 4-bit samples by
// 255, 85 and 17 exactly.
int Level(unsigned v, int depth) {
    return depth == 16 ? kSixteenBit.at(v) : int(v) * 255 / ((1 << depth) - 1);
}

TColor PaletteColour(int i) {
    return RGBColor(std::uint8_t(i * 37 + 11), std::uint8_t(i * 91 + 7),
                    std::uint8_t(255 - i * 29));
}

int PaletteAlpha(int i) { return (i * 53 + 1) % 256; }

struct Format {
    int colourType;
    int depth;
    bool trns;
};

// The file of a format, and the blue, green, red, alpha it must read as.
struct Expected {
    Bytes file;
    std::function<std::array<int, 4>(int x, int y)> bgra;
    bool hasAlpha;
};

Expected Make(const Format& f, bool interlaced) {
    PngFields s;
    s.depth = f.depth;
    s.colourType = f.colourType;
    s.interlaced = interlaced;
    const int depth = f.depth;
    s.sample = [depth](int x, int y, int c) {
        return depth == 16 ? SixteenBitSample(x + 2 * y + c)
                           : unsigned(x * 5 + y * 3 + c * 7) % (1u << depth);
    };
    auto raw = s.sample;
    const int entries = 1 << std::min(depth, 8);
    const int alphaEntries = entries / 2 + 1;  // the rest are opaque
    if (f.colourType == 3) {
        Bytes plte;
        for (int i = 0; i < entries; ++i)
            plte.insert(plte.end(), {RedOf(PaletteColour(i)), GreenOf(PaletteColour(i)),
                                     BlueOf(PaletteColour(i))});
        s.before.push_back({"PLTE", plte});
    }
    if (f.trns) {
        Bytes trns;
        if (f.colourType == 3) {
            for (int i = 0; i < alphaEntries; ++i) trns.push_back(std::uint8_t(PaletteAlpha(i)));
        } else {
            // The colour of pixel (0, 0) is the transparent one.
            for (int c = 0; c < Channels(f.colourType); ++c)
                trns.insert(trns.end(),
                            {std::uint8_t(raw(0, 0, c) >> 8), std::uint8_t(raw(0, 0, c))});
        }
        s.before.push_back({"tRNS", trns});
    }
    const Format fmt = f;
    Expected e{BuildPng(s), {}, f.trns || f.colourType == 4 || f.colourType == 6};
    e.bgra = [fmt, raw, alphaEntries](int x, int y) -> std::array<int, 4> {
        auto level = [&](int c) { return Level(raw(x, y, c), fmt.depth); };
        switch (fmt.colourType) {
            case 3: {
                int i = int(raw(x, y, 0));
                TColor c = PaletteColour(i);
                int a = fmt.trns && i < alphaEntries ? PaletteAlpha(i) : 255;
                return {BlueOf(c), GreenOf(c), RedOf(c), a};
            }
            case 0:
            case 4: {
                bool key = fmt.trns && raw(x, y, 0) == raw(0, 0, 0);
                return {level(0), level(0), level(0),
                        fmt.colourType == 4 ? level(1)
                        : key               ? 0
                                            : 255};
            }
            default: {
                bool key = fmt.trns && raw(x, y, 0) == raw(0, 0, 0) &&
                           raw(x, y, 1) == raw(0, 0, 1) && raw(x, y, 2) == raw(0, 0, 2);
                return {level(2), level(1), level(0),
                        fmt.colourType == 6 ? level(3)
                        : key               ? 0
                                            : 255};
            }
        }
    };
    return e;
}

// ---- Reading ----

TEST(PngRead, EveryColourTypeAndBitDepthPlainOrInterlacedGivesItsKnownPixels) {
    const Format formats[] = {
        {0, 1, false},
        {0, 2, false},
        {0, 4, false},
        {0, 8, false},
        {0, 16, false},
        {2, 8, false},
        {2, 16, false},
        {3, 1, false},
        {3, 2, false},
        {3, 4, false},
        {3, 8, false},
        {4, 8, false},
        {4, 16, false},
        {6, 8, false},
        {6, 16, false},
        // Transparency from tRNS: a gray level, a colour, palette opacities.
        {0, 4, true},
        {0, 16, true},
        {2, 8, true},
        {2, 16, true},
        {3, 2, true},
        {3, 8, true},
    };
    for (const Format& f : formats) {
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE("colour type " + std::to_string(f.colourType) + ", " +
                         std::to_string(f.depth) + " bits" + (f.trns ? ", tRNS" : "") +
                         (interlaced ? ", interlaced" : ""));
            const Expected e = Make(f, interlaced);
            const PngPicture png = ReadPngData(e.file.data(), e.file.size());
            ASSERT_EQ(png.pixels->GetDepth(), Depth24);
            ASSERT_EQ(png.pixels->Width(), 11);
            ASSERT_EQ(png.pixels->Height(), 7);
            ASSERT_EQ(png.alpha.size(), e.hasAlpha ? 77u : 0u);
            for (int y = 0; y < 7; ++y) {
                const std::uint8_t* row = png.pixels->RowAddress(y);
                for (int x = 0; x < 11; ++x) {
                    const std::array<int, 4> want = e.bgra(x, y);
                    const std::array<int, 4> got = {
                        row[3 * x], row[3 * x + 1], row[3 * x + 2],
                        e.hasAlpha ? png.alpha[std::size_t(y * 11 + x)] : 255};
                    ASSERT_EQ(got, want) << "pixel " << x << ", " << y;
                }
                for (int i = 33; i < png.pixels->Stride(); ++i) EXPECT_EQ(row[i], 0) << "fill byte";
            }
            EXPECT_TRUE(png.metadata.Empty());
        }
    }
}

TEST(PngRead, MetadataIsTakenByteForByteFromBeforeAndAfterTheImageData) {
    const Bytes icc = RandomBytes(3000, 1);
    const Bytes exif = Concat(Text("MM"), Concat({0, 42}, RandomBytes(500, 2)));
    const std::string xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\xC3\xA9</x:xmpmeta>";
    auto itxt = [&](const std::string& keyword, bool compressed) {
        Bytes b = Concat(Text(keyword), {0, std::uint8_t(compressed), 0, 0, 0});
        return Concat(b, compressed ? Zlib(Text(xmp)) : Text(xmp));
    };
    for (bool late : {false, true}) {
        SCOPED_TRACE(late ? "after the image data" : "before it");
        PngFields s;
        s.before.push_back({"iCCP", Concat(Text("Camera RGB"), Concat({0, 0}, Zlib(icc)))});
        auto& where = late ? s.after : s.before;
        where.push_back({"tEXt", Concat(Text("XML:com.adobe.xmp"), Concat({0}, Text("not this")))});
        where.push_back({"iTXt", itxt("Comment", false)});
        where.push_back({"iTXt", itxt("XML:com.adobe.xmp", late)});
        where.push_back({"eXIf", exif});
        const Bytes file = BuildPng(s);
        const PngPicture png = ReadPngData(file.data(), file.size());
        EXPECT_EQ(png.metadata.icc, icc);
        EXPECT_EQ(png.metadata.exif, exif);
        EXPECT_EQ(png.metadata.xmp, xmp);
    }
}

// ---- Refusals ----

struct Hostile {
    const char* name;
    Bytes file;
    const char* reason;
};

Bytes ZlibOfZeros(std::size_t count) {
    z_stream z{};
    EXPECT_EQ(deflateInit(&z, 9), Z_OK);
    Bytes zeros(1 << 20, 0), out(count / 500 + 4096);
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    for (std::size_t left = count; left > 0;) {
        const std::size_t n = std::min(left, zeros.size());
        left -= n;
        z.next_in = zeros.data();
        z.avail_in = uInt(n);
        EXPECT_NE(deflate(&z, left ? Z_NO_FLUSH : Z_FINISH), Z_STREAM_ERROR);
    }
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

std::vector<Hostile> HostileFiles() {
    PngFields small;
    const Bytes good = BuildPng(small);
    auto sized = [](std::uint32_t w, std::uint32_t h, int colourType) {
        PngFields s;
        s.width = w;
        s.height = h;
        s.colourType = colourType;
        s.idat = Zlib({0, 0, 0, 0});
        return BuildPng(s);
    };
    auto flipped = [&](std::size_t at) {
        Bytes b = good;
        b.at(at) ^= 0x10;
        return b;
    };
    auto cut = [&](std::size_t size) {
        return Bytes(good.begin(), good.begin() + std::ptrdiff_t(size));
    };
    const Bytes bomb = ZlibOfZeros(kMaxPngChunkBytes + 1000);
    PngFields iccBomb, textBomb, ztxtBomb, badText, rgba;
    rgba.colourType = 6;
    iccBomb.before.push_back({"iCCP", Concat(Text("x"), Concat({0, 0}, bomb))});
    textBomb.after.push_back(
        {"iTXt", Concat(Text("XML:com.adobe.xmp"), Concat({0, 1, 0, 0, 0}, bomb))});
    ztxtBomb.before.push_back({"zTXt", Concat(Text("Comment"), Concat({0, 0}, bomb))});
    badText.before.push_back({"tEXt", Concat(Text("Title"), {0, 'x'})});
    Bytes badTextFile = BuildPng(badText);
    badTextFile.at(33 + 8 + 2) ^= 1;  // inside the tEXt chunk, after IHDR
    const std::size_t idat = 33 + 8;  // the first IDAT data byte
    return {
        {"empty", {}, "empty"},
        {"a BMP file", testing::BuildBmp({}), "not a PNG file"},
        {"width over 65500", sized(65501, 1, 2), "a side is longer than 65500 pixels"},
        {"height over 65500", sized(1, 65501, 0), "a side is longer than 65500 pixels"},
        {"width of 2^31", sized(0x80000000u, 1, 2), "PNG: "},
        {"storage over the cap", sized(65500, 65500, 2), "65500 x 65500 pixels is too large"},
        {"RGBA storage over the cap", sized(60000, 20000, 6), "too large"},
        {"zero width", sized(0, 5, 2), "PNG: "},
        {"bomb in an ICC profile", BuildPng(iccBomb), "takes more than 16 MiB"},
        {"bomb in an XMP text", BuildPng(textBomb), "takes more than 16 MiB"},
        {"bomb in a compressed text", BuildPng(ztxtBomb), "takes more than 16 MiB"},
        {"bad CRC in IHDR", flipped(20), "checksum is wrong"},
        {"bad CRC in the IHDR of an RGBA file",
         [&] {
             Bytes b = BuildPng(rgba);
             b.at(16) ^= 0x40;  // a width of over a billion pixels
             return b;
         }(),
         "checksum is wrong: the IHDR chunk"},
        {"bad CRC in the image data", flipped(idat + 3), "checksum is wrong"},
        {"bad CRC in a text chunk", badTextFile, "checksum is wrong"},
        {"cut in the signature", cut(5), "truncated"},
        {"cut in IHDR", cut(20), "truncated"},
        {"cut in the image data", cut(idat + 5), "truncated"},
        {"cut before IEND", cut(good.size() - 12), "truncated"},
        {"cut inside IEND", cut(good.size() - 3), "truncated"},
    };
}

TEST(PngRead, HostileFilesAreRefusedWithTheirReason) {
    for (const Hostile& h : HostileFiles()) {
        SCOPED_TRACE(h.name);
        try {
            ReadPngData(h.file.data(), h.file.size());
            ADD_FAILURE() << "accepted";
        } catch (const BitmapError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("PNG: ", 0), 0u) << message;
            EXPECT_NE(message.find(h.reason), std::string::npos) << message;
        }
    }
}

TEST(PngRead, AlphaPlaneCountsTowardsTheStorageLimit) {
    // 300 x 1000 takes 900,000 bytes at 24 bits and 1,200,000 with alpha.
    SetStorageLimit(1 << 20);
    PngFields s;
    s.width = 300;
    s.height = 1000;
    const Bytes rgb = BuildPng(s);
    s.colourType = 6;
    const Bytes rgba = BuildPng(s);
    EXPECT_EQ(ReadPngData(rgb.data(), rgb.size()).pixels->Height(), 1000);
    EXPECT_THROW(ReadPngData(rgba.data(), rgba.size()), BitmapError);
    SetStorageLimit(kMaxStorageBytes);
}

TEST(PngRead, ImageDataNeverExpandsBeyondTheDeclaredPicture) {
    // 32 MiB of zeros behind a 4 x 4 gray picture: the decoder inflates the
    // picture's 20 bytes and stops there.
    PngFields s;
    s.width = s.height = 4;
    s.colourType = 0;
    s.idat = ZlibOfZeros(32 << 20);
    const Bytes file = BuildPng(s);
    const PngPicture png = ReadPngData(file.data(), file.size());
    EXPECT_EQ(png.pixels->Width(), 4);
    EXPECT_EQ(png.pixels->PixelAt(3, 3), clBlack);
}

TEST(PngRead, MissingFileIsRefusedWithTheSystemsReason) {
    testing::TempFolder folder;
    try {
        ReadPngFile(folder / "missing.png");
        ADD_FAILURE() << "read";
    } catch (const BitmapError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("PNG: ", 0), 0u) << error.what();
    }
}

// ---- Writing ----

struct Chunk {
    std::string type;
    Bytes data;
};

std::vector<Chunk> ChunksOf(const Bytes& f) {
    std::vector<Chunk> chunks;
    for (std::size_t at = 8; at + 12 <= f.size();) {
        const std::uint32_t length =
            std::uint32_t(f[at] << 24 | f[at + 1] << 16 | f[at + 2] << 8 | f[at + 3]);
        const auto begin = f.begin() + std::ptrdiff_t(at + 8);
        chunks.push_back(
            {std::string(f.begin() + std::ptrdiff_t(at + 4), begin), Bytes(begin, begin + length)});
        at += 12 + length;
    }
    return chunks;
}

// The image data of an 8-bit RGB or RGBA file, inflated and unfiltered
// here: red, green, blue (, alpha) rows.
Bytes UnfilteredRows(const std::vector<Chunk>& chunks, std::uint32_t width, std::uint32_t height,
                     int channels) {
    Bytes compressed;
    for (const Chunk& c : chunks)
        if (c.type == "IDAT") compressed = Concat(compressed, c.data);
    const std::size_t rowBytes = std::size_t(width) * channels;
    Bytes raw((rowBytes + 1) * height);
    uLongf size = uLongf(raw.size());
    EXPECT_EQ(uncompress(raw.data(), &size, compressed.data(), uLong(compressed.size())), Z_OK);
    Bytes rows(rowBytes * height);
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t filter = raw[y * (rowBytes + 1)];
        for (std::size_t i = 0; i < rowBytes; ++i) {
            const int a = i >= std::size_t(channels) ? rows[y * rowBytes + i - channels] : 0;
            const int b = y > 0 ? rows[(y - 1) * rowBytes + i] : 0;
            const int c =
                y > 0 && i >= std::size_t(channels) ? rows[(y - 1) * rowBytes + i - channels] : 0;
            const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b),
                      pc = std::abs(p - c);
            const int predictor[5] = {0, a, b, (a + b) / 2,
                                      pa <= pb && pa <= pc ? a
                                      : pb <= pc           ? b
                                                           : c};
            EXPECT_LE(filter, 4);
            rows[y * rowBytes + i] =
                std::uint8_t(raw[y * (rowBytes + 1) + 1 + i] + predictor[filter % 5]);
        }
    }
    return rows;
}

TEST(PngWrite, RgbAndRgbaRoundTripAndAreStandardFilesWithOnlyTheMetadataAsked) {
    auto picture = testing::RandomPicture(Depth24, 37, 23, 5);
    const Bytes alpha = RandomBytes(37 * 23, 6);
    PictureMetadata metadata;
    metadata.icc = RandomBytes(5000, 7);
    metadata.exif = Concat({'I', 'I', 42, 0}, RandomBytes(300, 8));
    metadata.xmp = "<x:xmpmeta/>";  // read from PNG files, not written
    for (bool withAlpha : {false, true}) {
        for (bool withMetadata : {false, true}) {
            SCOPED_TRACE(std::string(withAlpha ? "RGBA" : "RGB") +
                         (withMetadata ? " with metadata" : ""));
            const std::span<const std::uint8_t> a =
                withAlpha ? std::span(alpha) : std::span<const std::uint8_t>();
            const ByteBlock written =
                EncodePng(*picture, a, withMetadata ? metadata : PictureMetadata());
            const Bytes file(written.data(), written.data() + written.size());

            const std::vector<Chunk> chunks = ChunksOf(file);
            std::vector<std::string> types;
            for (const Chunk& c : chunks)
                if (types.empty() || types.back() != c.type) types.push_back(c.type);
            const std::vector<std::string> plain = {"IHDR", "IDAT", "IEND"};
            const std::vector<std::string> full = {"IHDR", "iCCP", "eXIf", "IDAT", "IEND"};
            EXPECT_EQ(types, withMetadata ? full : plain);
            const Bytes ihdr = {0, 0, 0, 37, 0, 0, 0, 23, 8, std::uint8_t(withAlpha ? 6 : 2),
                                0, 0, 0};
            EXPECT_EQ(chunks.at(0).data, ihdr);

            // The rows as zlib and the PNG filters give them back.
            const Bytes rows = UnfilteredRows(chunks, 37, 23, withAlpha ? 4 : 3);
            const Bytes bgr = testing::RowBytes(*picture);
            for (std::size_t i = 0; i < 37 * 23; ++i) {
                const std::size_t at = i * (withAlpha ? 4 : 3);
                ASSERT_EQ((std::array{rows[at], rows[at + 1], rows[at + 2]}),
                          (std::array{bgr[3 * i + 2], bgr[3 * i + 1], bgr[3 * i]}))
                    << "pixel " << i;
                if (withAlpha) {
                    ASSERT_EQ(rows[at + 3], alpha[i]);
                }
            }

            const PngPicture back = ReadPngData(file.data(), file.size());
            EXPECT_EQ(testing::RowBytes(*back.pixels), bgr);
            EXPECT_EQ(back.alpha, withAlpha ? alpha : Bytes());
            EXPECT_EQ(back.metadata.icc, withMetadata ? metadata.icc : Bytes());
            EXPECT_EQ(back.metadata.exif, withMetadata ? metadata.exif : Bytes());
            EXPECT_TRUE(back.metadata.xmp.empty());
        }
    }
}

TEST(PngWrite, OtherDepthsAreWrittenFromATwentyFourBitCopy) {
    auto picture = testing::RandomPicture(Depth8, 9, 5, 9);
    const ByteBlock file = EncodePng(*picture, {}, {});
    const PngPicture back = ReadPngData(file.data(), file.size());
    EXPECT_EQ(picture->GetDepth(), Depth8);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 9; ++x) EXPECT_EQ(back.pixels->PixelAt(x, y), picture->PixelAt(x, y));
}

TEST(PngWrite, WhatCannotBeWrittenIsRefusedAndTheOldFileKept) {
    testing::TempFolder folder;
    const std::string path = folder / "old.png";
    testing::WriteAll(path, {1, 2, 3});
    auto picture = testing::RandomPicture(Depth24, 4, 3, 10);
    auto wide = std::make_unique<TBitmap>();
    wide->SetDepth(Depth24);
    wide->SetWidth(kMaxPngSide + 1);
    wide->SetHeight(1);
    PictureMetadata badExif;
    badExif.exif = Concat(Text("Exif"), {0, 0, 'M', 'M', 0, 42});
    const Bytes shortAlpha(11);
    const TBitmap empty;
    const PictureMetadata none;
    struct Case {
        const char* name;
        const TBitmap& picture;
        std::span<const std::uint8_t> alpha;
        const PictureMetadata& metadata;
        const char* reason;
    } cases[] = {
        {"empty picture", empty, {}, none, "empty picture"},
        {"side too long", *wide, {}, none, "longer than 65500"},
        {"alpha of the wrong size", *picture, shortAlpha, none, "alpha plane holds 11 values"},
        {"EXIF without its TIFF header", *picture, {}, badExif, "TIFF header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            WritePngFile(path, c.picture, c.alpha, c.metadata);
            ADD_FAILURE() << "written";
        } catch (const BitmapError& error) {
            EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
        }
        EXPECT_EQ(testing::ReadAll(path), Bytes({1, 2, 3}));
    }
    EXPECT_THROW(WritePngFile(folder / "no/such/folder.png", *picture, {}, {}), BitmapError);
    WritePngFile(path, *picture, {}, {});
    EXPECT_EQ(ReadPngFile(path).pixels->Width(), 4);
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"old.png"});
}

}  // namespace
}  // namespace sigillon
