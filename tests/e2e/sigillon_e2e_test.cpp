// The real sigillon on a private X server, driven with real pointer and key
// events as a user would: start, test picture, overview, save through the
// save dialog, open through the open dialog, close. The saved file is
// compared with the test picture that the program's own library makes.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "pictures/bmp/bmp.h"
#include "pictures/raster/test_picture.h"
#include "tests/e2e/x_session.h"

namespace sigillon::e2e {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

const std::string kTitle = "Sigillon 1.0.1";
const std::string kOverviewTitle = "\u6982\u8FF0 - Sigillon 1.0.1";   // 概述 - Sigillon 1.0.1
const std::string kSaveDialogTitle = "\u4FDD\u5B58\u4E3A\u56FE\u7247...";  // 保存为图片...
const std::string kOpenDialogTitle = "Select the picture to stamp";

// Client coordinates of the controls, from the main window's layout: the
// panel's group boxes at their left edges, the buttons inside them.
struct Point {
    int x, y;
};
constexpr Point kOpenButton{10 + 40, 25 + 30};
constexpr Point kTestButton{170 + 30, 25 + 30};
constexpr Point kOverviewButton{230 + 30, 25 + 30};
constexpr Point kSaveButton{290 + 40, 25 + 30};
constexpr Point kStampText{390 + 10 + 60, 20 + 12};
constexpr Point kColourButton{390 + 10 + 60, 50 + 10};
constexpr Point kBiggerArrow{390 + 64 + 25, 75 + 8};
constexpr Point kStampTextButton{390 + 146 + 45, 25 + 30};
constexpr Point kModeButton{870 + 30, 25 + 30};
constexpr int kPanelHeight = 105;

// The mode strip's artwork: a 10 x 10 ring or an 11 x 11 mark, 4 pixels in
// from the corner of a 32 x 32 cell.
constexpr int kBottomMarkDrop = 32 - 4 - 10 - 4;
constexpr QRgb kStripBlue = 0x0000FF;  // as the screen shows 0x00FF0000
constexpr QRgb kStripGrey = 0x808080;

constexpr auto kWindowWait = seconds(20);
constexpr unsigned kWholeTestSeconds = 150;

std::vector<std::uint8_t> FileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Counts the pixels of the picture that the image does not show exactly at
// (left, top), and describes the first of them.
int CountMismatches(const QImage& shown, const TBitmap& picture, int left, int top,
                    std::string& first) {
    int mismatches = 0;
    for (int y = 0; y < picture.Height(); ++y) {
        const std::uint8_t* row = picture.RowAddress(y);
        for (int x = 0; x < picture.Width(); ++x) {
            int sx = left + x, sy = top + y;
            QRgb expected = qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
            QRgb actual = sx < shown.width() && sy < shown.height() ? shown.pixel(sx, sy) : 0;
            if ((actual & 0xFFFFFF) == (expected & 0xFFFFFF)) continue;
            if (mismatches++ == 0) {
                char text[160];
                std::snprintf(text, sizeof text, "picture pixel %d,%d shows #%06x, not #%06x", x, y,
                              unsigned(actual & 0xFFFFFF), unsigned(expected & 0xFFFFFF));
                first = text;
            }
        }
    }
    return mismatches;
}

// The box around every pixel of one exact colour inside a part of an image.
struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    bool Empty() const { return right < 0; }
    int Width() const { return right - left + 1; }
    int Height() const { return bottom - top + 1; }
    void Add(int x, int y) {
        left = std::min(left, x);
        top = std::min(top, y);
        right = std::max(right, x);
        bottom = std::max(bottom, y);
    }
};

Box ColourBox(const QImage& image, Rect part, QRgb colour) {
    Box box;
    for (int y = part.y; y < part.y + part.height && y < image.height(); ++y)
        for (int x = part.x; x < part.x + part.width && x < image.width(); ++x)
            if ((image.pixel(x, y) & 0xFFFFFF) == colour) box.Add(x, y);
    return box;
}

