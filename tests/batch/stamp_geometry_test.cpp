// The batch tool's stamp geometry: --opacity, --position, --offset,
// --scale-by, --rotate and --tile-spacing, from the command line to the
// pixels of the file written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
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
    const std::vector<std::string> stamped = {"--stamp", "s.png", "a.jpg"};
    auto parse = [&](std::vector<std::string> args) {
        args.insert(args.end(), stamped.begin(), stamped.end());
        return batch::ParseArguments(args);
    };
    const batch::ParseResult full =
        parse({"--opacity", "40", "--position=bottom", "--offset", "-3,2%", "--scale", "9",
               "--scale-by", "shorter", "--rotate", "-30.5"});
    ASSERT_EQ(full.status, batch::ParseStatus::Run) << full.message;
    const batch::StampGeometry& g = full.options.geometry;
    EXPECT_EQ(g.opacity, 40);
    EXPECT_EQ(g.position, Anchor::Bottom);
    ASSERT_TRUE(g.offset);
    EXPECT_EQ(g.offset->x.amount, -3);
    EXPECT_FALSE(g.offset->x.percent);
    EXPECT_EQ(g.offset->y.amount, 2);
    EXPECT_TRUE(g.offset->y.percent);
    EXPECT_EQ(g.scaleBy, ScaleBy::Shorter);
    EXPECT_EQ(g.rotate, -30.5);
    const batch::ParseResult tiled = parse({"--mode", "8", "--tile-spacing", "5%,0"});
    ASSERT_EQ(tiled.status, batch::ParseStatus::Run) << tiled.message;
    EXPECT_EQ(tiled.options.geometry.tileSpacing->x.amount, 5);

    const std::vector<std::vector<std::string>> refused = {
        {"--opacity", "0"},         {"--opacity", "101"},
        {"--position", "middle"},   {"--position", "center", "--mode", "8"},
        {"--offset", "3"},          {"--offset", "3,x"},
        {"--offset", "101%,0"},     {"--offset", "1,2", "--mode", "8"},
        {"--rotate", "abc"},        {"--rotate", "361"},
        {"--rotate", "nan"},        {"--scale-by", "height"},
        {"--scale-by", "area", "--scale", "5"},
        {"--tile-spacing", "4,4"},  {"--tile-spacing", "-1,4", "--mode", "8"},
    };
    for (const auto& args : refused)
        EXPECT_EQ(parse(args).status, batch::ParseStatus::UsageError) << args[0] << " " << args[1];
    EXPECT_EQ(batch::ParseArguments({"--opacity", "50", "a.jpg"}).status,
              batch::ParseStatus::UsageError)
        << "no stamp to fade";
}

TEST(BatchGeometry, MarginWithAPositionKeepsToTheEdgesItTouches) {
    struct Case {
        std::optional<Anchor> position;
        std::optional<batch::Lengths> offset;
        Anchor anchor;
        int offsetX, offsetY;
    };
    const batch::Lengths percent{{10, true}, {-5, true}};  // of a 333 x 201 picture
    const Case cases[] = {
        {std::nullopt, std::nullopt, Anchor::BottomLeft, 12, 12},  // --mode 2 --margin 12
        {Anchor::Top, std::nullopt, Anchor::Top, 0, 12},
        {Anchor::Right, std::nullopt, Anchor::Right, 12, 0},
        {Anchor::Center, std::nullopt, Anchor::Center, 0, 0},
        {Anchor::Center, percent, Anchor::Center, 33, -10},
        {std::nullopt, batch::Lengths{{4, false}, {7, false}}, Anchor::BottomLeft, 4, 7},
    };
    for (const Case& c : cases) {
        batch::JobSettings settings;
        settings.mode = 2;
        settings.margin = 12;
        settings.geometry.position = c.position;
        settings.geometry.offset = c.offset;
        const Placement placement = batch::PlacementFor(settings, 333, 201);
        EXPECT_EQ(placement.anchor, c.anchor);
        EXPECT_EQ(placement.offsetX, c.offsetX) << int(c.anchor);
        EXPECT_EQ(placement.offsetY, c.offsetY) << int(c.anchor);
    }
    batch::JobSettings tiled;
    tiled.mode = kTiledWatermark;
    tiled.margin = 3;
    EXPECT_EQ(batch::PlacementFor(tiled, 333, 201).gapY, 3);
    tiled.geometry.tileSpacing = batch::Lengths{{3, true}, {2, false}};
    const Placement spaced = batch::PlacementFor(tiled, 333, 201);
    EXPECT_EQ(spaced.gapX * 100 + spaced.gapY, 1002);
}

