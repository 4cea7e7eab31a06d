// The real sigillon on a private X server, driven with real pointer and key
// events as a user would: start, test picture, overview, save through the
// save dialog, open through the open dialog, close. The saved file is
// compared with the test picture that the program's own library makes.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "pictures/bitmap.h"
#include "pictures/bmp.h"
#include "pictures/test_picture.h"
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
constexpr int kPanelHeight = 105;

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
        fs::create_directories(SIGILLON_E2E_ARTEFACTS);
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        log_ = fs::path(SIGILLON_E2E_ARTEFACTS) / (name + ".log");

        // The working folder is where the file dialogs start; the dialogs'
        // own history goes to a configuration folder of this run.
        program_ = StartProcess({SIGILLON_PROGRAM}, work_.string(),
                                {{"DISPLAY", x_.DisplayName()},
                                 {"QT_QPA_PLATFORM", "xcb"},
                                 {"XDG_CONFIG_HOME", (work_ / "config").string()},
                                 {"LANG", "C.UTF-8"}},
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
    x_.RequestClose(main_);
    std::optional<int> status = WaitForExit(program_, seconds(20));
    ASSERT_TRUE(status) << "the program did not end after its window was closed; " << Diagnostics();
    program_ = -1;
    ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status) << "; " << Diagnostics();
    EXPECT_EQ(WEXITSTATUS(*status), 0) << Diagnostics();
}

}  // namespace
}  // namespace sigillon::e2e
