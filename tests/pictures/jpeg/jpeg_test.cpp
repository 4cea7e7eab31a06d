#include <gtest/gtest.h>

#include <cmath>

#include "pictures/bmp/bmp.h"
#include "pictures/jpeg/jpeg_image.h"
#include "pictures/picture_files.h"
#include "tests/support/bare_libjpeg.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"

namespace sigillon {
namespace {

using testing::Bytes;

// Switches the display depth for one test.
class DisplayDepth {
public:
    explicit DisplayDepth(int bits) : previous_(DisplayBitsPerPixel()) {
        SetDisplayBitsPerPixel(bits);
    }
    ~DisplayDepth() { SetDisplayBitsPerPixel(previous_); }

private:
    int previous_;
};

// Smooth colour gradients with a little texture, like a small photograph.
std::unique_ptr<TBitmap> Photo(int width, int height) {
    return sigillon::testing::MakeTrueColourPicture(width, height, [=](int x, int y, std::uint8_t* p) {
        p[0] = std::uint8_t(255 * x / width);                          // blue
        p[1] = std::uint8_t(255 * y / height);                         // green
        p[2] = std::uint8_t(128 + 100 * std::sin((x + 2 * y) / 7.0));  // red
    });
}

// Packed red, green, blue rows of a Depth24 picture, for bare libjpeg.
Bytes PackedRgb(const TBitmap& picture) {
    Bytes rgb;
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.RowAddress(y);
        for (int x = 0; x < picture.Width(); ++x) {
            rgb.push_back(row[3 * x + 2]);
            rgb.push_back(row[3 * x + 1]);
            rgb.push_back(row[3 * x]);
        }
    }
    return rgb;
}

Bytes BareEncode(const Bytes& pixels, int width, int height, int components, J_COLOR_SPACE space,
                 bool progressive = false) {
    bare::EncodeRequest request{pixels.data(), width, height, components, space};
    request.progressive = progressive;
    Bytes out;
    EXPECT_TRUE(bare::Encode(request, out));
    return out;
}

Bytes OurEncode(const TBitmap& picture, int quality = 85) {
    TJPEGImage jpeg;
    jpeg.Assign(picture);
    jpeg.SetCompressionQuality(quality);
    jpeg.Compress();
    return Bytes(jpeg.Data().begin(), jpeg.Data().end());
}

Bytes GrayJpeg(int width, int height) {
    Bytes gray;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) gray.push_back(std::uint8_t((x * 7 + y * 3) % 256));
    return BareEncode(gray, width, height, 1, JCS_GRAYSCALE);
}

std::unique_ptr<TBitmap> OurDecode(const Bytes& file) {
    TJPEGImage jpeg;
    jpeg.LoadFromBytes(file.data(), file.size());
    auto picture = std::make_unique<TBitmap>();
    picture->ShareImage(jpeg.Bitmap());
    return picture;
}

// The marker segments before the first scan, in order.
struct Segment {
    int marker;
    Bytes payload;
};
std::vector<Segment> HeaderSegments(const Bytes& f) {
    std::vector<Segment> segments;
    EXPECT_GE(f.size(), 4u);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0xD8);  // start of image
    std::size_t at = 2;
    while (at + 4 <= f.size() && f[at] == 0xFF) {
        int marker = f[at + 1];
        std::size_t length = std::size_t(f[at + 2] << 8 | f[at + 3]);
        segments.push_back({marker, Bytes(f.begin() + std::ptrdiff_t(at + 4),
                                          f.begin() + std::ptrdiff_t(at + 2 + length))});
        if (marker == 0xDA) break;  // start of scan
        at += 2 + length;
    }
    return segments;
}

std::vector<Bytes> PayloadsOf(const std::vector<Segment>& segments, int marker) {
    std::vector<Bytes> found;
    for (const Segment& s : segments)
        if (s.marker == marker) found.push_back(s.payload);
    return found;
}

// ---- Encoding ----

