// The row-by-row readers and writers against the whole-picture ones: the
// same rows from every file the whole-picture readers take (fill bytes
// included), the same refusal for every file they refuse, and the same
// bytes written for every format.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <optional>

#include "pictures/raster/bitmap_image.h"
#include "pictures/bmp/bmp.h"
#include "pictures/jpeg/jpeg_image.h"
#include "pictures/picture_files.h"
#include "pictures/bmp/bmp_rows.h"
#include "pictures/jpeg/jpeg_rows.h"
#include "tests/support/bare_libjpeg.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"

namespace sigillon {
namespace {

using testing::Bytes;
using testing::TempFolder;

const std::filesystem::path kSuite = SIGILLON_BMPSUITE_DIR;
const std::filesystem::path kFuzz = SIGILLON_FUZZ_DIR;

// What a reader made of a file: the format and every row (fill bytes
// included), or the reason it refused the file, or why it declined it.
struct Reading {
    std::optional<std::string> refusal;
    std::string declined;
    TBitmapImage format;
    Bytes rows;
};

// Reads every row in bands of band rows.
Reading ReadByRows(const std::function<RowReaderOpening()>& open, int band) {
    Reading reading;
    try {
        RowReaderOpening opening = open();
        if (!opening.reader) {
            reading.declined = opening.whyNot;
            EXPECT_FALSE(reading.declined.empty());
            return reading;
        }
        PictureRowReader& reader = *opening.reader;
        reading.format = CopyFormat(reader.Format());
        EXPECT_EQ(reader.Width(), reading.format.width);
        EXPECT_EQ(reader.Height(), reading.format.height);
        EXPECT_EQ(reader.Depth(), DepthOf(reading.format));
        const std::size_t stride = std::size_t(reader.Stride());
        reading.rows.resize(stride * std::size_t(reader.Height()));
        while (reader.NextRow() < reader.Height()) {
            std::int32_t count = std::min(band, reader.Height() - reader.NextRow());
            reader.Read(reading.rows.data() + std::size_t(reader.NextRow()) * stride, count);
        }
        reader.Finish();
        EXPECT_THROW(reader.Read(reading.rows.data(), 1), BitmapError) << "a row below the picture";
    } catch (const BitmapError& error) {
        reading.refusal = error.what();
    }
    return reading;
}

// The whole-picture reader's result in the same form.
Reading ReadWhole(const std::function<void(TBitmap&)>& load) {
    Reading reading;
    TBitmap picture;
    try {
        load(picture);
    } catch (const BitmapError& error) {
        reading.refusal = error.what();
        return reading;
    }
    if (picture.IsEmpty()) return reading;
    reading.format = CopyFormat(picture.Image());
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.RowAddress(y);
        reading.rows.insert(reading.rows.end(), row, row + picture.Stride());
    }
    return reading;
}

void ExpectSameReading(const Reading& rows, const Reading& whole) {
    if (whole.refusal) {
        // A declined file is for the whole-picture reader, which refuses it.
        if (rows.declined.empty()) {
            EXPECT_EQ(rows.refusal, whole.refusal);
        }
        return;
    }
    if (!rows.declined.empty()) return;
    ASSERT_FALSE(rows.refusal) << *rows.refusal;
    const TBitmapImage& a = rows.format;
    const TBitmapImage& b = whole.format;
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.format, b.format);
    EXPECT_EQ(a.masks, b.masks);
    EXPECT_EQ(a.topDown, b.topDown);
    EXPECT_EQ(a.stride, b.stride);
    EXPECT_EQ(a.palette, b.palette);
    EXPECT_EQ(a.bmpInfo.xPelsPerMeter, b.bmpInfo.xPelsPerMeter);
    EXPECT_EQ(a.bmpInfo.yPelsPerMeter, b.bmpInfo.yPelsPerMeter);
    EXPECT_EQ(a.bmpInfo.colorsImportant, b.bmpInfo.colorsImportant);
    EXPECT_EQ(a.bmpInfo.coreHeader, b.bmpInfo.coreHeader);
    EXPECT_TRUE(rows.rows == whole.rows) << "rows differ";
}

