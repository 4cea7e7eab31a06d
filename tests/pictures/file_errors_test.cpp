// A file that cannot be read or written is refused in the same words by
// every reader and writer of every format: the format, then the system's
// account of what failed. Users and the batch tool's reports see exactly
// these texts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>
#include <string>

#include "pictures/bmp/bmp.h"
#include "pictures/bmp/bmp_rows.h"
#include "pictures/files/shared_library.h"
#include "pictures/jpeg/jpeg_image.h"
#include "pictures/jpeg/jpeg_rows.h"
#include "pictures/picture_files.h"
#include "pictures/png/png_file.h"
#include "tests/support/files_test_support.h"

namespace sigillon {
namespace {

TEST(FileErrors, EveryReaderAndWriterNamesItsFormatAndTheSystemsReason) {
    testing::TempFolder folder;
    for (const char* name : {"folder.bmp", "folder.jpg", "folder.png"})
        ASSERT_EQ(::mkdir((folder / name).c_str(), 0700), 0);
    auto picture = testing::RandomPicture(Depth24, 8, 8, 3);
    const TBitmapImage& format = picture->Image();
    const std::string missing = ": No such file or directory";
    const std::string folderTaken = ": Is a directory";
    struct Case {
        const char* what;
        std::function<void(const std::string&)> run;
        std::string path;
        std::string message;  // the path goes between its halves
        std::string after;
    };
    const Case cases[] = {
        {"BMP read", [](auto& p) { TBitmap().ReadBmpFile(p); }, folder / "m.bmp",
         "BMP: cannot open ", missing},
        {"BMP rows read", [](auto& p) { OpenBmpRowReader(p); }, folder / "m.bmp",
         "BMP: cannot open ", missing},
        {"JPEG read", [](auto& p) { TJPEGImage().LoadFromFile(p); }, folder / "m.jpg",
         "JPEG: cannot open ", missing},
        {"JPEG rows read", [](auto& p) { OpenJpegRowReader(p); }, folder / "m.jpg",
         "JPEG: cannot open ", missing},
        {"PNG read", [](auto& p) { ReadPngFile(p); }, folder / "m.png", "PNG: cannot open ",
         missing},
        {"BMP read of a folder", [](auto& p) { TBitmap().ReadBmpFile(p); }, folder / "folder.bmp",
         "BMP: ", folderTaken},
        {"BMP write", [&](auto& p) { picture->WriteBmpFile(p); }, folder / "folder.bmp",
         "BMP: ", folderTaken},
        {"BMP rows write", [&](auto& p) { CreateBmpRowWriter(p, format); }, folder / "folder.bmp",
         "BMP: ", folderTaken},
        {"JPEG write",
         [&](auto& p) { throw BitmapError(SavePictureFileQuiet(*picture, p).reason); },
         folder / "folder.jpg", "JPEG: ", folderTaken},
        {"JPEG rows write", [&](auto& p) { CreateJpegRowWriter(p, format, 85); },
         folder / "folder.jpg", "JPEG: ", folderTaken},
        {"PNG write", [&](auto& p) { WritePngFile(p, *picture, {}, {}); }, folder / "folder.png",
         "PNG: ", folderTaken},
        {"JPEG write into a missing folder",
         [&](auto& p) { throw BitmapError(SavePictureFileQuiet(*picture, p).reason); },
         folder / "nowhere/a.jpg", "JPEG: cannot create a file beside ", missing},
    };
    for (const Case& c : cases) {
        try {
            c.run(c.path);
            ADD_FAILURE() << c.what << " succeeded";
        } catch (const BitmapError& error) {
            EXPECT_EQ(error.what(), c.message + c.path + c.after) << c.what;
        }
    }
}

// A library loaded when a file first needs it says which, and why it
// cannot be had, in the format's words.
TEST(FileErrors, ALibraryThatCannotBeLoadedIsNamedWithTheReason) {
    try {
        SharedLibrary("libsigillon-none.so.0", "HEIF: ");
        ADD_FAILURE() << "loaded";
    } catch (const BitmapError& error) {
        EXPECT_EQ(
            std::string(error.what()).rfind("HEIF: libsigillon-none.so.0 cannot be loaded: ", 0),
            0u)
            << error.what();
    }
    const SharedLibrary c("libc.so.6", "X: ");
    EXPECT_NE(c.Function("strlen"), nullptr);
    try {
        c.Function("sigillon_none");
        ADD_FAILURE() << "found";
    } catch (const BitmapError& error) {
        EXPECT_STREQ(error.what(), "X: the library has no sigillon_none");
    }
}

}  // namespace
}  // namespace sigillon