TEST(JpegEncode, SettingsStartAtTheirInitialValues) {
    DisplayDepth deep(32);
    TJPEGImage jpeg;
    EXPECT_EQ(jpeg.CompressionQuality(), 90);
    EXPECT_FALSE(jpeg.GrayscaleOutput());
    EXPECT_EQ(jpeg.PixelFormat(), JpegPixelFormat::Bits24);
    EXPECT_EQ(jpeg.Performance(), JpegPerformance::BestQuality);
    EXPECT_EQ(jpeg.Scale(), JpegScale::FullSize);
    EXPECT_TRUE(jpeg.Smoothing());
    EXPECT_FALSE(jpeg.ProgressiveDisplay());
    EXPECT_FALSE(jpeg.ProgressiveEncoding());
    EXPECT_THROW(jpeg.SetCompressionQuality(0), BitmapError);
    EXPECT_THROW(jpeg.SetCompressionQuality(101), BitmapError);

    DisplayDepth shallow(8);
    EXPECT_EQ(TJPEGImage().PixelFormat(), JpegPixelFormat::Bits8);
}

TEST(JpegEncode, SavedFileIsBaselineJfifWithTheTablesLibjpegGivesQuality85) {
    auto picture = Photo(40, 24);
    const Bytes ours = OurEncode(*picture);
    const Bytes reference = BareEncode(PackedRgb(*picture), 40, 24, 3, JCS_RGB);
    const std::vector<Segment> segments = HeaderSegments(ours);
    const std::vector<Segment> expected = HeaderSegments(reference);

    ASSERT_FALSE(segments.empty());
    EXPECT_EQ(segments[0].marker, 0xE0);
    const Bytes jfif = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
    EXPECT_EQ(segments[0].payload, jfif) << "JFIF 1.01, no density unit, 1 by 1, no thumbnail";

    const std::vector<Bytes> frames = PayloadsOf(segments, 0xC0);
    ASSERT_EQ(frames.size(), 1u) << "one baseline frame";
    const Bytes frame = {8, 0, 24, 0, 40, 3, 1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
    EXPECT_EQ(frames[0], frame) << "8 bits, 24 x 40, Y 2x2 table 0, Cb and Cr 1x1 table 1";
    for (int other : {0xC1, 0xC2, 0xC3, 0xDD})
        EXPECT_TRUE(PayloadsOf(segments, other).empty()) << std::hex << other;

    const std::vector<Bytes> tables = PayloadsOf(segments, 0xDB);
    EXPECT_EQ(tables, PayloadsOf(expected, 0xDB));
    std::size_t quantTables = 0;
    for (const Bytes& t : tables) quantTables += t.size() / 65;
    EXPECT_EQ(quantTables, 2u);
    for (const Bytes& t : tables)
        for (std::size_t i = 0; i < t.size(); i += 65) EXPECT_EQ(t[i] >> 4, 0) << "8-bit entries";
    const std::vector<Bytes> huffman = PayloadsOf(segments, 0xC4);
    EXPECT_EQ(huffman, PayloadsOf(expected, 0xC4));
    // With the same settings the whole file is what libjpeg writes itself.
    EXPECT_EQ(ours, reference);
}

TEST(JpegEncode, RowsAreReadTopDownWhateverTheStorageOrder) {
    // The same pixels stored both ways encode to the same file.
    testing::BmpFields topDown;
    topDown.width = 17;
    topDown.height = -9;
    topDown.pixels = testing::RandomBytes(std::size_t(StrideFor(17, 24)) * 9, 80);
    testing::BmpFields bottomUp = topDown;
    bottomUp.height = 9;
    const std::size_t stride = std::size_t(StrideFor(17, 24));
    bottomUp.pixels.clear();
    for (int r = 8; r >= 0; --r)
        bottomUp.pixels.insert(bottomUp.pixels.end(),
                               topDown.pixels.begin() + std::ptrdiff_t(r * stride),
                               topDown.pixels.begin() + std::ptrdiff_t((r + 1) * stride));
    TBitmap a, b;
    Bytes fa = testing::BuildBmp(topDown), fb = testing::BuildBmp(bottomUp);
    ReadBmpData(a, fa.data(), fa.size());
    ReadBmpData(b, fb.data(), fb.size());
    ASSERT_TRUE(a.IsTopDown());
    ASSERT_FALSE(b.IsTopDown());
    EXPECT_EQ(OurEncode(a), OurEncode(b));
}

TEST(JpegEncode, OtherFormatsAreEncodedAsColourFromTwentyFourBits) {
    auto picture = testing::RandomPicture(Depth8, 16, 16, 81);
    auto decoded = OurDecode(OurEncode(*picture));
    EXPECT_EQ(decoded->GetDepth(), Depth24);
    EXPECT_EQ(decoded->Width(), 16);
    EXPECT_EQ(picture->GetDepth(), Depth8) << "the picture itself is not changed";
}

TEST(JpegEncode, GrayscaleOutputWritesOneComponent) {
    auto picture = Photo(16, 16);
    TJPEGImage jpeg;
    jpeg.Assign(*picture);
    jpeg.SetGrayscaleOutput(true);
    jpeg.Compress();
    const std::vector<Bytes> frames =
        PayloadsOf(HeaderSegments(Bytes(jpeg.Data().begin(), jpeg.Data().end())), 0xC0);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0][5], 1);
}