// The BMP readers on one file's bytes, each way and in bands of 1, 3 and
// 1000 rows. Returns whether the row reader read it (rather than declining).
bool CompareBmp(const TempFolder& folder, const Bytes& file, const RowLimits& limits = kBmpRowLimits) {
    const std::string path = folder / "picture.bmp";
    testing::WriteAll(path, file);
    Reading whole = ReadWhole([&](TBitmap& p) { p.ReadBmpFile(path); });
    bool streamed = false;
    for (int band : {1, 3, 1000}) {
        SCOPED_TRACE(band);
        Reading rows = ReadByRows([&] { return OpenBmpRowReader(path, limits); }, band);
        ExpectSameReading(rows, whole);
        streamed = rows.declined.empty() && !rows.refusal;
    }
    return streamed;
}

bool CompareJpeg(const TempFolder& folder, const Bytes& file,
                 const JpegDecodeSettings& settings = {}) {
    const std::string path = folder / "picture.jpg";
    testing::WriteAll(path, file);
    Reading whole = ReadWhole([&](TBitmap& p) {
        TJPEGImage jpeg;
        jpeg.SetGrayscaleOutput(settings.grayscaleOutput);
        jpeg.SetPixelFormat(settings.pixelFormat);
        jpeg.SetPerformance(settings.performance);
        jpeg.SetScale(settings.scale);
        jpeg.SetSmoothing(settings.smoothing);
        jpeg.LoadFromFile(path);
        p.ShareImage(jpeg.Bitmap());
    });
    bool streamed = false;
    for (int band : {1, 7, 1000}) {
        SCOPED_TRACE(band);
        Reading rows = ReadByRows([&] { return OpenJpegRowReader(path, settings); }, band);
        ExpectSameReading(rows, whole);
        streamed = rows.declined.empty() && !rows.refusal;
    }
    return streamed;
}

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".bmp" || entry.path().extension() == ".jpg")
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

Bytes Cut(const Bytes& file, std::size_t size) {
    return Bytes(file.begin(), file.begin() + std::ptrdiff_t(std::min(size, file.size())));
}

// ---- BMP reading ----

TEST(BmpRows, EveryFileOfTheSuiteReadsAsTheWholePictureReaderReadsIt) {
    TempFolder folder;
    int streamed = 0;
    for (const char* part : {"g", "q", "b"}) {
        for (const auto& file : FilesIn(kSuite / part)) {
            SCOPED_TRACE(file.string());
            streamed += CompareBmp(folder, testing::ReadAll(file));
        }
    }
    EXPECT_GE(streamed, 40) << "most suite files are uncompressed";
}

TEST(BmpRows, EveryGoodUncompressedFileIsReadRowByRowAndRleIsNot) {
    TempFolder folder;
    for (const auto& file : FilesIn(kSuite / "g")) {
        SCOPED_TRACE(file.string());
        const bool rle = file.filename().string().find("rle") != std::string::npos;
        EXPECT_EQ(CompareBmp(folder, testing::ReadAll(file)), !rle);
    }
}

struct CraftedBmp {
    const char* name;
    testing::BmpFields fields;
};

