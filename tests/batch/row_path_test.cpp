// sigillon-batch reading and writing row by row: the very files, messages
// and warnings of the whole-picture path (RunJob, run here in the test's own
// process) for every mode, number of passes, text stamps, output format and
// kind of input, and --verbose naming the way each input took.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "app/batch/batch.h"
#include "app/batch/row_pipeline.h"
#include "app/batch/streaming.h"
#include "pictures/picture_files.h"
#include "stamping/text/text_stamp.h"
#include "tests/support/bare_libjpeg.h"
#include "tests/support/metadata_test_support.h"
#include "tests/support/gui_application.h"
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

class RowPath : public ::testing::Test {
protected:
    struct Input {
        std::string name;
        bool byRows;  // read row by row rather than whole
    };

    std::string P(const std::string& name) const { return folder_ / name; }

    // Inputs of every kind the row path reads, and some it leaves whole.
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

        // Metadata carried through, and a profile and a block too large to
        // keep; then an orientation that turns the picture, which takes it
        // whole.
        PictureMetadata metadata;
        metadata.icc = testing::IccProfile("RGB ", 3000, 6);
        metadata.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                       "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"/></x:xmpmeta>";
        testing::WriteAll(P("tagged.jpg"), testing::Encoded(*photo, &metadata));
        testing::Exiftool(folder_, {"-overwrite_original", "-Artist=Row Path", "-Orientation#=1",
                                    P("tagged.jpg")});
        testing::WriteAll(P("turned.jpg"), testing::ReadAll(P("tagged.jpg")));
        testing::Exiftool(folder_, {"-overwrite_original", "-Orientation#=6", P("turned.jpg")});

        // A file that ends early and one with damaged bytes: libjpeg fills
        // in what it cannot read, the same way on both paths.
        Bytes jpeg = testing::ReadAll(P("photo.jpg"));
        testing::WriteAll(P("cut.jpg"), Bytes(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() * 3 / 5)));
        for (std::size_t at = 700; at < jpeg.size(); at += 997) jpeg[at] ^= 0x5A;
        testing::WriteAll(P("damaged.jpg"), jpeg);
        testing::WriteAll(P("rle.bmp"),
                          testing::ReadAll(std::string(SIGILLON_BMPSUITE_DIR) + "/g/pal8rle.bmp"));
        testing::WriteAll(P("empty.bmp"), {});
        testing::WriteAll(P("text.jpg"), Bytes{'h', 'i'});
        return {{"photo.jpg", true},   {"odd.bmp", true},     {"topdown.bmp", true},
                {"pal8.bmp", true},    {"progressive.jpg", true}, {"gray.jpg", true},
                {"tagged.jpg", true},  {"turned.jpg", false}, {"cut.jpg", true},
                {"damaged.jpg", true}, {"rle.bmp", false},    {"empty.bmp", false},
                {"text.jpg", false}};
    }

    // Runs the tool on the inputs into out/, and the whole-picture path in
    // this process into whole/, and expects the same files, lines and
    // summary. Returns how many files were made.
    std::size_t ExpectSameAsWhole(const std::vector<Input>& inputs, std::vector<std::string> options,
                           const batch::JobSettings& settings, const std::string& to) {
        fs::remove_all(folder_ / "out");
        fs::remove_all(folder_ / "whole");
        fs::create_directory(folder_ / "out");
        fs::create_directory(folder_ / "whole");
        std::vector<std::string> argv = {SIGILLON_BATCH_TOOL};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"--verbose", "--to", to, "--out", P("out")});
        for (const Input& input : inputs) argv.push_back(P(input.name));
        testing::ProcessRun run = testing::RunProcess(argv, {}, {});

        std::multiset<std::string> lines;
        std::size_t failed = 0;
        for (const Input& input : inputs) {
            const std::string base = input.name.substr(0, input.name.rfind('.'));
            batch::BatchJob job{P(input.name), false, P("whole/" + base + to), {}, false};
            batch::JobResult whole = batch::RunJob(job, settings);
            if (whole.status == batch::JobStatus::Failed) {
                lines.insert(job.input + ": " + whole.reason);
                ++failed;
            }
            for (const std::string& warning : whole.warnings)
                lines.insert(job.input + ": warning: " + warning);
        }
        EXPECT_EQ(run.status, failed ? 1 : 0) << run.err;
        if (run.OutLines().empty()) {
            ADD_FAILURE() << "no summary\n" << run.err;
            return 0;
        }
        EXPECT_EQ(run.OutLines().back(), std::to_string(inputs.size() - failed) + " saved, " +
                                             std::to_string(failed) + " failed");
        std::multiset<std::string> others, routes;
        for (const std::string& line : run.ErrLines()) (IsRoute(line) ? routes : others).insert(line);
        EXPECT_EQ(others, lines);

        std::set<std::string> made, expected;
        for (const auto& e : fs::directory_iterator(folder_ / "out")) made.insert(e.path().filename());
        for (const auto& e : fs::directory_iterator(folder_ / "whole")) expected.insert(e.path().filename());
        EXPECT_EQ(made, expected);
        for (const std::string& name : expected)
            EXPECT_TRUE(testing::ReadAll(P("out/" + name)) ==
                        testing::ReadAll(P("whole/" + name)))
                << name;
        // Each input named once, with the way it went.
        EXPECT_EQ(routes.size(), inputs.size()) << run.err;
        for (const Input& input : inputs) {
            const std::string way = P(input.name) + (input.byRows ? ": row by row" : ": whole picture");
            EXPECT_TRUE(std::any_of(routes.begin(), routes.end(),
                                    [&](const std::string& r) { return r.rfind(way, 0) == 0; }))
                << input.name << "\n" << run.err;
        }
        return made.size();
    }

    testing::TempFolder folder_;
};

