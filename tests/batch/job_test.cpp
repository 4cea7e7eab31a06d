// One job path for every input, row by row or held whole: the files it makes
// are the desktop program's own (its load, ApplyStamp and its save, run in
// this process) for every mode, number of passes, output format and kind of
// input; --verbose names the way each input took; the row pump's contract.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/batch/job.h"
#include "app/batch/options.h"
#include "app/batch/plan.h"
#include "app/batch/run.h"
#include "app/batch/row_pipeline.h"
#include "stamping/compositing.h"
#include "app/batch/run.h"
#include "pictures/picture_files.h"
#include "tests/support/bare_libjpeg.h"
#include "tests/support/metadata_test_support.h"
#include "tests/support/process.h"

#ifndef SIGILLON_BATCH_TOOL
#error "SIGILLON_BATCH_TOOL must name the built sigillon-batch"
#endif

namespace fs = std::filesystem;

namespace sigillon {
namespace {

using testing::Bytes;

// Transparent white, near white, dark and bright pixels.
std::shared_ptr<TBitmap> Stamp(int width, int height) {
    return testing::MakeTrueColourPicture(width, height, [](int x, int y, std::uint8_t* p) {
        switch ((x + 2 * y) % 4) {
            case 0: p[0] = p[1] = p[2] = 255; break;
            case 1: p[0] = 255, p[1] = 255, p[2] = 254; break;
            case 2: p[0] = 10, p[1] = 40, p[2] = 200; break;
            default: p[0] = std::uint8_t(x * 9), p[1] = std::uint8_t(y * 13), p[2] = 0;
        }
    });
}

Bytes PackedRgb(const TBitmap& picture) {
    Bytes rgb;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width(); ++x)
            for (int k = 2; k >= 0; --k) rgb.push_back(picture.RowAddress(y)[3 * x + k]);
    return rgb;
}

bool IsRoute(const std::string& line) {
    return line.find(": row by row") != std::string::npos ||
           line.find(": whole picture") != std::string::npos ||
           line.find(": not read") != std::string::npos;
}

class OnePath : public ::testing::Test {
protected:
    struct Input {
        std::string name;
        bool byRows;  // read row by row rather than held whole
        // How the tool's line about its damage begins, if it has any, and
        // whether that line refuses it without --accept-damaged.
        const char* damage = "";
        bool refused = false;
    };

    void SetUp() override { SetDisplayBitsPerPixel(32); }  // as the tool decodes
    std::string P(const std::string& name) const { return folder_ / name; }

    // Inputs of every kind read row by row, and some held whole.
    std::vector<Input> MakeInputs() {
        auto photo = testing::Gradient(203, 97);
        testing::WriteAll(P("photo.jpg"), testing::Encoded(*photo));
        EXPECT_EQ(SavePictureFileQuiet(*testing::RandomPicture(Depth24, 97, 61, 3), P("odd.bmp")),
                  FileOutcome::Done);
        testing::BmpFields topDown;
        topDown.width = 45;
        topDown.height = -38;
        topDown.pixels = testing::RandomBytes(std::size_t(StrideFor(45, 24)) * 38, 4);
        testing::WriteAll(P("topdown.bmp"), testing::BuildBmp(topDown));
        EXPECT_EQ(SavePictureFileQuiet(*testing::RandomPicture(Depth8, 50, 40, 5), P("pal8.bmp")),
                  FileOutcome::Done);

        const Bytes rgb = PackedRgb(*photo);
        bare::EncodeRequest progressive{rgb.data(), photo->Width(), photo->Height()};
        progressive.progressive = true;
        progressive.quality = 75;
        Bytes bytes;
        EXPECT_TRUE(bare::Encode(progressive, bytes));
        testing::WriteAll(P("progressive.jpg"), bytes);
        Bytes gray;
        for (int i = 0; i < 64 * 48; ++i) gray.push_back(std::uint8_t(i * 7));
        bare::EncodeRequest grayRequest{gray.data(), 64, 48, 1, JCS_GRAYSCALE};
        EXPECT_TRUE(bare::Encode(grayRequest, bytes));
        testing::WriteAll(P("gray.jpg"), bytes);

        // A file that ends early and one with damaged bytes: libjpeg fills
        // in what it cannot read, as the program's load does. The tool
        // does so for the first only with --accept-damaged; the bytes of
        // the second still decode, and only leave stray bytes at its end.
        Bytes jpeg = testing::ReadAll(P("photo.jpg"));
        testing::WriteAll(P("cut.jpg"), Bytes(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() * 3 / 5)));
        for (std::size_t at = 700; at < jpeg.size(); at += 997) jpeg[at] ^= 0x5A;
        testing::WriteAll(P("damaged.jpg"), jpeg);
        testing::WriteAll(P("rle.bmp"),
                          testing::ReadAll(std::string(SIGILLON_BMPSUITE_DIR) + "/g/pal8rle.bmp"));
        testing::WriteAll(P("text.jpg"), Bytes{'h', 'i'});
        std::vector<Input> inputs = {
            {"photo.jpg", true},       {"odd.bmp", true},  {"topdown.bmp", true},
            {"pal8.bmp", true},        {"progressive.jpg", true}, {"gray.jpg", true},
            {"cut.jpg", true, "JPEG: the data ends at row ", true},
            {"damaged.jpg", true, "JPEG: skipped "},              {"rle.bmp", false},
            {"text.jpg", false}};
        for (const auto& entry : fs::directory_iterator(std::string(SIGILLON_BMPSUITE_DIR) + "/g")) {
            const std::string name = "suite-" + entry.path().filename().string();
            fs::copy_file(entry.path(), folder_ / name);
            inputs.push_back({name, name.find("rle") == std::string::npos});
        }
        return inputs;
    }