std::vector<CraftedBmp> CraftedFiles() {
    std::vector<CraftedBmp> files;
    auto add = [&](const char* name, int bits, int width, int height, std::uint32_t header = 40) {
        testing::BmpFields s;
        s.headerSize = header;
        s.bits = std::uint16_t(bits);
        s.width = width;
        s.height = height;
        if (bits <= 8)
            for (int i = 0; i < (1 << bits); ++i)
                s.palette.push_back(RGBColor(std::uint8_t(i * 37), std::uint8_t(i * 11), std::uint8_t(255 - i)));
        s.pixels = testing::RandomBytes(std::size_t(StrideFor(width, bits)) * std::size_t(std::abs(height)),
                                        unsigned(width * 131 + height + bits));
        files.push_back({name, s});
        return &files.back().fields;
    };
    add("1 bit, odd width", 1, 37, 11);
    add("4 bits, odd width", 4, 13, 9);
    add("8 bits top-down", 8, 31, -17);
    add("16 bits", 16, 7, 5);
    add("24 bits bottom-up", 24, 33, 21);
    add("24 bits top-down", 24, 33, -21);
    add("32 bits", 32, 5, 40);
    add("core header", 24, 19, 6, 12);
    add("core header palette", 8, 19, 6, 12);
    testing::BmpFields* masked = add("32 bits with masks", 32, 9, 9);
    masked->compression = 3;
    masked->masks = ColorMasks{0xFF0000, 0x00FF00, 0x0000FF};
    testing::BmpFields* masks16 = add("16 bits 565 in a V4 header", 16, 11, 4, 108);
    masks16->compression = 3;
    masks16->masks = ColorMasks{0xF800, 0x07E0, 0x001F};
    add("no size field", 24, 10, 10)->imageSize = 0;
    add("size field too small", 24, 10, 10)->imageSize = 100;
    add("size field too large", 24, 10, 10)->imageSize = 100000;
    add("gap before the pixels", 8, 10, 10)->gap = Bytes(7, 0xAB);
    testing::BmpFields* short_table = add("short colour table", 8, 12, 3);
    short_table->palette.resize(5);
    short_table->colorsUsed = 5;
    add("one pixel", 24, 1, 1);
    add("a column", 24, 1, 300);
    add("densities", 24, 4, 4)->xPelsPerMeter = 2835;
    return files;
}

TEST(BmpRows, CraftedFilesAndTheirShortFormsReadAsTheWholePictureReaderReadsThem) {
    TempFolder folder;
    for (const CraftedBmp& c : CraftedFiles()) {
        SCOPED_TRACE(c.name);
        const Bytes file = testing::BuildBmp(c.fields);
        EXPECT_TRUE(CompareBmp(folder, file));
        // Cut inside the headers, at the start of the pixels, inside a row,
        // on a row's end and one byte short.
        const std::size_t pixels = file.size() - c.fields.pixels.size();
        const std::size_t stride = std::size_t(StrideFor(c.fields.width, c.fields.bits));
        for (std::size_t size : {std::size_t(10), std::size_t(30), pixels, pixels + 1,
                                 pixels + stride / 2, pixels + stride, file.size() - 1}) {
            SCOPED_TRACE(size);
            CompareBmp(folder, Cut(file, size));
        }
    }
    // The data offset past the end: the pixels follow the table.
    testing::BmpFields s = CraftedFiles()[4].fields;
    Bytes file = testing::BuildBmp(s);
    testing::Put32(file, 10, std::uint32_t(file.size() + 10));
    EXPECT_TRUE(CompareBmp(folder, file));
}

TEST(BmpRows, EmptyFilesLongHeadersAndWideRowsAreLeftToTheWholePictureReader) {
    TempFolder folder;
    testing::WriteAll(folder / "empty.bmp", {});
    RowReaderOpening empty = OpenBmpRowReader(folder / "empty.bmp");
    EXPECT_FALSE(empty.reader);
    EXPECT_FALSE(empty.whyNot.empty());

    testing::BmpFields wide;
    wide.width = 500;
    wide.height = 2;
    wide.pixels = Bytes(std::size_t(StrideFor(500, 24)) * 2, 9);
    testing::WriteAll(folder / "wide.bmp", testing::BuildBmp(wide));
    RowReaderOpening declined = OpenBmpRowReader(folder / "wide.bmp", RowLimits{1000, 1 << 20});
    EXPECT_FALSE(declined.reader);
    EXPECT_NE(declined.whyNot.find("1000 bytes"), std::string::npos) << declined.whyNot;
    EXPECT_TRUE(OpenBmpRowReader(folder / "wide.bmp", RowLimits{1500, 1 << 20}).reader);

    // A header claiming two megabytes in a file that has them.
    testing::BmpFields longHeader;
    longHeader.headerSize = 2 << 20;
    longHeader.pixels = Bytes(std::size_t(StrideFor(3, 24)) * 2, 1);
    testing::WriteAll(folder / "long.bmp", testing::BuildBmp(longHeader));
    RowReaderOpening longOne = OpenBmpRowReader(folder / "long.bmp");
    EXPECT_FALSE(longOne.reader);
    EXPECT_NE(longOne.whyNot.find("header"), std::string::npos) << longOne.whyNot;
}