// In a sanitizer build the program checks for leaks at exit; leaks inside
// system libraries are not ours to fix and would turn a clean exit into a
// failure.
std::string LeakCheckOptions() {
    std::string options = "suppressions=" SIGILLON_E2E_SOURCE_DIR "/lsan-system-libraries.supp"
                          ":print_suppressions=0";
    if (const char* own = std::getenv("LSAN_OPTIONS"); own && *own) options = std::string(own) + ":" + options;
    return options;
}

class SigillonE2e : public ::testing::Test {
protected:
    void SetUp() override {
        ArmWatchdog(kWholeTestSeconds);
        std::string error;
        ASSERT_TRUE(x_.Start(1600, 1200, error)) << error;

        char pattern[] = "/tmp/sigillon-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        work_ = pattern;
        fs::create_directories(work_ / "config");
        fs::create_directories(work_ / "runtime");
        fs::permissions(work_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(SIGILLON_E2E_ARTEFACTS);
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        log_ = fs::path(SIGILLON_E2E_ARTEFACTS) / (name + ".log");

        // The working folder is where the file dialogs start; the dialogs'
        // own history goes to a configuration folder of this run.
        program_ = StartProcess({SIGILLON_PROGRAM}, work_.string(),
                                {{"DISPLAY", x_.DisplayName()},
                                 {"QT_QPA_PLATFORM", "xcb"},
                                 {"XDG_CONFIG_HOME", (work_ / "config").string()},
                                 {"XDG_RUNTIME_DIR", (work_ / "runtime").string()},
                                 {"LANG", "C.UTF-8"},
                                 {"LSAN_OPTIONS", LeakCheckOptions()}},
                                log_.string());
        ASSERT_GT(program_, 0);
        WatchChild(program_);
        auto window = x_.WaitForWindow(kTitle, kWindowWait);
        ASSERT_TRUE(window) << "no window titled \"" << kTitle << "\"; " << Diagnostics();
        main_ = *window;
    }

    void TearDown() override {
        if (program_ > 0) KillProcessGroup(program_);
        std::error_code ignored;
        if (!work_.empty()) fs::remove_all(work_, ignored);
        alarm(0);
    }

    // What a failure message needs: the windows there are and the program's
    // own output so far.
    std::string Diagnostics() {
        std::string text = "windows shown:";
        for (const auto& t : x_.VisibleTitles()) text += " \"" + t + "\"";
        std::ifstream log(log_);
        std::string output{std::istreambuf_iterator<char>(log), {}};
        if (!output.empty()) text += "\nprogram output:\n" + output.substr(0, 4000);
        return text;
    }

    void Press(Point p) {
        x_.Click(main_, p.x, p.y);
        x_.MovePointerAway();
    }

    // Waits for the main window's title to become title.
    void ExpectTitle(const std::string& title) {
        auto found = x_.WaitForWindow(title, kWindowWait);
        ASSERT_TRUE(found) << "main window not titled \"" << title << "\"; " << Diagnostics();
        EXPECT_EQ(*found, main_);
    }

    // Types a full path into the file dialog that has the title and confirms
    // it with Enter. A completion list that opens while typing takes the
    // first Enter, so Enter is repeated while the dialog stays.
    void AnswerFileDialog(const std::string& dialogTitle, const fs::path& path) {
        auto dialog = x_.WaitForWindow(dialogTitle, kWindowWait);
        ASSERT_TRUE(dialog) << "no dialog \"" << dialogTitle << "\"; " << Diagnostics();
        x_.Key(*dialog, "ctrl+a");
        x_.TypeText(*dialog, path.string());
        bool closed = false;
        for (int attempt = 0; attempt < 4 && !closed; ++attempt) {
            x_.Key(*dialog, "Return");
            closed = x_.WaitUntilGone(dialogTitle, seconds(2));
        }
        ASSERT_TRUE(closed) << "the dialog \"" << dialogTitle << "\" stayed; " << Diagnostics();
    }

    // Polls the main window until it shows the picture at (left, top).
    void ExpectShown(const TBitmap& picture, int left, int top, const std::string& screenshot) {
        QImage shown;
        std::string first;
        int mismatches = -1;
        PollUntil(seconds(10), [&] {
            shown = x_.Grab(main_);
            mismatches = CountMismatches(shown, picture, left, top, first);
            return mismatches == 0;
        });
        if (!screenshot.empty())
            shown.save(QString::fromStdString((fs::path(SIGILLON_E2E_ARTEFACTS) / screenshot).string()));
        EXPECT_EQ(mismatches, 0) << first;
    }

    // Presses the mode button and waits until the glyph shows the mode's mark
    // (a blue ring for 0 to 3, a grey (c) for 4 to 7) where the mode stamps,
    // measured from where mode 0's ring was.
    void PressModeUntil(int presses, int mode, const Box& ringOfMode0) {
        for (int i = 0; i < presses; ++i) Press(kModeButton);
        const Rect button{870, 25, 60, 60};
        const QRgb mark = mode < 4 ? kStripBlue : kStripGrey;
        const QRgb other = mode < 4 ? kStripGrey : kStripBlue;
        const int drop = (mode % 4) >= 2 ? kBottomMarkDrop : 0;
        Box box;
        bool shown = PollUntil(seconds(10), [&] {
            QImage image = x_.Grab(main_);
            box = ColourBox(image, button, mark);
            return !box.Empty() && ColourBox(image, button, other).Empty() &&
                   box.left == ringOfMode0.left && box.top == ringOfMode0.top + drop;
        });
        ASSERT_TRUE(shown) << "the mode button does not show mode " << mode << " (mark at "
                           << box.left << "," << box.top << ", mode 0's ring at "
                           << ringOfMode0.left << "," << ringOfMode0.top << ")";
    }

    // Presses a stamp button and waits until the view has changed and then
    // stays the same for a moment: the pass has ended.
    QImage StampAndWait(Point button, const QImage& before) {
        Press(button);
        QImage now = before;
        PollUntil(seconds(20), [&] {
            now = x_.Grab(main_);
            return now != before;
        });
        QImage previous;
        PollUntil(seconds(20), [&] {
            previous = now;
            struct timespec pause {0, 150'000'000};
            nanosleep(&pause, nullptr);
            now = x_.Grab(main_);
            return now == previous;
        });
        return now;
    }

    void CloseAndExpectSuccess() {
        x_.RequestClose(main_);
        std::optional<int> status = WaitForExit(program_, seconds(20));
        ASSERT_TRUE(status) << "the program did not end after its window was closed; "
                            << Diagnostics();
        program_ = -1;
        ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "; "
                                        << Diagnostics();
        EXPECT_EQ(WEXITSTATUS(*status), 0) << Diagnostics();
    }

    XSession x_;
    fs::path work_;
    fs::path log_;
    pid_t program_ = -1;
    XWindow main_ = 0;
};

TEST_F(SigillonE2e, PictureCommandsFromStartToClose) {
    // Start: the title and the client area of the first showing.
    Rect start = x_.WaitForSize(main_, 1020, 510, seconds(5));
    EXPECT_EQ(start.width, 1020);
    EXPECT_EQ(start.height, 510);

    // The test picture: centred at (1020 - 768) / 2, the window fitted to it.
    std::unique_ptr<TBitmap> testPicture = MakeTestPicture();
    Press(kTestButton);
    ASSERT_NO_FATAL_FAILURE(ExpectTitle(kTitle + " - test"));
    Rect fitted = x_.WaitForSize(main_, 1020, 600 + kPanelHeight, seconds(5));
    EXPECT_EQ(fitted.width, 1020);
    EXPECT_EQ(fitted.height, 705);
    ExpectShown(*testPicture, 126, kPanelHeight, "main-window-test-picture.png");

    // The overview comes and goes with its button; it shows the whole
    // picture, dark at the left of the gray ramp and light at its right.
    Press(kOverviewButton);
    auto overview = x_.WaitForWindow(kOverviewTitle, kWindowWait);
    ASSERT_TRUE(overview) << Diagnostics();
    auto box = x_.Geometry(*overview);
    ASSERT_TRUE(box);
    EXPECT_NEAR(box->height, box->width * 600.0 / 768.0, 1.0) << "not snapped to 768 x 600";
    QImage small;
    bool looksRight = PollUntil(seconds(10), [&] {
        small = x_.Grab(*overview);
        if (small.width() < 32 || small.height() < 32) return false;
        return qGray(small.pixel(1, 1)) < 40 && qGray(small.pixel(small.width() - 2, 1)) > 215;
    });
    small.save(QString::fromStdString((fs::path(SIGILLON_E2E_ARTEFACTS) / "overview.png").string()));
    EXPECT_TRUE(looksRight) << "the overview does not show the gray ramp";
    Press(kOverviewButton);
    EXPECT_TRUE(x_.WaitUntilGone(kOverviewTitle, kWindowWait)) << "the overview stayed";

    // Save through the save dialog: the file is the test picture as BMP.
    const fs::path saved = work_ / "saved.bmp";
    Press(kSaveButton);
    ASSERT_NO_FATAL_FAILURE(AnswerFileDialog(kSaveDialogTitle, saved));
    ASSERT_NO_FATAL_FAILURE(ExpectTitle(kTitle + " - saved.bmp"));
    ASSERT_TRUE(PollUntil(seconds(10), [&] {
        std::error_code e;
        return fs::file_size(saved, e) == 1'382'454u;
    })) << "no BMP file of 1,382,454 bytes at " << saved;
    std::vector<std::uint8_t> bytes = FileBytes(saved);
    TBitmap read;
    ASSERT_NO_THROW(ReadBmpData(read, bytes.data(), bytes.size()));
    ASSERT_EQ(read.Width(), 768);
    ASSERT_EQ(read.Height(), 600);
    EXPECT_EQ(read.GetDepth(), Depth24);
    int differentRows = 0;
    for (int y = 0; y < 600; ++y)
        if (std::memcmp(read.RowAddress(y), testPicture->RowAddress(y), 768 * 3) != 0) ++differentRows;
    EXPECT_EQ(differentRows, 0) << "rows of the saved file differ from the test picture";
    EXPECT_TRUE(bytes == EncodeBmp(*testPicture)) << "the file is not the test picture's BMP";

    // Another test picture, then open the saved file: the title names it and
    // the view shows its pixels.
    Press(kTestButton);
    ASSERT_NO_FATAL_FAILURE(ExpectTitle(kTitle + " - test"));
    Press(kOpenButton);
    ASSERT_NO_FATAL_FAILURE(AnswerFileDialog(kOpenDialogTitle, saved));
    ASSERT_NO_FATAL_FAILURE(ExpectTitle(kTitle + " - saved.bmp"));
    ExpectShown(read, 126, kPanelHeight, "");

    // Closing the window ends the program, successfully.
    CloseAndExpectSuccess();
}

// A text stamp as a user makes one: type the text, pick red and size 4,
// stamp it once as a watermark in the top-left corner and once solid in the
// bottom-left corner, and save. The saved picture differs from the test
// picture in those two corners and nowhere else. Disabled until the stamp
// controls have their handlers; remove the prefix then.
TEST_F(SigillonE2e, TextStampInTwoCornersThenSave) {
    std::unique_ptr<TBitmap> testPicture = MakeTestPicture();
    Press(kTestButton);
    ASSERT_NO_FATAL_FAILURE(ExpectTitle(kTitle + " - test"));
    ASSERT_NO_FATAL_FAILURE(ExpectShown(*testPicture, 126, kPanelHeight, ""));

    // Where mode 0's ring sits on the mode button: the other modes' marks
    // are found relative to it.
    const Box ring0 = ColourBox(x_.Grab(main_), Rect{870, 25, 60, 60}, kStripBlue);
    ASSERT_FALSE(ring0.Empty()) << "the mode button shows no blue ring at start";

    Press(kStampText);
    x_.Key(main_, "ctrl+a");
    x_.TypeText(main_, "Sigillon e2e");
    x_.MovePointerAway();
    // Grey, blue, red: the text field then shows its text in red.
    for (int i = 0; i < 3; ++i) Press(kColourButton);
    EXPECT_TRUE(PollUntil(seconds(10), [&] {
        return !ColourBox(x_.Grab(main_), Rect{400, 20, 120, 24}, 0xFF0000).Empty();
    })) << "the text field does not show red text";
    Press(kBiggerArrow);

    ASSERT_NO_FATAL_FAILURE(PressModeUntil(4, 4, ring0));
    QImage afterWatermark = StampAndWait(kStampTextButton, x_.Grab(main_));
    ASSERT_NO_FATAL_FAILURE(PressModeUntil(7, 2, ring0));
    QImage afterStamp = StampAndWait(kStampTextButton, afterWatermark);
    afterStamp.save(QString::fromStdString(
        (fs::path(SIGILLON_E2E_ARTEFACTS) / "main-window-text-stamps.png").string()));

    const fs::path saved = work_ / "stamped.bmp";
    Press(kSaveButton);
    ASSERT_NO_FATAL_FAILURE(AnswerFileDialog(kSaveDialogTitle, saved));
    ASSERT_NO_FATAL_FAILURE(ExpectTitle(kTitle + " - stamped.bmp"));
    ASSERT_TRUE(PollUntil(seconds(10), [&] {
        std::error_code e;
        return fs::file_size(saved, e) == 1'382'454u;
    })) << "no BMP file of 1,382,454 bytes at " << saved;
    std::vector<std::uint8_t> bytes = FileBytes(saved);
    TBitmap stamped;
    ASSERT_NO_THROW(ReadBmpData(stamped, bytes.data(), bytes.size()));
    ASSERT_EQ(stamped.GetDepth(), Depth24);
    ASSERT_EQ(stamped.Width(), 768);
    ASSERT_EQ(stamped.Height(), 600);
    // What the view shows is what was saved.
    ExpectShown(stamped, 126, kPanelHeight, "");

    // Every changed pixel lies in the top half or the bottom half of the
    // left side; the solid stamp left pure red pixels at the bottom.
    Box top, bottom, elsewhere;
    int red = 0;
    for (int y = 0; y < 600; ++y) {
        const std::uint8_t* a = stamped.RowAddress(y);
        const std::uint8_t* b = testPicture->RowAddress(y);
        for (int x = 0; x < 768; ++x) {
            if (std::memcmp(a + 3 * x, b + 3 * x, 3) == 0) continue;
            if (x < 384 && y < 150) {
                top.Add(x, y);
            } else if (x < 384 && y >= 450) {
                bottom.Add(x, y);
                if (a[3 * x] == 0 && a[3 * x + 1] == 0 && a[3 * x + 2] == 255) ++red;
            } else {
                elsewhere.Add(x, y);
            }
        }
    }
    EXPECT_TRUE(elsewhere.Empty()) << "pixels changed away from the two corners, e.g. at "
                                   << elsewhere.left << "," << elsewhere.top;
    ASSERT_FALSE(top.Empty()) << "the watermark changed nothing in the top-left corner";
    ASSERT_FALSE(bottom.Empty()) << "the stamp changed nothing in the bottom-left corner";
    // Both are the same text, placed against their corners.
    EXPECT_LT(top.left, 16);
    EXPECT_LT(top.top, 24);
    EXPECT_LT(bottom.left, 16);
    EXPECT_GT(bottom.bottom, 600 - 24);
    EXPECT_NEAR(top.Width(), bottom.Width(), 2);
    EXPECT_NEAR(top.Height(), bottom.Height(), 2);
    // Size 4 draws characters about 53 pixels high; the text is wider.
    EXPECT_GT(bottom.Height(), 25);
    EXPECT_LT(bottom.Height(), 80);
    EXPECT_GT(bottom.Width(), 2 * bottom.Height());
    EXPECT_GT(red, 200) << "the solid stamp is not red";

    CloseAndExpectSuccess();
}

}  // namespace
}  // namespace sigillon::e2e