batch::JobSettings Stamped(const std::shared_ptr<TBitmap>& stamp, int mode, int times) {
    batch::JobSettings settings;
    settings.stamps.push_back({stamp, {}});
    settings.mode = StampMode(mode);
    settings.times = times;
    return settings;
}

TEST_F(RowPath, EveryModeAndNumberOfPassesGivesTheFilesOfTheWholePicturePath) {
    const std::vector<Input> inputs = MakeInputs();
    auto stamp = Stamp(23, 13);
    ASSERT_EQ(SavePictureFileQuiet(*stamp, P("stamp.bmp")), FileOutcome::Done);
    int run = 0;
    for (int mode = 0; mode <= 8; ++mode) {
        for (int times : {1, 3}) {
            for (const std::string to : {".jpg", ".bmp"}) {
                SCOPED_TRACE("mode " + std::to_string(mode) + ", times " + std::to_string(times) + " " + to);
                // The writing thread, on or off, and the number of jobs
                // change no byte.
                ExpectSameAsWhole(inputs,
                                  {"--stamp", P("stamp.bmp"), "--mode", std::to_string(mode),
                                   "--times", std::to_string(times), "--encoder-thread",
                                   ++run % 2 ? "on" : "off", "--jobs", run % 3 ? "1" : "3"},
                                  Stamped(stamp, mode, times), to);
            }
        }
    }
}

TEST_F(RowPath, MarginsAndMetadataSettingsGiveTheFilesOfTheWholePicturePath) {
    const std::vector<Input> inputs = MakeInputs();
    auto stamp = Stamp(23, 13);
    ASSERT_EQ(SavePictureFileQuiet(*stamp, P("stamp.bmp")), FileOutcome::Done);
    batch::JobSettings settings = Stamped(stamp, 3, 1);
    settings.margin = 5;
    settings.metadata.copyright = "(c) Row Path";
    ExpectSameAsWhole(inputs,
                      {"--stamp", P("stamp.bmp"), "--mode", "3", "--margin", "5", "--copyright",
                       "(c) Row Path"},
                      settings, ".jpg");
    settings = Stamped(stamp, 8, 2);
    settings.margin = 3;
    settings.metadata.keep = false;
    settings.metadata.autoOrient = false;
    std::vector<Input> unturned = inputs;
    for (Input& input : unturned)
        if (input.name == "turned.jpg") input.byRows = true;  // left as it is stored
    ExpectSameAsWhole(unturned,
                      {"--stamp", P("stamp.bmp"), "--mode", "8", "--times", "2", "--margin", "3",
                       "--strip-metadata", "--no-auto-orient"},
                      settings, ".jpg");
}

// The tool draws a text stamp in its text helper; here it is drawn in this
// process with the same renderer and settings.
TEST_F(RowPath, TextStampsGiveTheFilesOfTheWholePicturePath) {
    testing::EnsureGuiApplication();
    const std::vector<Input> inputs = MakeInputs();
    const std::string text = "\xC2\xA9 R&w";
    struct Case {
        const char* colour;
        int index, size, mode, times;
        const char* to;
    } cases[] = {{"red", 3, 2, 5, 1, ".jpg"}, {"blue", 2, 1, 8, 2, ".jpg"}, {"black", 0, 1, 1, 1, ".bmp"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.colour) + " " + c.to);
        ASSERT_STREQ(kTextColours[c.index].name, c.colour);
        TextStampInput input;
        input.font = StampTextFieldFont();
        input.colour = ToQColor(kTextColours[c.index].value);
        input.text = QString::fromStdString(text);
        input.sizeFactor = c.size;
        std::shared_ptr<TBitmap> stamp = RenderTextStamp(input);
        ASSERT_FALSE(stamp->IsEmpty());
        stamp->SetDepth(Depth24);  // as the tool stamps it
        batch::JobSettings settings = Stamped(stamp, c.mode, c.times);
        settings.metadata.copyright = text;  // a text stamp's text is the default copyright
        const std::size_t made = ExpectSameAsWhole(inputs,
                          {"--text", text, "--color", c.colour, "--size", std::to_string(c.size),
                           "--mode", std::to_string(c.mode), "--times", std::to_string(c.times)},
                          settings, c.to);
        EXPECT_GE(made, 5u) << "the text fits few of the pictures";
    }
}