    // What the desktop program makes of an input: its load, the stamp
    // applied times times, its save; or the line the tool must say.
    struct Expected {
        Bytes file;
        std::string line;  // empty when the file is saved
    };
    Expected ProgramSave(const std::string& input, const std::string& output,
                         const std::shared_ptr<TBitmap>& stamp, int mode, int times,
                         const std::string& to) {
        TBitmap picture;
        if (FileResult loaded = LoadPictureFileQuiet(picture, input); loaded != FileOutcome::Done)
            return {{}, input + ": " + FailureMessage(input, loaded)};
        for (int pass = 0; stamp && pass < times; ++pass) {
            TBitmap copy;
            copy.ShareImage(*stamp);
            if (auto refusal = ApplyStamp(copy, picture, StampMode(mode)))
                return {{}, input + ": " + *refusal};
        }
        const std::string saved = P("program" + to);
        fs::remove(saved);
        if (FileResult result = SavePictureFileQuiet(picture, saved); result != FileOutcome::Done)
            return {{}, input + ": " + FailureMessage(output, result)};
        return {testing::ReadAll(saved), {}};
    }

    // Runs the tool on every input into out/ and compares each file and
    // each failure line with the program's, and each route.
    void ExpectTheProgramsFiles(const std::vector<Input>& inputs, std::vector<std::string> options,
                                const std::shared_ptr<TBitmap>& stamp, int mode, int times,
                                const std::string& to, bool acceptDamaged) {
        if (acceptDamaged) options.push_back("--accept-damaged");
        fs::remove_all(folder_ / "out");
        fs::create_directory(folder_ / "out");
        std::vector<std::string> argv = {SIGILLON_BATCH_TOOL};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"--verbose", "--to", to, "--out", P("out")});
        for (const Input& input : inputs) argv.push_back(P(input.name));
        testing::ProcessRun run = testing::RunProcess(argv, {}, {});

        std::multiset<std::string> lines, routes;
        for (const std::string& line : run.ErrLines()) (IsRoute(line) ? routes : lines).insert(line);
        std::size_t failed = 0, saved = 0;
        for (const Input& input : inputs) {
            const std::string base = input.name.substr(0, input.name.rfind('.'));
            const std::string output = P("out/" + base + to);
            Expected expected = ProgramSave(P(input.name), output, stamp, mode, times, to);
            const bool refused = input.refused && !acceptDamaged;
            if (*input.damage) {
                const std::string told =
                    P(input.name) + ": " +
                    (refused ? P(input.name) + " - Error: wrong format (" : "warning: ") + input.damage;
                EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
                    return line.rfind(told, 0) == 0;
                })) << told << "\n" << run.err;
            }
            if (refused) {
                ++failed;
                EXPECT_FALSE(fs::exists(output)) << input.name;
                continue;
            }
            if (!expected.line.empty()) {
                ++failed;
                EXPECT_FALSE(fs::exists(output)) << input.name;
                EXPECT_EQ(lines.count(expected.line), 1u) << expected.line << "\n" << run.err;
            } else {
                ++saved;
                EXPECT_TRUE(testing::ReadAll(output) == expected.file) << input.name;
            }
            // One route, the way expected, whether it failed or not.
            const std::string named = P(input.name) + ": ";
            auto route = std::find_if(routes.begin(), routes.end(), [&](const std::string& r) {
                return r.rfind(named, 0) == 0;
            });
            ASSERT_NE(route, routes.end()) << input.name << "\n" << run.err;
            if (expected.line.empty()) {
                EXPECT_EQ(route->rfind(named + (input.byRows ? "row by row" : "whole picture"), 0), 0u)
                    << *route;
            }
        }
        EXPECT_EQ(run.status, failed ? 1 : 0) << run.err;
        ASSERT_FALSE(run.OutLines().empty()) << run.err;
        EXPECT_EQ(run.OutLines().back(),
                  std::to_string(saved) + " saved, " + std::to_string(failed) + " failed");
        EXPECT_EQ(routes.size(), inputs.size()) << run.err;
    }

    testing::TempFolder folder_;
};