TEST(BmpRows, PicturesBeyondTheStorageLimitAreReadWithinTheirOwn) {
    TempFolder folder;
    testing::BmpFields s;
    s.width = 300;
    s.height = 200;
    s.pixels = testing::RandomBytes(std::size_t(StrideFor(300, 24)) * 200, 5);
    const Bytes file = testing::BuildBmp(s);
    const std::int64_t bytes = StrideFor(300, 24) * 200;

    // The whole-picture reader is held to the storage limit; rows are not.
    SetStorageLimit(bytes - 1);
    testing::WriteAll(folder / "a.bmp", file);
    TBitmap whole;
    EXPECT_THROW(whole.ReadBmpFile(folder / "a.bmp"), BitmapError);
    Reading rows = ReadByRows([&] { return OpenBmpRowReader(folder / "a.bmp"); }, 16);
    SetStorageLimit(kMaxStorageBytes);
    ASSERT_FALSE(rows.refusal);
    ExpectSameReading(rows, ReadWhole([&](TBitmap& p) { p.ReadBmpFile(folder / "a.bmp"); }));

    // Their own limit refuses as the whole-picture reader does at its own.
    Reading refused = ReadByRows([&] { return OpenBmpRowReader(folder / "a.bmp", {1 << 20, bytes - 1}); }, 16);
    EXPECT_EQ(refused.refusal, "BMP: picture of 300 x 200 pixels is too large");
}

// ---- JPEG reading ----

Bytes Encoded(const TBitmap& picture, int quality = 85) {
    TJPEGImage jpeg;
    jpeg.Assign(picture);
    jpeg.SetCompressionQuality(quality);
    jpeg.Compress();
    return Bytes(jpeg.Data().begin(), jpeg.Data().end());
}

TEST(JpegRows, EverySeedAndEveryCutOfItReadsAsTheWholePictureReaderReadsIt) {
    TempFolder folder;
    for (const auto& seed : FilesIn(kFuzz / "corpus/jpeg")) {
        SCOPED_TRACE(seed.string());
        const Bytes file = testing::ReadAll(seed);
        EXPECT_TRUE(CompareJpeg(folder, file));
        // Cut in the headers, in the first scan and near the end: libjpeg
        // fills what is missing, the same way from either source.
        for (std::size_t size : {std::size_t(1), std::size_t(2), std::size_t(100), file.size() / 3,
                                 file.size() / 2, file.size() - 2}) {
            SCOPED_TRACE(size);
            CompareJpeg(folder, Cut(file, size));
        }
    }
}

TEST(JpegRows, DamagedFilesReadAsTheWholePictureReaderReadsThem) {
    TempFolder folder;
    const Bytes photo = Encoded(*testing::RandomPicture(Depth24, 203, 151, 3), 90);
    std::mt19937 random(11);
    for (int damage = 0; damage < 40; ++damage) {
        SCOPED_TRACE(damage);
        Bytes file = photo;
        // A few bytes anywhere after the first segments, so that both the
        // headers and the scan are hit.
        for (int k = 0; k < 1 + damage % 4; ++k)
            file[20 + random() % (file.size() - 20)] = std::uint8_t(random());
        CompareJpeg(folder, file);
    }
}

