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
#include "tests/support/pictures.h"
#include "tests/support/process.h"

namespace sigillon {
namespace {

TEST(BatchGeometryArguments, ValuesAndTheirRefusals) {
    auto parse = [](std::vector<std::string> args) {
        args.insert(args.end(), {"--stamp", "s.png", "a.jpg"});
        return batch::ParseArguments(args);
    };
    const batch::ParseResult full =
        parse({"--opacity", "40", "--position=bottom", "--offset", "-3,2%", "--scale", "9",
               "--scale-by", "shorter", "--rotate", "-30.5"});
    ASSERT_EQ(full.status, batch::ParseStatus::Run) << full.message;
    const batch::StampGeometry& g = full.options.geometry;
    EXPECT_TRUE(g.opacity == 40 && g.position == Anchor::Bottom && g.scaleBy == ScaleBy::Shorter &&
                g.rotate == -30.5);
    ASSERT_TRUE(g.offset);
    EXPECT_TRUE(g.offset->x.amount == -3 && !g.offset->x.percent && g.offset->y.amount == 2 &&
                g.offset->y.percent);
    for (const char* refused :
         {"--opacity 0", "--opacity 101", "--position middle", "--position center --mode 8",
          "--offset 3", "--offset 3,x", "--offset 101%,0", "--offset 1,2 --mode 8", "--rotate abc",
          "--rotate 361", "--rotate nan", "--scale-by height", "--scale-by area --scale 5",
          "--tile-spacing 4,4", "--tile-spacing -1,4 --mode 8"}) {
        std::istringstream words(refused);
        const std::vector<std::string> args{std::istream_iterator<std::string>(words), {}};
        EXPECT_EQ(parse(args).status, batch::ParseStatus::UsageError) << refused;
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
    settings.stamps.push_back(
        {testing::MakeTrueColourPicture(
             40, 20, [](int x, int, std::uint8_t* p) { p[0] = p[1] = p[2] = std::uint8_t(x * 6); }),
         {}});
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

// The file written is the stamp planned in process for that picture: the
// options reach the stamp, and nothing else changes a pixel.
TEST(BatchGeometry, ToolOutputIsThePlannedStamp) {
    testing::TempFolder folder;
    const std::filesystem::path dir = folder.path();
    auto picture = testing::MakeTrueColourPicture(301, 211, [](int x, int y, std::uint8_t* p) {
        p[0] = std::uint8_t(x * 3 + y), p[1] = std::uint8_t(y * 5), p[2] = std::uint8_t(x ^ y);
    });
    auto stamp = testing::MakeTrueColourPicture(37, 15, [](int x, int y, std::uint8_t* p) {
        const bool ink = (x + y) % 5 < 3;
        p[0] = ink ? 20 : 255, p[1] = ink ? std::uint8_t(x * 7) : 255, p[2] = ink ? 200 : 255;
    });
    ASSERT_EQ(SavePictureFileQuiet(*picture, (dir / "in.bmp").string()), FileOutcome::Done);
    ASSERT_EQ(SavePictureFileQuiet(*stamp, (dir / "stamp.bmp").string()), FileOutcome::Done);
    std::filesystem::create_directory(dir / "out");
    auto tool = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {SIGILLON_BATCH_TOOL, "--stamp", (dir / "stamp.bmp").string(),
                                   "--force", "--out", (dir / "out").string()});
        args.push_back((dir / "in.bmp").string());
        return testing::RunProcess(args, dir);
    };
    for (const std::vector<std::string>& options : std::vector<std::vector<std::string>>{
             {"--mode", "8", "--rotate", "30", "--opacity", "50", "--tile-spacing", "4%,9"},
             {"--mode", "1", "--position", "center", "--offset", "-2%,3%", "--opacity", "35",
              "--scale", "20", "--scale-by", "shorter"},
             {"--mode", "6", "--position", "bottom", "--margin", "5", "--rotate", "90"}}) {
        const testing::ProcessRun run = tool(options);
        ASSERT_EQ(run.status, 0) << options[3] << run.err;
        std::vector<std::string> given = options;
        given.insert(given.end(), {"--stamp", "stamp.bmp", "in.bmp"});
        const batch::BatchOptions parsed = batch::ParseArguments(given).options;
        batch::JobSettings settings;
        settings.stamps.push_back(*batch::LoadStamp((dir / "stamp.bmp").string()));
        settings.mode = parsed.mode;
        settings.margin = parsed.margin;
        settings.scale = parsed.scale;
        settings.geometry = parsed.geometry;
        std::vector<std::string> warnings;
        auto planned = batch::PlanStamp(settings, 301, 211, true, {}, warnings);
        ASSERT_TRUE(planned && *planned);
        TBitmap expected, written;
        ASSERT_EQ(LoadPictureFileQuiet(expected, (dir / "in.bmp").string()), FileOutcome::Done);
        for (int y = 0; y < 211; ++y) (*planned)->StampRow(y, expected.RowAddress(y));
        ASSERT_EQ(LoadPictureFileQuiet(written, (dir / "out" / "in.bmp").string()),
                  FileOutcome::Done);
        EXPECT_EQ(testing::RowBytes(written), testing::RowBytes(expected)) << options[3];
        EXPECT_NE(testing::RowBytes(written), testing::RowBytes(*picture)) << "nothing stamped";
    }
    const testing::ProcessRun outside = tool({"--position", "right", "--offset", "265,0"});
    EXPECT_EQ(outside.status, 1);
    EXPECT_EQ(outside.err, (dir / "in.bmp").string() + ": Stamp too large for this picture!\n");
}

}  // namespace
}  // namespace sigillon