TEST_F(OnePath, EveryModeAndKindOfInputGivesTheProgramsFiles) {
    const std::vector<Input> inputs = MakeInputs();
    auto stamp = Stamp(23, 13);
    ASSERT_EQ(SavePictureFileQuiet(*stamp, P("stamp.bmp")), FileOutcome::Done);
    struct Case {
        int mode, times;  // mode -1: converted only
        const char* thread;
        const char* jobs;
    } cases[] = {{-1, 1, "on", "1"}, {0, 1, "off", "2"}, {3, 3, "on", "1"}, {5, 1, "auto", "3"},
                 {6, 2, "off", "1"}, {8, 1, "on", "2"},  {8, 3, "off", "1"}};
    for (const Case& c : cases)
        for (const std::string to : {".jpg", ".bmp"}) {
            SCOPED_TRACE("mode " + std::to_string(c.mode) + ", times " + std::to_string(c.times) + " " + to);
            // The desktop program saves at 85; a JPEG input would otherwise keep
            // its own encoding (kept_jpeg_test.cpp).
            std::vector<std::string> options = {"--encoder-thread", c.thread, "--jobs", c.jobs,
                                                "--quality", "85"};
            if (c.mode >= 0)
                options.insert(options.end(), {"--stamp", P("stamp.bmp"), "--mode",
                                               std::to_string(c.mode), "--times",
                                               std::to_string(c.times)});
            ExpectTheProgramsFiles(inputs, options, c.mode >= 0 ? stamp : nullptr, c.mode,
                                   c.times, to, c.times == 1);
        }
}

// Held whole or not, a picture too large to hold still goes row by row.
TEST_F(OnePath, PicturesBeyondTheStorageLimitGoRowByRowToTheSameFile) {
    testing::WriteAll(P("big.jpg"), testing::Encoded(*testing::Gradient(300, 200)));
    batch::JobSettings settings;
    settings.stamps.push_back({Stamp(30, 20), {}});
    settings.mode = 8;
    settings.times = 2;
    settings.quality = kSavedJpegQuality;
    for (const std::string to : {".jpg", ".bmp"}) {
        batch::BatchJob plain{P("big.jpg"), false, P("plain" + to), {}, false};
        ASSERT_EQ(batch::RunJob(plain, settings).status, batch::JobStatus::Saved);
        SetStorageLimit(1 << 16);  // far below the 180,000 bytes of the picture
        batch::BatchJob rows{P("big.jpg"), false, P("rows" + to), {}, false};
        batch::JobResult result = batch::RunJob(rows, settings, true);
        SetStorageLimit(kMaxStorageBytes);
        EXPECT_EQ(result.status, batch::JobStatus::Saved) << result.reason;
        EXPECT_EQ(result.width, 300);
        EXPECT_EQ(result.height, 200);
        EXPECT_EQ(result.route, P("big.jpg") + ": row by row, writing on a second thread");
        EXPECT_TRUE(testing::ReadAll(P("rows" + to)) == testing::ReadAll(P("plain" + to))) << to;
    }
}