TEST(JpegRows, PicturesOfOddSizesAndEverySettingGiveTheSameRows) {
    TempFolder folder;
    for (auto [width, height] : {std::pair{1, 1}, {17, 3}, {33, 65}, {250, 9}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        const Bytes file = Encoded(*testing::RandomPicture(Depth24, width, height, unsigned(width)));
        EXPECT_TRUE(CompareJpeg(folder, file));
        JpegDecodeSettings settings;
        settings.scale = JpegScale::Half;
        settings.smoothing = false;
        EXPECT_TRUE(CompareJpeg(folder, file, settings));
        settings = {};
        settings.grayscaleOutput = true;
        settings.performance = JpegPerformance::BestSpeed;
        EXPECT_TRUE(CompareJpeg(folder, file, settings));
    }
}

TEST(JpegRows, TwoPassColoursAndEmptyFilesAreLeftToTheWholePictureReader) {
    TempFolder folder;
    JpegDecodeSettings eightBits;
    eightBits.pixelFormat = JpegPixelFormat::Bits8;
    const Bytes file = Encoded(*testing::RandomPicture(Depth24, 40, 40, 1));
    EXPECT_FALSE(CompareJpeg(folder, file, eightBits));
    eightBits.performance = JpegPerformance::BestSpeed;  // one pass
    EXPECT_TRUE(CompareJpeg(folder, file, eightBits));

    testing::WriteAll(folder / "empty.jpg", {});
    RowReaderOpening empty = OpenJpegRowReader(folder / "empty.jpg");
    EXPECT_FALSE(empty.reader);
    EXPECT_FALSE(empty.whyNot.empty());
}

TEST(JpegRows, FailuresAreTheWholePictureReadersOwn) {
    TempFolder folder;
    struct Case {
        const char* name;
        Bytes bytes;
    } cases[] = {
        {"text.jpg", Bytes{'h', 'e', 'l', 'l', 'o'}},
        {"cmyk.jpg", {}},
    };
    // Four components.
    const Bytes cmyk(40 * 8 * 4, 100);
    bare::EncodeRequest request{cmyk.data(), 40, 8, 4, JCS_CMYK};
    ASSERT_TRUE(bare::Encode(request, cases[1].bytes));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::WriteAll(folder / c.name, c.bytes);
        TBitmap picture;
        FileResult whole = LoadPictureFileQuiet(picture, folder / c.name);
        ASSERT_EQ(whole, FileOutcome::Failed);
        Reading rows = ReadByRows([&] { return OpenJpegRowReader(folder / c.name); }, 8);
        EXPECT_EQ(rows.refusal, whole.reason);
    }
    ASSERT_EQ(::mkdir((folder / "folder.jpg").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir((folder / "folder.bmp").c_str(), 0700), 0);
    for (const std::string name : {"missing", "folder"}) {
        SCOPED_TRACE(name);
        TBitmap picture;
        FileResult whole = LoadPictureFileQuiet(picture, folder / (name + ".jpg"));
        ASSERT_FALSE(whole.reason.empty());
        EXPECT_EQ(ReadByRows([&] { return OpenJpegRowReader(folder / (name + ".jpg")); }, 8).refusal,
                  whole.reason);
        FileResult wholeBmp = LoadPictureFileQuiet(picture, folder / (name + ".bmp"));
        ASSERT_FALSE(wholeBmp.reason.empty());
        EXPECT_EQ(ReadByRows([&] { return OpenBmpRowReader(folder / (name + ".bmp")); }, 8).refusal,
                  wholeBmp.reason);
    }
}

TEST(JpegRows, PicturesBeyondTheStorageLimitAreReadWithinTheirOwn) {
    TempFolder folder;
    const Bytes file = Encoded(*testing::RandomPicture(Depth24, 320, 240, 9));
    testing::WriteAll(folder / "a.jpg", file);
    Reading whole = ReadWhole([&](TBitmap& p) { LoadPictureFileQuiet(p, folder / "a.jpg"); });
    SetStorageLimit(1 << 16);
    TBitmap refused;
    EXPECT_EQ(LoadPictureFileQuiet(refused, folder / "a.jpg"), FileOutcome::Failed);
    Reading rows = ReadByRows([&] { return OpenJpegRowReader(folder / "a.jpg"); }, 5);
    SetStorageLimit(kMaxStorageBytes);
    ExpectSameReading(rows, whole);
    Reading limited =
        ReadByRows([&] { return OpenJpegRowReader(folder / "a.jpg", {}, {1 << 20, 1 << 16}); }, 5);
    EXPECT_EQ(limited.refusal, "JPEG: picture of 320 x 240 pixels is too large");
}

// ---- Writing ----

// Writes the picture's rows top row first in bands of band rows.
void WriteByRows(PictureRowWriter& writer, const TBitmap& picture, int band) {
    const std::size_t stride = std::size_t(picture.Stride());
    Bytes rows;
    for (int y = 0; y < picture.Height(); ++y)
        rows.insert(rows.end(), picture.RowAddress(y), picture.RowAddress(y) + stride);
    for (int y = 0; y < picture.Height(); y += band)
        writer.Write(rows.data() + std::size_t(y) * stride, std::min(band, picture.Height() - y));
    writer.Finish();
}

// Pictures in every format the BMP writer meets, row order and header form
// as read.
std::vector<std::pair<std::string, std::unique_ptr<TBitmap>>> PicturesToWrite() {
    std::vector<std::pair<std::string, std::unique_ptr<TBitmap>>> pictures;
    for (PixelDepth depth : {Depth1, Depth4, Depth8, Depth15, Depth16, Depth24, Depth32, DepthDevice})
        pictures.emplace_back("depth " + std::to_string(int(depth)),
                              testing::RandomPicture(depth, 29, 13, unsigned(depth)));
    for (const auto& file : FilesIn(kSuite / "g")) {
        auto picture = std::make_unique<TBitmap>();
        picture->ReadBmpFile(file.string());
        pictures.emplace_back(file.filename().string(), std::move(picture));
    }
    for (const CraftedBmp& c : CraftedFiles()) {
        Bytes file = testing::BuildBmp(c.fields);
        auto picture = std::make_unique<TBitmap>();
        ReadBmpData(*picture, file.data(), file.size());
        pictures.emplace_back(c.name, std::move(picture));
    }
    return pictures;
}

TEST(BmpRowWriter, WritesTheBytesOfTheWholePictureWriterForEveryFormat) {
    TempFolder folder;
    for (const auto& [name, picture] : PicturesToWrite()) {
        SCOPED_TRACE(name);
        const Bytes expected = EncodeBmp(*picture);
        // Each save flushes to the disk; two are enough to cover bands of
        // one row and of several, and both kinds of temporary file.
        for (auto [band, temporary] : {std::pair{1, SafeFileWriter::Temporary::Unnamed},
                                       std::pair{4, SafeFileWriter::Temporary::Named}}) {
            auto writer = CreateBmpRowWriter(folder / "out.bmp", picture->Image(), temporary);
            WriteByRows(*writer, *picture, band);
            EXPECT_TRUE(testing::ReadAll(folder / "out.bmp") == expected) << band;
        }
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.bmp"});
}

TEST(JpegRowWriter, WritesTheBytesOfCompressForEveryFormat) {
    TempFolder folder;
    std::vector<std::pair<std::string, std::unique_ptr<TBitmap>>> pictures = PicturesToWrite();
    for (auto [width, height] : {std::pair{1, 1}, {15, 17}, {64, 3}})
        pictures.emplace_back("true colour " + std::to_string(width),
                              testing::RandomPicture(Depth24, width, height, unsigned(height)));
    for (const auto& [name, picture] : pictures) {
        SCOPED_TRACE(name);
        for (int quality : {85, 40}) {
            const Bytes expected = Encoded(*picture, quality);
            auto writer = CreateJpegRowWriter(folder / "out.jpg", picture->Image(), quality);
            WriteByRows(*writer, *picture, 5);
            EXPECT_TRUE(testing::ReadAll(folder / "out.jpg") == expected) << quality;
        }
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"out.jpg"});

    // With metadata, the segments Compress writes after the header.
    PictureMetadata metadata;
    metadata.exif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0};
    metadata.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
    metadata.photoshop.push_back(Bytes(300, 7));
    auto picture = testing::RandomPicture(Depth24, 41, 23, 8);
    TJPEGImage jpeg;
    jpeg.Assign(*picture);
    jpeg.SetCompressionQuality(85);
    jpeg.SetOutputMetadata(metadata);
    jpeg.Compress();
    auto writer = CreateJpegRowWriter(folder / "out.jpg", picture->Image(), 85, metadata);
    WriteByRows(*writer, *picture, 5);
    EXPECT_TRUE(testing::ReadAll(folder / "out.jpg") == Bytes(jpeg.Data().begin(), jpeg.Data().end()));
    EXPECT_GT(jpeg.Data().size(), Encoded(*picture).size() + 300) << "the metadata was written";
}

