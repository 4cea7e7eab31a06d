// The window arithmetic, the enabled-state table and the small rules of the
// toolkit layer, checked without a window.
#include <gtest/gtest.h>

#include <cmath>

#include "app/button_states.h"
#include "app/sizing.h"
#include "app/toolkit/application.h"
#include "app/toolkit/picture_dialog.h"
#include "app/toolkit/raster_paint.h"

namespace sigillon {
namespace {

struct SnapCase {
    const char* name;
    int pictureWidth, pictureHeight;
    ClientSize client;
    ClientSize snapped;  // after the 32 x 32 minimum
};

TEST(OverviewSnap, FollowsThePictureProportions) {
    const SnapCase cases[] = {
        {"test picture 768x600 at 130", 768, 600, {130, 119}, {130, 102}},  // 101.5625
        {"4:3 at 130 rounds 97.5 minus a little down", 800, 600, {130, 119}, {130, 97}},
        {"400x100 at 130: 32.5 ties to even", 400, 100, {130, 119}, {130, 32}},
        {"134 / 4 = 33.5 ties to even", 400, 100, {134, 119}, {134, 34}},
        {"1000x100: 13 raised to the minimum", 1000, 100, {130, 119}, {130, 32}},
        {"portrait 480x640 keeps the height", 480, 640, {130, 119}, {89, 119}},  // 89.25
        {"square takes the client width", 500, 500, {130, 119}, {130, 130}},
        {"very tall: width raised to the minimum", 10, 1000, {130, 119}, {32, 119}},
    };
    for (const SnapCase& c : cases) {
        AspectRatioValue ratio = AspectRatioOf(c.pictureWidth, c.pictureHeight);
        EXPECT_EQ(OverviewMinimum(SnapToAspect(c.client, ratio)), c.snapped) << c.name;
    }
}

TEST(OverviewSnap, NeedsTheFortyBitRatio) {
    // With the quotient held as a double, 4:3 would snap to 98.
    double plain = 4.0 / 3.0;
    EXPECT_EQ(std::nearbyint(130 / plain), 98);
    EXPECT_GT(AspectRatioOf(4, 3), 4.0L / 3.0L);
    EXPECT_EQ(SnapToAspect({130, 1}, AspectRatioOf(4, 3)).height, 97);
}

TEST(OverviewSnap, ZeroRatioChangesNothing) {
    EXPECT_EQ(SnapToAspect({77, 55}, 0), (ClientSize{77, 55}));
    EXPECT_EQ(AspectRatioOf(10, 0), 0);
}

TEST(OverviewSnap, MinimumIsThirtyTwoEachWay) {
    EXPECT_EQ(OverviewMinimum({5, 200}), (ClientSize{32, 200}));
    EXPECT_EQ(OverviewMinimum({200, 31}), (ClientSize{200, 32}));
    EXPECT_EQ(OverviewMinimum({32, 32}), (ClientSize{32, 32}));
}

TEST(Rounding, TiesGoToEven) {
    EXPECT_EQ(RoundTiesToEven(32.5L), 32);
    EXPECT_EQ(RoundTiesToEven(33.5L), 34);
    EXPECT_EQ(RoundTiesToEven(101.5625L), 102);
    EXPECT_EQ(RoundTiesToEven(-0.5L), 0);
    EXPECT_EQ(RoundTiesToEven(1e30L), INT_MAX);
}

TEST(Rounding, SignificandOfFortyBits) {
    // 1 + 2^-39 is the next value after 1 with 40 significant bits.
    long double step = std::ldexp(1.0L, -39);
    EXPECT_EQ(RoundToSignificand(1 + step, 40), 1 + step);
    EXPECT_EQ(RoundToSignificand(1 + step / 2, 40), 1.0L);             // tie to even
    EXPECT_EQ(RoundToSignificand(1 + 3 * step / 2, 40), 1 + 2 * step);  // tie to even
    EXPECT_EQ(RoundToSignificand(1 + step / 2 + step / 8, 40), 1 + step);
    EXPECT_EQ(RoundToSignificand(0, 40), 0);
}

TEST(MainWindowSizes, CentringTruncatesAndRefusesWideViews) {
    EXPECT_EQ(CentredLeft(1020, 768), 126);
    EXPECT_EQ(CentredLeft(1020, 1019), 0);
    EXPECT_EQ(CentredLeft(1020, 145), 437);
    EXPECT_EQ(CentredLeft(1020, 1020), 0);
    EXPECT_EQ(CentredLeft(1020, 1021), 0);  // -1 / 2 truncates toward zero
    EXPECT_EQ(CentredLeft(1020, 1022), std::nullopt);
    EXPECT_EQ(CentredLeft(1020, 2000), std::nullopt);
}

TEST(MainWindowSizes, FittingIsBoundedByTheWidth) {
    EXPECT_EQ(FittedClientHeight(600, 105, 1020), 705);
    EXPECT_EQ(FittedClientHeight(0, 105, 1020), 105);
    EXPECT_EQ(FittedClientHeight(1019, 105, 1020), 1124);
    EXPECT_EQ(FittedClientHeight(1020, 105, 1020), std::nullopt);
    EXPECT_EQ(StandardClientSize(1020), (ClientSize{1020, 510}));
    EXPECT_EQ(StandardClientSize(1021), (ClientSize{1021, 510}));
}

TEST(MainWindowSizes, Minimum) {
    EXPECT_EQ(MainWindowMinimum({500, 100}, 1020, 105), (ClientSize{1020, 137}));
    EXPECT_EQ(MainWindowMinimum({1200, 137}, 1020, 105), (ClientSize{1200, 137}));
    EXPECT_EQ(MainWindowMinimum({1020, 136}, 1020, 105), (ClientSize{1020, 137}));
}

// Every event with every combination of a stamp picture and a view picture
// in hand, and the buttons reload, overview, save, stamp text and stamp
// after it; "keep" where the event leaves a button as it was.
TEST(EnabledStates, FollowTheTable) {
    using E = PictureEvent;
    constexpr bool on = true, off = false;
    constexpr std::nullopt_t keep = std::nullopt;
    struct Row {
        PictureEvent event;
        bool stampLoaded, pictureLoaded;
        EnabledStates after;
    };
    const Row table[] = {
        {E::Start, false, false, {off, on, off, off, off}},
        {E::Start, false, true, {off, on, off, off, off}},
        {E::Start, true, false, {off, on, off, off, off}},
        {E::Start, true, true, {off, on, off, off, off}},
        {E::PictureOpened, false, false, {on, on, on, on, off}},
        {E::PictureOpened, false, true, {on, on, on, on, off}},
        {E::PictureOpened, true, false, {on, on, on, on, on}},
        {E::PictureOpened, true, true, {on, on, on, on, on}},
        {E::TestPictureMade, false, false, {off, on, on, on, off}},
        {E::TestPictureMade, false, true, {off, on, on, on, off}},
        {E::TestPictureMade, true, false, {off, on, on, on, on}},
        {E::TestPictureMade, true, true, {off, on, on, on, on}},
        {E::StampOpened, false, false, {keep, keep, keep, keep, off}},
        {E::StampOpened, false, true, {keep, keep, keep, keep, on}},
        {E::StampOpened, true, false, {keep, keep, keep, keep, off}},
        {E::StampOpened, true, true, {keep, keep, keep, keep, on}},
    };
    for (const Row& row : table)
        EXPECT_EQ(EnabledStatesAfter(row.event, row.stampLoaded, row.pictureLoaded), row.after)
            << "event " << int(row.event) << " stamp " << row.stampLoaded << " picture "
            << row.pictureLoaded;
}

TEST(ApplicationTitle, NameCutAtTheFirstDotAndLowered) {
    const std::pair<const char*, const char*> cases[] = {
        {"/usr/bin/sigillon", "sigillon"},
        {"C:\\Programme\\SIGILLON.EXE", "Sigillon"},
        {"/opt/Sigillon.Desktop.bin", "Sigillon"},
        {"relative/MyTool", "Mytool"},
        {"x", "x"},
        {"/tmp/.hidden", ""},
    };
    for (auto [path, title] : cases) EXPECT_EQ(ApplicationTitleFor(path), title) << path;
}

TEST(DefaultExtension, AddedOnlyToNamesWithout) {
    EXPECT_EQ(WithDefaultExtension("/tmp/a", "jpg"), "/tmp/a.jpg");
    EXPECT_EQ(WithDefaultExtension("/tmp/a.bmp", "jpg"), "/tmp/a.bmp");
    EXPECT_EQ(WithDefaultExtension("/tmp/dir.d/a", "jpg"), "/tmp/dir.d/a.jpg");
    EXPECT_EQ(WithDefaultExtension("C:\\x.d\\a", "jpg"), "C:\\x.d\\a.jpg");
    EXPECT_EQ(WithDefaultExtension("/tmp/a", ""), "/tmp/a");
    EXPECT_EQ(WithDefaultExtension("", "jpg"), "");
}

TEST(PreviewFit, ScalesDownOnlyAndKeepsProportions) {
    EXPECT_EQ(FitInside({100, 50}, {180, 180}), QSize(100, 50));
    EXPECT_EQ(FitInside({768, 600}, {180, 180}), QSize(180, 141));
    EXPECT_EQ(FitInside({600, 1200}, {180, 180}), QSize(90, 180));
    EXPECT_EQ(FitInside({10000, 1}, {180, 180}), QSize(180, 1));
    EXPECT_EQ(FitInside({0, 0}, {180, 180}), QSize(0, 0));
}

}  // namespace
}  // namespace sigillon
