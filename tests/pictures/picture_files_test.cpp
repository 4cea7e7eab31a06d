#include "pictures/picture_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>

#include "pictures/bmp/bmp.h"
#include "pictures/jpeg/jpeg_image.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

using testing::Bytes;
using testing::TempFolder;

TEST(PictureKind, ExtensionIsLowerCasedAndCutToFourCharacters) {
    struct Case {
        const char* path;
        PictureKind kind;
    };
    const Case cases[] = {
        {"photo.jpg", PictureKind::Jpeg},
        {"photo.JPG", PictureKind::Jpeg},
        {"photo.Jpg", PictureKind::Jpeg},
        {"photo.jpg2", PictureKind::Jpeg},  // cut to ".jpg"
        {"photo.jpgfoo", PictureKind::Jpeg},
        {"photo.jpeg", PictureKind::None},
        {"photo.jpe", PictureKind::None},
        {"photo.bmp", PictureKind::Bmp},
        {"photo.BMP", PictureKind::Bmp},
        {"photo.bmpx", PictureKind::Bmp},
        {"photo.png", PictureKind::None},
        {"photo", PictureKind::None},
        {"", PictureKind::None},
        {".jpg", PictureKind::Jpeg},
        {"photo.", PictureKind::None},
        {"photo.jpg.", PictureKind::None},
        {"archive.tar.bmp", PictureKind::Bmp},
        {"photo.bmp.jpg", PictureKind::Jpeg},
        // Only A to Z are lowered: other bytes stay as they are.
        {"photo.\xC3\x89PG", PictureKind::None},
        {"photo. jpg", PictureKind::None},
        // A dot in a folder name does not count, after any delimiter.
        {"pictures.jpg/photo", PictureKind::None},
        {"/home/user/pictures.d/photo", PictureKind::None},
        {"/home/user/pictures.d/photo.Bmp", PictureKind::Bmp},
        {"dir.bmp\\photo", PictureKind::None},
        {"C:photo.jpg", PictureKind::Jpeg},
        {"x.jpg:photo", PictureKind::None},
    };
    for (const Case& c : cases) EXPECT_EQ(PictureKindOf(c.path), c.kind) << '"' << c.path << '"';
}

TEST(PictureKind, FileNamePartFollowsTheLastDelimiter) {
    EXPECT_EQ(FileNamePart("/home/user/photo.jpg"), "photo.jpg");
    EXPECT_EQ(FileNamePart("photo.jpg"), "photo.jpg");
    EXPECT_EQ(FileNamePart("C:\\pictures\\a.bmp"), "a.bmp");
    EXPECT_EQ(FileNamePart("C:a.bmp"), "a.bmp");
    EXPECT_EQ(FileNamePart("folder/"), "");
    EXPECT_EQ(FileNamePart(""), "");
}

TEST(PictureKind, MessageIsThePathFollowedByTheFixedText) {
    EXPECT_EQ(WrongFormatMessage("/tmp/a b.JPG"), "/tmp/a b.JPG - Error: wrong format");
}

// A picture to load over: the tests check that failures leave it alone.
class PictureFiles : public ::testing::Test {
protected:
    PictureFiles() : before_(testing::RandomPicture(Depth24, 3, 2, 90)) {
        picture_.ShareImage(*before_);
        picture_.OnChange = [this] { ++changes_; };
    }
    void ExpectUntouched() {
        EXPECT_TRUE(picture_.SharesImageWith(*before_));
        EXPECT_EQ(changes_, 0);
    }
    Bytes JpegBytes() {
        TJPEGImage jpeg;
        jpeg.Assign(*testing::RandomPicture(Depth24, 8, 6, 91));
        jpeg.Compress();
        return Bytes(jpeg.Data().begin(), jpeg.Data().end());
    }
    Bytes BmpBytes() { return EncodeBmp(*testing::RandomPicture(Depth24, 5, 4, 92)); }

    TempFolder folder_;
    std::unique_ptr<TBitmap> before_;
    TBitmap picture_;
    int changes_ = 0;
};

TEST_F(PictureFiles, UpperCaseJpgLoadsAsJpeg) {
    const std::string path = folder_ / "PHOTO.JPG";
    testing::WriteAll(path, JpegBytes());
    EXPECT_EQ(LoadPictureFileQuiet(picture_, path), FileOutcome::Done);
    EXPECT_EQ(picture_.GetDepth(), Depth24);
    EXPECT_EQ(picture_.Width(), 8);
    EXPECT_EQ(changes_, 1) << "the picture notifies once it shows the file";
}