TEST(JpegEncode, SideLongerThanLibjpegAllowsIsRefusedBeforeAnythingIsWritten) {
    testing::TempFolder folder;
    for (auto [w, h] : {std::pair{kMaxJpegSide + 1, 1}, std::pair{1, kMaxJpegSide + 1}}) {
        auto picture = std::make_unique<TBitmap>();
        picture->SetDepth(Depth24);
        picture->SetWidth(w);
        picture->SetHeight(h);
        const std::string path = folder / "wide.jpg";
        FileResult result = SavePictureFileQuiet(*picture, path);
        EXPECT_EQ(result, FileOutcome::Failed);
        EXPECT_EQ(result.reason, "JPEG: a side longer than 65500 pixels cannot be encoded");
        EXPECT_TRUE(folder.Names().empty());
    }
}

// ---- Decoding ----

TEST(JpegDecode, ColourFileOnADeepDisplayIsTwentyFourBitsAsLibjpegDecodesIt) {
    DisplayDepth deep(32);
    auto photo = Photo(37, 21);
    const Bytes file = OurEncode(*photo);
    auto picture = OurDecode(file);
    ASSERT_EQ(picture->GetDepth(), Depth24);
    ASSERT_EQ(picture->Width(), 37);
    ASSERT_EQ(picture->Height(), 21);

    bare::Decoded reference;
    ASSERT_TRUE(bare::Decode(file.data(), file.size(), {}, reference));
    EXPECT_EQ(PackedRgb(*picture), reference.pixels);
    // Fill bytes at the row ends are cleared.
    for (int y = 0; y < 21; ++y)
        for (int i = 37 * 3; i < picture->Stride(); ++i) EXPECT_EQ(picture->RowAddress(y)[i], 0);
    // And it is still the photograph.
    for (int y = 0; y < 21; y += 5)
        for (int x = 0; x < 37; x += 5)
            EXPECT_LE(
                std::abs(int(picture->RowAddress(y)[3 * x]) - int(photo->RowAddress(y)[3 * x])),
                12);
}

TEST(JpegDecode, ColourFileOnAnEightBitDisplayIsQuantisedTo236Colours) {
    DisplayDepth shallow(8);
    const Bytes file = OurEncode(*Photo(37, 21));
    auto picture = OurDecode(file);
    ASSERT_EQ(picture->GetDepth(), Depth8);
    ASSERT_LE(picture->Palette().size(), 236u);
    ASSERT_GT(picture->Palette().size(), 16u);

    bare::Decoded reference;
    ASSERT_TRUE(bare::Decode(file.data(), file.size(), {JCS_RGB, true, true, 236}, reference));
    ASSERT_EQ(reference.colormap[0].size(), picture->Palette().size());
    for (std::size_t i = 0; i < picture->Palette().size(); ++i)
        EXPECT_EQ(
            picture->Palette()[i],
            RGBColor(reference.colormap[0][i], reference.colormap[1][i], reference.colormap[2][i]));
    EXPECT_EQ(testing::RowBytes(*picture), reference.pixels);
}

TEST(JpegDecode, GrayscaleFileIsEightBitsWith236EvenGrayLevelsOnEitherDisplay) {
    const Bytes file = GrayJpeg(33, 19);
    bare::Decoded reference;
    ASSERT_TRUE(
        bare::Decode(file.data(), file.size(), {JCS_GRAYSCALE, true, false, 236}, reference));
    for (int bits : {32, 8}) {
        SCOPED_TRACE(bits);
        DisplayDepth display(bits);
        auto picture = OurDecode(file);
        ASSERT_EQ(picture->GetDepth(), Depth8);
        const std::vector<TColor>& palette = picture->Palette();
        ASSERT_EQ(palette.size(), 236u);
        for (std::size_t i = 0; i < palette.size(); ++i) {
            int level = RedOf(palette[i]);
            EXPECT_EQ(palette[i], RGBColor(level, level, level));
            EXPECT_LE(std::abs(level - i * 255.0 / 235.0), 0.5) << "entry " << i;
        }
        EXPECT_EQ(testing::RowBytes(*picture), reference.pixels);
    }
}