TEST(RowWriters, RefuseWhatTheWholePictureWritersRefuseBeforeTouchingTheTarget) {
    TempFolder folder;
    TBitmapImage tall = CopyFormat(testing::RandomPicture(Depth24, 4, 4, 1)->Image());
    tall.height = kMaxJpegSide + 1;
    try {
        CreateJpegRowWriter(folder / "a.jpg", tall, 85);
        ADD_FAILURE() << "a side too long for JPEG";
    } catch (const BitmapError& error) {
        EXPECT_STREQ(error.what(), "JPEG: a side longer than 65500 pixels cannot be encoded");
    }
    TBitmapImage huge = CopyFormat(tall);
    huge.width = 40000;
    huge.height = 40000;
    huge.stride = StrideFor(40000, 24);
    EXPECT_THROW(CreateBmpRowWriter(folder / "a.bmp", huge), BitmapError) << "beyond 4 GiB";
    ASSERT_EQ(::mkdir((folder / "taken.jpg").c_str(), 0700), 0);
    auto picture = testing::RandomPicture(Depth24, 8, 8, 2);
    FileResult whole = SavePictureFileQuiet(*picture, folder / "taken.jpg");
    try {
        CreateJpegRowWriter(folder / "taken.jpg", picture->Image(), 85);
        ADD_FAILURE() << "a folder as the target";
    } catch (const BitmapError& error) {
        EXPECT_EQ(error.what(), whole.reason);
    }
    EXPECT_EQ(folder.Names(), std::vector<std::string>{"taken.jpg"});
}

