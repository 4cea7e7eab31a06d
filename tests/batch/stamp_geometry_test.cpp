// The batch tool's stamp geometry: --opacity, --position, --offset,
// --scale-by, --rotate and --tile-spacing, from the command line to the
// pixels of the file written.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/batch/input.h"
#include "app/batch/job.h"
#include "app/batch/options.h"
#include "pictures/picture_files.h"
#include "tests/support/files_test_support.h"
#include "tests/support/process.h"

namespace sigillon {
namespace {

// The file the tool writes with the options is the stamp planned in process
// from the geometry they mean, so each option is read right and reaches the
// pixels. How a stamp is placed, faded and turned is the stamping unit tests'.
TEST(BatchGeometry, OptionsReachTheWrittenPixelsAndBadOnesAreRefused) {
    testing::TempFolder folder;
    const std::filesystem::path dir = folder.path();
    auto picture = testing::RandomPicture(Depth24, 301, 211, 5);
    auto stamp = testing::RandomPicture(Depth24, 37, 15, 6);
    ASSERT_EQ(SavePictureFileQuiet(*picture, (dir / "in.bmp").string()), FileOutcome::Done);
    ASSERT_EQ(SavePictureFileQuiet(*stamp, (dir / "stamp.bmp").string()), FileOutcome::Done);
    std::filesystem::create_directory(dir / "out");
    const testing::ProcessRun run =
        testing::RunProcess({SIGILLON_BATCH_TOOL, "--opacity", "40", "--position=bottom",
                             "--offset", "-3,2%", "--scale", "9", "--scale-by", "shorter",
                             "--rotate", "-30.5", "--stamp", "stamp.bmp", "--out", "out", "in.bmp"},
                            dir);
    ASSERT_EQ(run.status, 0) << run.err;
    batch::JobSettings settings;
    settings.stamps.push_back(*batch::LoadStamp((dir / "stamp.bmp").string()));
    settings.scale = 9;
    settings.geometry = {40,
                         ScaleBy::Shorter,
                         -30.5,
                         Anchor::Bottom,
                         batch::Lengths{{-3, false}, {2, true}},
                         std::nullopt};
    std::vector<std::string> warnings;
    auto planned = batch::PlanStamp(settings, 301, 211, true, {}, warnings);
    ASSERT_TRUE(planned && *planned);
    TBitmap expected, written;
    ASSERT_EQ(LoadPictureFileQuiet(expected, (dir / "in.bmp").string()), FileOutcome::Done);
    for (int y = 0; y < 211; ++y) (*planned)->StampRow(y, expected.RowAddress(y));
    ASSERT_EQ(LoadPictureFileQuiet(written, (dir / "out/in.bmp").string()), FileOutcome::Done);
    EXPECT_EQ(testing::RowBytes(written), testing::RowBytes(expected));
    EXPECT_NE(testing::RowBytes(written), testing::RowBytes(*picture)) << "nothing stamped";

    for (const char* refused :
         {"--opacity 0", "--opacity 101", "--position middle", "--position center --mode 8",
          "--offset 3", "--offset 3,x", "--offset 101%,0", "--offset 1,2 --mode 8", "--rotate abc",
          "--rotate 361", "--rotate nan", "--scale-by height", "--scale-by area --scale 5",
          "--tile-spacing 4,4", "--tile-spacing -1,4 --mode 8"}) {
        std::istringstream words(refused);
        std::vector<std::string> given{std::istream_iterator<std::string>(words), {}};
        given.insert(given.end(), {"--stamp", "s.png", "a.jpg"});
        EXPECT_EQ(batch::ParseArguments(given).status, batch::ParseStatus::UsageError) << refused;
    }
    EXPECT_EQ(batch::ParseArguments({"--opacity", "50", "a.jpg"}).status,
              batch::ParseStatus::UsageError)
        << "no stamp to fade";
}

TEST(BatchGeometry, MarginWithAPositionKeepsToTheEdgesItTouches) {
    batch::JobSettings settings;  // --mode 2 --margin 12, on 333 x 201
    settings.mode = 2;
    settings.margin = 12;
    auto at = [&](std::optional<Anchor> position) {
        settings.geometry.position = position;
        const Placement p = batch::PlacementFor(settings, 333, 201);
        return std::tuple{p.anchor, p.offsetX, p.offsetY};
    };
    EXPECT_EQ(at(std::nullopt), std::tuple(Anchor::BottomLeft, 12, 12));
    EXPECT_EQ(at(Anchor::Top), std::tuple(Anchor::Top, 0, 12));
    EXPECT_EQ(at(Anchor::Right), std::tuple(Anchor::Right, 12, 0));
    settings.geometry.offset = batch::Lengths{{10, true}, {-5, true}};
    EXPECT_EQ(at(Anchor::Center), std::tuple(Anchor::Center, 33, -10));
    settings.mode = kTiledWatermark;
    settings.geometry.tileSpacing = batch::Lengths{{3, true}, {2, false}};
    const Placement spaced = batch::PlacementFor(settings, 333, 201);
    EXPECT_EQ(std::pair(spaced.gapX, spaced.gapY), std::pair(10, 2));
}

TEST(BatchGeometry, AStampIsPreparedOncePerPictureSize) {
    batch::JobSettings settings;
    settings.stamps.push_back({testing::RandomPicture(Depth24, 40, 20, 1), {}});
    settings.scale = 10;
    settings.geometry.rotate = 30;
    auto pixels = [&](int width, int height) {
        return batch::StampFor(settings, width, height).pixels;
    };
    EXPECT_EQ(pixels(600, 400), pixels(600, 400));
    EXPECT_EQ(pixels(600, 400), pixels(600, 300)) << "by width, the height does not count";
    EXPECT_NE(pixels(600, 400), pixels(800, 400));
    settings.scale = 0;
    settings.prepared = batch::NoStampsPrepared();
    EXPECT_EQ(pixels(600, 400), pixels(900, 300)) << "unscaled, one for every size";
}

}  // namespace
}  // namespace sigillon