TEST(BatchEncoderThread, OnlyWhereNoPictureWaitsForACore) {
    using batch::EncoderThread;
    struct Case {
        EncoderThread setting;
        std::size_t waiting, running;
        unsigned cores;
        bool expected;
    } cases[] = {
        {EncoderThread::Auto, 0, 1, 2, true},    // one picture on two cores
        {EncoderThread::Auto, 5, 1, 2, false},   // --jobs 1 with more to come
        {EncoderThread::Auto, 0, 2, 2, false},   // two pictures fill two cores
        {EncoderThread::Auto, 0, 2, 4, true},    // the last two on four cores
        {EncoderThread::Auto, 0, 1, 1, false},   // one core
        {EncoderThread::On, 9, 2, 1, true},
        {EncoderThread::Off, 0, 1, 8, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(batch::UseEncoderThread(c.setting, c.waiting, c.running, c.cores), c.expected)
            << c.waiting << " waiting, " << c.running << " running, " << c.cores << " cores";
}

// A reader and a writer of rows in memory that fail at a chosen row.
class MemoryRows final : public PictureRowReader {
public:
    MemoryRows(std::int32_t width, std::int32_t height, std::int32_t failAt) : failAt_(failAt) {
        *format_ = CopyFormat(testing::Gradient(width, height)->Image());
    }
    void Finish() override { finished = true; }
    bool finished = false;

protected:
    void ReadRows(std::uint8_t* rows, std::int32_t count) override {
        for (std::int32_t k = 0; k < count; ++k) {
            if (NextRow() + k == failAt_)
                throw BitmapError("JPEG: damaged at row " + std::to_string(failAt_));
            std::memset(rows + std::size_t(k) * std::size_t(Stride()), (NextRow() + k) & 0xFF,
                        std::size_t(Stride()));
        }
    }

private:
    std::int32_t failAt_;
};

class MemoryWriter final : public PictureRowWriter {
public:
    MemoryWriter(std::int64_t stride, std::int32_t failAt) : stride_(stride), failAt_(failAt) {}
    void Write(const std::uint8_t* rows, std::int32_t count) override {
        for (std::int32_t k = 0; k < count; ++k, ++written) {
            if (written == failAt_) throw BitmapError("BMP: write failed: No space left on device");
            firstBytes.push_back(rows[std::size_t(k) * std::size_t(stride_)]);
        }
    }
    void Finish() override { finished = true; }
    std::vector<std::uint8_t> firstBytes;
    std::int32_t written = 0;
    bool finished = false;

private:
    std::int64_t stride_;
    std::int32_t failAt_;
};

TEST(BatchRowPump, RowsArriveInOrderAndAFailureStopsBothSides) {
    using Side = batch::Failure::Side;
    struct Case {
        std::int32_t readFailsAt, writeFailsAt;
        bool fails;
        Side side;
        std::string reason;
    } cases[] = {
        {-1, -1, false, Side::Input, ""},
        {0, -1, true, Side::Input, "JPEG: damaged at row 0"},
        {1500, -1, true, Side::Input, "JPEG: damaged at row 1500"},
        {-1, 0, true, Side::Output, "BMP: write failed: No space left on device"},
        {-1, 2999, true, Side::Output, "BMP: write failed: No space left on device"},
    };
    for (bool thread : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.readFailsAt) + " " + std::to_string(c.writeFailsAt) +
                         (thread ? " with a writing thread" : ""));
            MemoryRows reader(40, 3000, c.readFailsAt);
            MemoryWriter writer(reader.Stride(), c.writeFailsAt);
            batch::Expected<batch::Done> outcome =
                batch::PumpRows(reader, nullptr, 1, writer, thread);
            ASSERT_EQ(!outcome, c.fails);
            if (c.fails) {
                EXPECT_EQ(outcome.error().side, c.side);
                EXPECT_EQ(outcome.error().message, c.reason);
            }
            EXPECT_EQ(writer.finished, !c.fails);
            EXPECT_EQ(reader.finished, !c.fails);
            if (c.readFailsAt >= 0) {
                EXPECT_LE(writer.written, c.readFailsAt);
            }
            for (std::size_t y = 0; y < writer.firstBytes.size(); ++y)
                ASSERT_EQ(writer.firstBytes[y], std::uint8_t(y)) << "row " << y;
            if (!c.fails) {
                EXPECT_EQ(writer.written, 3000);
            }
        }
    }
}

}  // namespace
}  // namespace sigillon