TEST(RowWriters, AWriterLeftUnfinishedOrFailingLeavesTheTargetAndNoFile) {
    TempFolder folder;
    auto picture = testing::RandomPicture(Depth24, 300, 300, 4);
    for (const char* name : {"a.bmp", "a.jpg"}) {
        SCOPED_TRACE(name);
        const std::string path = folder / name;
        const Bytes original = testing::RandomBytes(100, 7);
        testing::WriteAll(path, original);
        auto create = [&]() {
            return std::string(name).ends_with(".bmp")
                       ? CreateBmpRowWriter(path, picture->Image())
                       : CreateJpegRowWriter(path, picture->Image(), 85);
        };
        {
            auto writer = create();
            writer->Write(picture->RowAddress(0), 1);
        }
        EXPECT_EQ(testing::ReadAll(path), original);
        {
            auto writer = create();
            EXPECT_THROW(writer->Finish(), BitmapError) << "rows missing";
        }
        EXPECT_EQ(testing::ReadAll(path), original);

        // A disk that fills up half-way: the reason of the whole-picture
        // writer, and nothing changed.
        pid_t child = ::fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit{16384, 16384};
            ::setrlimit(RLIMIT_FSIZE, &limit);
            FileResult whole = SavePictureFileQuiet(*picture, path);
            try {
                auto writer = create();
                for (int y = 0; y < picture->Height(); ++y) writer->Write(picture->RowAddress(y), 1);
                writer->Finish();
            } catch (const BitmapError& error) {
                ::_exit(whole.reason == error.what() &&
                                whole.reason.find("File too large") != std::string::npos
                            ? 0
                            : 2);
            }
            ::_exit(3);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
        EXPECT_EQ(testing::ReadAll(path), original);
    }
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"a.bmp", "a.jpg"}));
}

}  // namespace
}  // namespace sigillon