TEST(BatchGeometry, AStampIsPreparedOncePerPictureSize) {
    batch::JobSettings settings;
    settings.stamps.push_back({testing::MakeTrueColourPicture(40, 20, [](int x, int, std::uint8_t* p) {
                                   p[0] = p[1] = p[2] = std::uint8_t(x * 6);
                               }),
                               {}});
    settings.scale = 10;
    settings.geometry.rotate = 30;
    auto pixels = [&](int width, int height) { return batch::StampFor(settings, width, height).pixels; };
    EXPECT_EQ(pixels(600, 400), pixels(600, 400));
    EXPECT_EQ(pixels(600, 400), pixels(600, 300)) << "by width, the height does not count";
    EXPECT_NE(pixels(600, 400), pixels(800, 400));
    settings.geometry.scaleBy = ScaleBy::Shorter;
    settings.prepared = batch::NoStampsPrepared();
    EXPECT_NE(pixels(600, 400), pixels(600, 300));
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
    const std::vector<std::vector<std::string>> cases = {
        {"--mode", "8", "--rotate", "30", "--opacity", "50", "--tile-spacing", "4%,9"},
        {"--mode", "1", "--position", "center", "--offset", "-2%,3%", "--opacity", "35",
         "--scale", "20", "--scale-by", "shorter"},
        {"--mode", "6", "--position", "bottom", "--margin", "5", "--rotate", "90"},
    };
    for (const auto& options : cases) {
        std::vector<std::string> argv = {SIGILLON_BATCH_TOOL, "--stamp", (dir / "stamp.bmp").string(),
                                         "--force", "--out", (dir / "out").string()};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back((dir / "in.bmp").string());
        const testing::ProcessRun run = testing::RunProcess(argv, dir);
        ASSERT_EQ(run.status, 0) << options[3] << run.err;

        std::vector<std::string> given = options;
        given.insert(given.end(), {"--stamp", "stamp.bmp", "in.bmp"});
        const batch::ParseResult parsed = batch::ParseArguments(given);
        ASSERT_EQ(parsed.status, batch::ParseStatus::Run) << parsed.message;
        batch::JobSettings settings;
        settings.stamps.push_back(*batch::LoadStamp((dir / "stamp.bmp").string()));
        settings.mode = parsed.options.mode;
        settings.margin = parsed.options.margin;
        settings.scale = parsed.options.scale;
        settings.geometry = parsed.options.geometry;
        auto planned = batch::PlanStamp(settings, 301, 211, true);
        ASSERT_TRUE(planned && *planned);
        TBitmap expected;
        ASSERT_EQ(LoadPictureFileQuiet(expected, (dir / "in.bmp").string()), FileOutcome::Done);
        for (int y = 0; y < 211; ++y) (*planned)->StampRow(y, expected.RowAddress(y));
        TBitmap written;
        ASSERT_EQ(LoadPictureFileQuiet(written, (dir / "out" / "in.bmp").string()), FileOutcome::Done);
        EXPECT_EQ(testing::RowBytes(written), testing::RowBytes(expected)) << options[3];
        EXPECT_NE(testing::RowBytes(written), testing::RowBytes(*picture)) << "nothing stamped";
    }
    const testing::ProcessRun outside = testing::RunProcess(
        {SIGILLON_BATCH_TOOL, "--stamp", (dir / "stamp.bmp").string(), "--position", "right",
         "--offset", "265,0", "--force", "--out", (dir / "out").string(), (dir / "in.bmp").string()},
        dir);
    EXPECT_EQ(outside.status, 1);
    EXPECT_EQ(outside.err, (dir / "in.bmp").string() + ": Stamp too large for this picture!\n");
}

}  // namespace
}  // namespace sigillon