TEST_F(PictureFiles, OtherExtensionsAndEmptyPathLoadNothing) {
    for (const char* name : {"photo.jpeg", "photo", "photo.png", "photo.jpe"}) {
        const std::string path = folder_ / name;
        testing::WriteAll(path, JpegBytes());
        FileResult result = LoadPictureFileQuiet(picture_, path);
        EXPECT_EQ(result, FileOutcome::Ignored) << name;
        EXPECT_EQ(result.reason, "") << name;
    }
    EXPECT_EQ(LoadPictureFileQuiet(picture_, ""), FileOutcome::Ignored);
    ExpectUntouched();
}

TEST_F(PictureFiles, EveryLoadFailureSaysWhyAndLeavesThePicture) {
    struct Case {
        const char* name;
        std::function<void(const std::string&)> make;
        const char* reason;  // what the reason must say
    };
    const Case cases[] = {
        {"bmp-inside.jpg", [this](const std::string& p) { testing::WriteAll(p, BmpBytes()); },
         "JPEG: "},
        {"jpeg-inside.bmp", [this](const std::string& p) { testing::WriteAll(p, JpegBytes()); },
         "BMP: not a BMP file"},
        {"empty.jpg", [](const std::string& p) { testing::WriteAll(p, {}); }, "JPEG: no data"},
        {"missing.jpg", [](const std::string&) {}, "No such file or directory"},
        {"missing.bmp", [](const std::string&) {}, "No such file or directory"},
        {"folder.bmp", [](const std::string& p) { ::mkdir(p.c_str(), 0700); }, "BMP: "},
        {"folder.jpg", [](const std::string& p) { ::mkdir(p.c_str(), 0700); }, "JPEG: "},
        {"two-bits.bmp",
         [this](const std::string& p) {
             Bytes b = BmpBytes();
             b[28] = 2;  // bits per pixel
             testing::WriteAll(p, b);
         },
         "BMP: 2 bits per pixel are not supported"},
        {"cut.bmp",
         [this](const std::string& p) {
             Bytes b = BmpBytes();
             b.resize(20);
             testing::WriteAll(p, b);
         },
         "BMP: file ends inside the info header"},
        {"cut.jpg",
         [this](const std::string& p) {
             Bytes b = JpegBytes();
             b.resize(40);
             testing::WriteAll(p, b);
         },
         "JPEG: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder_ / c.name;
        c.make(path);
        FileResult result = LoadPictureFileQuiet(picture_, path);
        EXPECT_EQ(result, FileOutcome::Failed);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(FailureMessage(path, result),
                  path + " - Error: wrong format (" + result.reason + ")");
        ExpectUntouched();
    }
}

TEST_F(PictureFiles, EmptyBmpFileEmptiesThePicture) {
    const std::string path = folder_ / "empty.bmp";
    testing::WriteAll(path, {});
    EXPECT_EQ(LoadPictureFileQuiet(picture_, path), FileOutcome::Done);
    EXPECT_TRUE(picture_.IsEmpty());
    EXPECT_TRUE(before_->Width() == 3) << "the other picture keeps its image";
}

TEST_F(PictureFiles, TrueColourPictureRoundTripsThroughBothFormats) {
    auto original = testing::RandomPicture(Depth24, 21, 13, 93);
    const std::string bmp = folder_ / "a.bmp";
    const std::string jpg = folder_ / "a.jpg";
    EXPECT_EQ(SavePictureFileQuiet(*original, bmp), FileOutcome::Done);
    EXPECT_EQ(SavePictureFileQuiet(*original, jpg), FileOutcome::Done);

    TBitmap fromBmp, fromJpg;
    EXPECT_EQ(LoadPictureFileQuiet(fromBmp, bmp), FileOutcome::Done);
    EXPECT_EQ(LoadPictureFileQuiet(fromJpg, jpg), FileOutcome::Done);
    EXPECT_EQ(fromBmp.GetDepth(), Depth24);
    EXPECT_EQ(testing::RowBytes(fromBmp), testing::RowBytes(*original));
    EXPECT_EQ(fromJpg.GetDepth(), Depth24);
    EXPECT_EQ(fromJpg.Width(), 21);
    EXPECT_EQ(fromJpg.Height(), 13);

    // The decoded photo saved as BMP: a plain bottom-up 24-bit file, its
    // pixels right after the two headers, that reads back as it was.
    const std::string converted = folder_ / "b.bmp";
    EXPECT_EQ(SavePictureFileQuiet(fromJpg, converted), FileOutcome::Done);
    const Bytes file = testing::ReadAll(converted);
    const std::uint32_t stride = (21 * 3 + 3) / 4 * 4;
    ASSERT_EQ(file.size(), 54 + stride * 13);
    EXPECT_EQ(testing::Get32(file, 2), file.size());
    EXPECT_EQ(testing::Get32(file, 10), 54u) << "data offset";
    EXPECT_EQ(testing::Get32(file, 14), 40u) << "info header size";
    EXPECT_EQ(std::int32_t(testing::Get32(file, 22)), 13) << "height, positive: bottom-up";
    EXPECT_EQ(testing::Get16(file, 28), 24u);
    TBitmap reread;
    EXPECT_EQ(LoadPictureFileQuiet(reread, converted), FileOutcome::Done);
    EXPECT_EQ(testing::RowBytes(reread), testing::RowBytes(fromJpg));
    // The bottom row comes first in the file.
    const std::uint8_t* bottom = fromJpg.RowAddress(12);
    EXPECT_TRUE(std::equal(bottom, bottom + 63, file.begin() + 54));
    EXPECT_EQ(folder_.Names(), (std::vector<std::string>{"a.bmp", "a.jpg", "b.bmp"}));
}

TEST_F(PictureFiles, EmptyPictureSavesAsAnEmptyFileInBothFormats) {
    TBitmap empty;
    for (const char* name : {"empty.jpg", "empty.bmp"}) {
        const std::string path = folder_ / name;
        EXPECT_EQ(SavePictureFileQuiet(empty, path), FileOutcome::Done);
        struct stat info;
        ASSERT_EQ(::stat(path.c_str(), &info), 0) << name;
        EXPECT_EQ(info.st_size, 0) << name;
    }
}

TEST_F(PictureFiles, SavingUnderAnotherExtensionIsRefusedWithAReason) {
    auto picture = testing::RandomPicture(Depth24, 4, 4, 94);
    for (const char* name : {"photo.png", "photo", "photo.jpeg"}) {
        const std::string path = folder_ / name;
        FileResult result = SavePictureFileQuiet(*picture, path);
        EXPECT_EQ(result, FileOutcome::Failed);
        EXPECT_EQ(result.reason, "the name ends in no picture file type (.jpg or .bmp)");
    }
    EXPECT_TRUE(folder_.Names().empty());
    EXPECT_EQ(SavePictureFileQuiet(*picture, ""), FileOutcome::Ignored);
}

TEST_F(PictureFiles, SavingIntoAMissingFolderSaysWhyAndWritesNothing) {
    auto picture = testing::RandomPicture(Depth24, 4, 4, 95);
    for (const char* name : {"nowhere/a.jpg", "nowhere/a.bmp"}) {
        const std::string path = folder_ / name;
        FileResult result = SavePictureFileQuiet(*picture, path);
        EXPECT_EQ(result, FileOutcome::Failed);
        EXPECT_NE(result.reason.find("No such file or directory"), std::string::npos)
            << result.reason;
        EXPECT_EQ(result.reason.substr(0, 4), name[10] == 'j' ? "JPEG" : "BMP:");
    }
    EXPECT_TRUE(folder_.Names().empty());
}

TEST_F(PictureFiles, SavingDoesNotChangeThePicture) {
    auto picture = testing::RandomPicture(Depth8, 6, 5, 96);
    const Bytes rows = testing::RowBytes(*picture);
    int changes = 0;
    picture->OnChange = [&] { ++changes; };
    EXPECT_EQ(SavePictureFileQuiet(*picture, folder_ / "a.jpg"), FileOutcome::Done);
    EXPECT_EQ(SavePictureFileQuiet(*picture, folder_ / "a.bmp"), FileOutcome::Done);
    EXPECT_EQ(picture->GetDepth(), Depth8);
    EXPECT_EQ(testing::RowBytes(*picture), rows);
    EXPECT_EQ(changes, 0);
}

}  // namespace
}  // namespace sigillon