TEST_F(RowPath, ConvertingEveryKindOfInputGivesTheFilesOfTheWholePicturePath) {
    const std::vector<Input> inputs = MakeInputs();
    for (const std::string to : {".jpg", ".bmp"}) {
        SCOPED_TRACE(to);
        ExpectSameAsWhole(inputs, {}, {}, to);
    }
}

TEST_F(RowPath, EveryGoodFileOfTheBmpSuiteConvertsAsOnTheWholePicturePath) {
    std::vector<Input> inputs;
    for (const auto& entry : fs::directory_iterator(std::string(SIGILLON_BMPSUITE_DIR) + "/g")) {
        const std::string name = entry.path().filename().string();
        fs::copy_file(entry.path(), folder_ / name);
        inputs.push_back({name, name.find("rle") == std::string::npos});
    }
    ASSERT_GE(inputs.size(), 20u);
    for (const std::string to : {".jpg", ".bmp"}) {
        SCOPED_TRACE(to);
        ExpectSameAsWhole(inputs, {}, {}, to);
    }
}

TEST_F(RowPath, PicturesBeyondTheStorageLimitGoRowByRowToTheSameFile) {
    testing::WriteAll(P("big.jpg"), testing::Encoded(*testing::Gradient(300, 200)));
    const batch::JobSettings settings = Stamped(Stamp(30, 20), 8, 2);
    for (const std::string to : {".jpg", ".bmp"}) {
        batch::BatchJob whole{P("big.jpg"), false, P("whole" + to), {}, false};
        ASSERT_EQ(batch::RunJob(whole, settings).status, batch::JobStatus::Saved);
        SetStorageLimit(1 << 16);  // far below the 180,000 bytes of the picture
        batch::BatchJob refused{P("big.jpg"), false, P("refused" + to), {}, false};
        EXPECT_EQ(batch::RunJob(refused, settings).status, batch::JobStatus::Failed);
        batch::BatchJob rows{P("big.jpg"), false, P("rows" + to), {}, false};
        batch::RoutedJob routed = batch::RunJobByRows(rows, settings, true);
        SetStorageLimit(kMaxStorageBytes);
        EXPECT_EQ(routed.result.status, batch::JobStatus::Saved) << routed.result.reason;
        EXPECT_EQ(routed.result.width, 300);
        EXPECT_EQ(routed.result.height, 200);
        EXPECT_EQ(routed.route, P("big.jpg") + ": row by row, writing on a second thread");
        EXPECT_TRUE(testing::ReadAll(P("rows" + to)) == testing::ReadAll(P("whole" + to))) << to;
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
    using Failure = batch::PumpOutcome::Failure;
    struct Case {
        std::int32_t readFailsAt, writeFailsAt;
        Failure failure;
        std::string reason;
    } cases[] = {
        {-1, -1, Failure::None, ""},
        {0, -1, Failure::Reading, "JPEG: damaged at row 0"},
        {1500, -1, Failure::Reading, "JPEG: damaged at row 1500"},
        {-1, 0, Failure::Writing, "BMP: write failed: No space left on device"},
        {-1, 2999, Failure::Writing, "BMP: write failed: No space left on device"},
    };
    for (bool thread : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::to_string(c.readFailsAt) + " " + std::to_string(c.writeFailsAt) +
                         (thread ? " with a writing thread" : ""));
            MemoryRows reader(40, 3000, c.readFailsAt);
            MemoryWriter writer(reader.Stride(), c.writeFailsAt);
            batch::PumpOutcome outcome = batch::PumpRows(reader, nullptr, 1, writer, thread);
            EXPECT_EQ(outcome.failure, c.failure);
            EXPECT_EQ(outcome.reason, c.reason);
            EXPECT_EQ(writer.finished, c.failure == Failure::None);
            EXPECT_EQ(reader.finished, c.failure == Failure::None);
            if (c.readFailsAt >= 0) {
                EXPECT_LE(writer.written, c.readFailsAt);
            }
            for (std::size_t y = 0; y < writer.firstBytes.size(); ++y)
                ASSERT_EQ(writer.firstBytes[y], std::uint8_t(y)) << "row " << y;
            if (c.failure == Failure::None) {
                EXPECT_EQ(writer.written, 3000);
            }
        }
    }
}

}  // namespace
}  // namespace sigillon