TEST(JpegDecode, ProgressiveFileIsDecodedWhole) {
    auto photo = Photo(30, 20);
    const Bytes file = BareEncode(PackedRgb(*photo), 30, 20, 3, JCS_RGB, true);
    TJPEGImage jpeg;
    jpeg.LoadFromBytes(file.data(), file.size());
    EXPECT_TRUE(jpeg.IsProgressiveFile());
    EXPECT_EQ(jpeg.Width(), 30);
    EXPECT_EQ(jpeg.Height(), 20);
    bare::Decoded reference;
    ASSERT_TRUE(bare::Decode(file.data(), file.size(), {}, reference));
    EXPECT_EQ(PackedRgb(jpeg.Bitmap()), reference.pixels);
}

// A progressive file with its first scan repeated: libjpeg only warns about
// each repeat, so without a cap a small file could make it work on and on.
Bytes WithRepeatedFirstScan(const Bytes& file, int repeats) {
    std::size_t sos = 2;
    while (!(file[sos] == 0xFF && file[sos + 1] == 0xDA))
        sos += 2 + (file[sos + 2] << 8 | file[sos + 3]);
    std::size_t end = sos + 2 + (file[sos + 2] << 8 | file[sos + 3]);
    while (!(file[end] == 0xFF && file[end + 1] != 0 &&
             (file[end + 1] < 0xD0 || file[end + 1] > 0xD7)))
        ++end;
    Bytes out(file.begin(), file.begin() + std::ptrdiff_t(end));
    for (int i = 0; i < repeats; ++i)
        out.insert(out.end(), file.begin() + std::ptrdiff_t(sos),
                   file.begin() + std::ptrdiff_t(end));
    out.insert(out.end(), file.begin() + std::ptrdiff_t(end), file.end());
    return out;
}

TEST(JpegDecode, AbsurdNumberOfScansIsRefused) {
    const Bytes progressive = BareEncode(PackedRgb(*Photo(16, 16)), 16, 16, 3, JCS_RGB, true);
    EXPECT_NO_THROW(OurDecode(WithRepeatedFirstScan(progressive, 50)));
    EXPECT_THROW(OurDecode(WithRepeatedFirstScan(progressive, 600)), BitmapError);
}

TEST(JpegDecode, FileThatEndsEarlyStillGivesItsPicture) {
    const Bytes whole = OurEncode(*Photo(64, 64));
    const Bytes half(whole.begin(), whole.begin() + std::ptrdiff_t(whole.size() / 2));
    auto picture = OurDecode(half);
    EXPECT_EQ(picture->GetDepth(), Depth24);
    EXPECT_EQ(picture->Width(), 64);
    EXPECT_EQ(picture->Height(), 64);
}

TEST(JpegDecode, ScaleSettingDecodesSmaller) {
    const Bytes file = OurEncode(*Photo(64, 48));
    TJPEGImage jpeg;
    jpeg.LoadFromBytes(file.data(), file.size());
    EXPECT_EQ(jpeg.Bitmap().Width(), 64);
    jpeg.SetScale(JpegScale::Quarter);
    EXPECT_EQ(jpeg.Bitmap().Width(), 16);
    EXPECT_EQ(jpeg.Bitmap().Height(), 12);
}

TEST(JpegDecode, FilesThatAreNotGrayOrColourAreRefused) {
    Bytes cmyk;
    for (int i = 0; i < 8 * 8; ++i) cmyk.insert(cmyk.end(), {10, 20, 30, 40});
    const Bytes file = BareEncode(cmyk, 8, 8, 4, JCS_CMYK);
    TJPEGImage jpeg;
    EXPECT_THROW(jpeg.LoadFromBytes(file.data(), file.size()), BitmapError);
}

TEST(JpegDecode, BytesThatAreNotAJpegFileAreRefused) {
    for (const Bytes& junk :
         {Bytes{'B', 'M', 0, 0}, Bytes{0xFF, 0xD8}, Bytes{0xFF, 0xD8, 0xFF, 0xD9}}) {
        TJPEGImage jpeg;
        EXPECT_THROW(jpeg.LoadFromBytes(junk.data(), junk.size()), BitmapError);
    }
    TJPEGImage empty;
    empty.LoadFromBytes(nullptr, 0);
    EXPECT_THROW(empty.Bitmap(), BitmapError);
}

}  // namespace
}  // namespace sigillon
