// --quality keep, checked with libjpeg's own tools: JPEG files of every kind
// (made by cjpeg) come out with their encoding, the blocks away from the
// stamp byte for byte as they were (jpegtran -crop) and so their pixels
// (djpeg -nosmooth), the stamped blocks close to the stamp burnt into the
// input's pixels; the pictures re-encoded with the input's tables instead
// keep its encoding too; other inputs are still saved at 85.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "pictures/picture_files.h"
#include "stamping/placed_stamp.h"
#include "tests/support/bare_libjpeg.h"
#include "tests/support/files_test_support.h"
#include "tests/support/pictures.h"
#include "tests/support/process.h"

#ifndef SIGILLON_BATCH_TOOL
#error "SIGILLON_BATCH_TOOL must name the built sigillon-batch"
#endif

namespace fs = std::filesystem;

namespace sigillon {
namespace {

using testing::Bytes;

// What a file's header says of its encoding.
struct Header {
    int width = 0, height = 0, components = 0, colorSpace = 0;
    std::vector<std::vector<int>> sampling;           // h, v of each component
    std::vector<std::vector<std::uint16_t>> tables;  // the table of each component
    bool progressive = false, arithmetic = false;
    unsigned restart = 0;
    int mcuWidth = 8, mcuHeight = 8;
    bool operator==(const Header&) const = default;
};

Header ReadHeader(const std::string& path) {
    const Bytes file = testing::ReadAll(path);
    jpeg_decompress_struct d;
    bare::Errors errors;
    d.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = bare::ErrorExit;
    errors.pub.emit_message = bare::Quiet;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&d);
        ADD_FAILURE() << "no JPEG header in " << path;
        return {};
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d, TRUE);
    Header h{int(d.image_width), int(d.image_height), d.num_components, d.jpeg_color_space, {}, {},
             bool(d.progressive_mode), bool(d.arith_code), d.restart_interval, 8 * d.max_h_samp_factor,
             8 * d.max_v_samp_factor};
    for (const jpeg_component_info* c = d.comp_info; c < d.comp_info + d.num_components; ++c) {
        h.sampling.push_back({c->h_samp_factor, c->v_samp_factor});
        const JQUANT_TBL* table = d.quant_tbl_ptrs[c->quant_tbl_no];
        h.tables.emplace_back(table->quantval, table->quantval + 64);
    }
    jpeg_destroy_decompress(&d);
    return h;
}

// Packed RGB rows from djpeg.
struct Pixels {
    int width = 0, height = 0;
    Bytes rgb;
    const std::uint8_t* At(int x, int y) const { return &rgb[3 * (std::size_t(y) * width + x)]; }
};

struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Holds(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// The stamp here is 72 x 24 pixels: the pictures are large enough for it to
// reach less of them than kCopyBlocksShare.
class KeptJpeg : public ::testing::Test {
protected:
    void SetUp() override {
        if (Tool({"cjpeg", "-version"}).status != 0 || Tool({"jpegtran", "-version"}).status != 0)
            GTEST_SKIP() << "libjpeg's cjpeg, djpeg and jpegtran are not installed";
        // Its left 40 columns are white, which a solid stamp leaves through.
        stamp_ = testing::MakeTrueColourPicture(72, 24, [](int x, int y, std::uint8_t* p) {
            if (x < 40) {
                p[0] = p[1] = p[2] = 255;
            } else {
                p[0] = std::uint8_t(40 * (x % 5)), p[1] = std::uint8_t(200 - 6 * y), p[2] = 30;
            }
        });
        ASSERT_EQ(SavePictureFileQuiet(*stamp_, P("stamp.bmp")), FileOutcome::Done);
        fs::create_directory(P("out"));
    }

    std::string P(const std::string& name) const { return folder_ / name; }
    static testing::ProcessRun Tool(const std::vector<std::string>& argv) { return testing::RunProcess(argv); }

    // A photo-like picture: smooth colours with noise.
    static Pixels Photo(int width, int height) {
        std::mt19937 random(unsigned(width * 31 + height));
        std::uniform_int_distribution<int> noise(-12, 12);
        Pixels photo{width, height, {}};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < 3; ++k) {
                    const double wave = std::sin(x * (0.03 + 0.01 * k) + y * 0.05) * 70;
                    photo.rgb.push_back(std::uint8_t(std::clamp(128 + int(wave) + noise(random), 0, 255)));
                }
        return photo;
    }

    // cjpeg with the options into name.
    void MakeJpeg(const std::string& name, const Pixels& pixels, std::vector<std::string> options) {
        std::string ppm = "P6\n" + std::to_string(pixels.width) + " " + std::to_string(pixels.height) + "\n255\n";
        ppm.append(pixels.rgb.begin(), pixels.rgb.end());
        testing::WriteAll(P("photo.ppm"), Bytes(ppm.begin(), ppm.end()));
        std::vector<std::string> argv = {"cjpeg"};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.insert(argv.end(), {"-outfile", P(name), P("photo.ppm")});
        ASSERT_EQ(Tool(argv).status, 0);
    }

    testing::ProcessRun Stamp(const std::string& input, std::vector<std::string> options) {
        std::vector<std::string> argv = {SIGILLON_BATCH_TOOL, "--verbose", "--force", "--out", P("out")};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(input);
        return Tool(argv);
    }

    Pixels Decode(const std::string& file, bool smooth) {
        std::vector<std::string> argv = {"djpeg", "-ppm"};
        if (!smooth) argv.push_back("-nosmooth");
        argv.push_back(file);
        const std::string ppm = Tool(argv).out;
        Pixels pixels;
        int header = 0;
        if (std::sscanf(ppm.c_str(), "P6 %d %d 255%n", &pixels.width, &pixels.height, &header) != 2 || !header)
            return pixels;
        pixels.rgb.assign(ppm.begin() + header + 1, ppm.end());
        EXPECT_EQ(pixels.rgb.size(), std::size_t(pixels.width) * pixels.height * 3) << file;
        return pixels;
    }

    // The input's decoding with the stamp burnt in by the one compositor.
    Pixels Stamped(const std::string& input, int mode, int margin, int times) {
        Pixels pixels = Decode(input, true);
        auto copy = std::make_shared<TBitmap>();
        copy->ShareImage(*stamp_);
        PlacedStamp stamp({copy, {}}, pixels.width, pixels.height, StampMode(mode), margin);
        std::vector<std::uint8_t> row(std::size_t(pixels.width) * 3);
        for (int y = stamp.FirstRow(); y < stamp.EndRow(); ++y) {
            std::uint8_t* rgb = &pixels.rgb[std::size_t(y) * row.size()];
            for (std::size_t i = 0; i < row.size(); i += 3) row[i] = rgb[i + 2], row[i + 1] = rgb[i + 1], row[i + 2] = rgb[i];
            for (int pass = 0; pass < times; ++pass) stamp.StampRow(y, row.data());
            for (std::size_t i = 0; i < row.size(); i += 3) rgb[i] = row[i + 2], rgb[i + 1] = row[i + 1], rgb[i + 2] = row[i];
        }
        return pixels;
    }

    // Where the corner stamp lands, worked out here from the mode and the
    // margin; out to whole MCUs.
    Box StampBox(const Header& h, int mode, int margin) const {
        const int x = mode % 2 ? h.width - stamp_->Width() - margin : margin;
        const int y = mode % 4 >= 2 ? h.height - stamp_->Height() - margin : margin;
        return {x / h.mcuWidth * h.mcuWidth, y / h.mcuHeight * h.mcuHeight,
                std::min(h.width, (x + stamp_->Width() + h.mcuWidth - 1) / h.mcuWidth * h.mcuWidth),
                std::min(h.height, (y + stamp_->Height() + h.mcuHeight - 1) / h.mcuHeight * h.mcuHeight)};
    }

    // jpegtran's crop of the region, as a file of its own.
    std::string Crop(const std::string& file, int left, int top, int width, int height) {
        return Tool({"jpegtran", "-copy", "none", "-crop",
                     std::to_string(width) + "x" + std::to_string(height) + "+" +
                         std::to_string(left) + "+" + std::to_string(top),
                     file})
            .out;
    }

    // Every MCU-aligned strip outside the box crops to the same bytes, and
    // every pixel outside it decodes the same without smoothing.
    void ExpectSameOutside(const std::string& input, const std::string& output, const Header& h,
                           const Box& box) {
        const Box strips[] = {{0, 0, h.width, box.top},
                              {0, box.bottom, h.width, h.height},
                              {0, 0, box.left, h.height},
                              {box.right, 0, h.width, h.height}};
        int cropped = 0;
        for (const Box& s : strips) {
            if (s.right <= s.left || s.bottom <= s.top) continue;
            const std::string before = Crop(input, s.left, s.top, s.right - s.left, s.bottom - s.top);
            ASSERT_FALSE(before.empty());
            EXPECT_TRUE(before == Crop(output, s.left, s.top, s.right - s.left, s.bottom - s.top))
                << "strip at " << s.left << "," << s.top;
            ++cropped;
        }
        EXPECT_GT(cropped, 0);
        const Pixels a = Decode(input, false), b = Decode(output, false);
        ASSERT_EQ(a.rgb.size(), b.rgb.size());
        int differing = 0;
        for (int y = 0; y < h.height; ++y)
            for (int x = 0; x < h.width; ++x)
                if (!box.Holds(x, y) && std::memcmp(a.At(x, y), b.At(x, y), 3) != 0) ++differing;
        EXPECT_EQ(differing, 0);
    }

    static double Psnr(const Pixels& a, const Pixels& b, const Box& box) {
        double squares = 0;
        long samples = 0;
        for (int y = box.top; y < box.bottom; ++y)
            for (int x = box.left; x < box.right; ++x)
                for (int k = 0; k < 3; ++k, ++samples) {
                    const double d = double(a.At(x, y)[k]) - b.At(x, y)[k];
                    squares += d * d;
                }
        return squares == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * double(samples) / squares);
    }

    std::shared_ptr<TBitmap> stamp_;
    testing::TempFolder folder_;
};

// Copied block for block, or (why) re-encoded with the input's tables.
TEST_F(KeptJpeg, BlocksAwayFromTheStampAreCopiedOrAllReEncodedAndTheEncodingKept) {
    const std::string reaches = "the stamp reaches at least 83 % of the picture, where re-encoding is faster than copying blocks";
    struct Case {
        const char* name;
        int width, height;
        std::vector<std::string> cjpeg;
        int mode;  // -1: converted only
        int margin;
        int times;
        std::vector<std::string> options;
        std::string why;  // re-encoded, with this warning
    } cases[] = {
        {"4:2:0 q92, odd size", 203, 257, {"-quality", "92"}, 0, 5, 1, {}, ""},
        {"4:2:2 q96", 240, 231, {"-quality", "96", "-sample", "2x1"}, 1, 0, 1, {}, ""},
        {"4:4:4", 200, 220, {"-quality", "92", "-sample", "1x1"}, 2, 3, 1, {}, ""},
        {"4:4:0", 150, 250, {"-quality", "92", "-sample", "1x2"}, 3, 9, 1, {}, ""},
        {"progressive", 190, 250, {"-quality", "92", "-progressive"}, 3, 7, 1, {}, ""},
        {"progressive over the budget is held once", 700, 600, {"-progressive"}, 0, 0, 1, {"--memory-budget", "1"}, ""},
        {"restart every 3 MCUs", 256, 260, {"-quality", "92", "-restart", "3B"}, 4, 0, 1, {}, ""},
        {"restart every row, watermark", 177, 233, {"-quality", "96", "-restart", "1"}, 7, 11, 1, {}, ""},
        {"arithmetic", 170, 240, {"-quality", "92", "-arithmetic"}, 5, 2, 2, {}, ""},
        {"optimised tables", 180, 200, {"-optimize"}, 6, 1, 1, {}, ""},
        {"grey, converted", 130, 90, {"-grayscale"}, -1, 0, 1, {}, ""},
        {"colour, converted", 99, 77, {"-quality", "96"}, -1, 0, 1, {}, ""},
        {"over the budget: 4:2:2, arithmetic, restarts", 1200, 900,
         {"-quality", "96", "-sample", "2x1", "-arithmetic", "-restart", "2B"}, 3, 0, 1, {"--memory-budget", "1"},
         "its coefficients would take 4 MB, over the budget of 1 MB"},
        {"over the budget: 4:4:4, a restart every row", 800, 600, {"-sample", "1x1", "-restart", "1"}, 0, 0, 1,
         {"--memory-budget", "2", "--encoder-thread", "off"}, "its coefficients would take 3 MB, over the budget of 2 MB"},
        // Tiles 72 wide from the left edge, white (unchanged) in their left
        // 40 columns: columns 40 to 288 of 300 change, seen in the first row
        // with a mark, after which the rest need not be looked at.
        {"tiled", 300, 200, {"-quality", "92"}, 8, 0, 1, {}, reaches},
        {"tiled, progressive", 300, 200, {"-progressive", "-quality", "96"}, 8, 0, 1, {}, reaches},
    };
    const std::string input = P("in.jpg"), output = P("out/in.jpg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MakeJpeg("in.jpg", Photo(c.width, c.height), c.cjpeg);
        std::vector<std::string> options = c.options;
        if (c.mode >= 0) options.insert(options.end(), {"--stamp", P("stamp.bmp"), "--mode", std::to_string(c.mode)});
        if (c.margin) options.insert(options.end(), {"--margin", std::to_string(c.margin)});
        if (c.times != 1) options.insert(options.end(), {"--times", std::to_string(c.times)});
        const testing::ProcessRun run = Stamp(input, options);
        ASSERT_EQ(run.status, 0) << run.err;
        const Header h = ReadHeader(input);
        EXPECT_TRUE(ReadHeader(output) == h);
        if (!c.why.empty()) {
            EXPECT_NE(run.err.find(input + ": re-encoded with the input's tables (" + c.why + "), row by row"),
                      std::string::npos)
                << run.err;
            EXPECT_NE(run.err.find(input + ": warning: re-encoded with the input's tables: " + c.why + "\n"),
                      std::string::npos)
                << run.err;
        } else {
            const std::string copied = input + ": blocks outside the stamp copied, " + (c.mode < 0 ? "0 of " : "");
            EXPECT_NE(run.err.find(copied), std::string::npos) << run.err;
            EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
        }
        if (c.mode < 0) {
            EXPECT_TRUE(Crop(input, 0, 0, h.width, h.height) == Crop(output, 0, 0, h.width, h.height));
            continue;
        }
        const Box box = c.why.empty() ? StampBox(h, c.mode, c.margin) : Box{0, 0, h.width, h.height};
        if (c.why.empty()) ExpectSameOutside(input, output, h, box);

        // Inside, the stamp burnt into the input's pixels, as close as
        // encoding the stamped pixels with the same settings comes.
        const Pixels stamped = Stamped(input, c.mode, c.margin, c.times);
        MakeJpeg("reference.jpg", stamped, c.cjpeg);
        EXPECT_GT(Psnr(stamped, Decode(output, true), box),
                  Psnr(stamped, Decode(P("reference.jpg"), true), box) - (c.why.empty() ? 1 : 0.5));
        if (!c.why.empty() || c.mode >= 4) continue;

        // A solid stamp's white leaves the blocks under it as they were,
        // inside the box too.
        const Pixels a = Decode(input, false), b = Decode(output, false);
        const int x = c.mode % 2 ? h.width - stamp_->Width() - c.margin : c.margin;
        int kept = 0;
        for (int my = box.top; my < box.bottom; my += h.mcuHeight)
            for (int mx = box.left; mx < box.right; mx += h.mcuWidth) {
                if (mx + h.mcuWidth > x + 40 && mx < x + stamp_->Width()) continue;
                ++kept;
                for (int y = my; y < std::min(my + h.mcuHeight, h.height); ++y)
                    ASSERT_EQ(std::memcmp(a.At(mx, y), b.At(mx, y), 3 * std::size_t(std::min(h.mcuWidth, h.width - mx))), 0)
                        << "MCU at " << mx << "," << my;
            }
        EXPECT_GT(kept, 0);
    }
}

// Camera files, with their maker notes, odd samplings and orientations.
TEST_F(KeptJpeg, CameraPhotosKeepTheirBlocksAndMetadata) {
    const fs::path photos = SIGILLON_PHOTOS_DIR;
    if (!fs::exists(photos / "canon-hdr.jpg") || !fs::exists(photos / "nikon-d70s-preview.jpg"))
        GTEST_SKIP() << "the shared photos are not here";
    struct Case {
        const char* file;
        std::vector<std::string> options;
        bool copied;  // otherwise re-encoded, turned upright
        const char* maker;
    } cases[] = {
        {"nikon-d70s-preview.jpg", {}, true, "NIKON"},             // 4:4:0
        {"canon-hdr.jpg", {"--no-auto-orient"}, true, "Canon"},    // 4:2:2
        {"canon-hdr.jpg", {}, false, "Canon"},                     // turned a quarter
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + (c.options.empty() ? "" : " " + c.options[0]));
        const std::string input = P(c.file);
        fs::copy_file(photos / c.file, input, fs::copy_options::overwrite_existing);
        std::vector<std::string> options = c.options;
        options.insert(options.end(), {"--stamp", P("stamp.bmp"), "--mode", "3"});
        const testing::ProcessRun run = Stamp(input, options);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::string output = P(std::string("out/") + c.file);
        const Header h = ReadHeader(input);
        Header out = ReadHeader(output);
        const Bytes written = testing::ReadAll(output);
        EXPECT_NE(std::search(written.begin(), written.end(), c.maker, c.maker + std::strlen(c.maker)), written.end())
            << "the maker's EXIF is kept";
        EXPECT_NE(run.err.find(c.copied ? input + ": blocks outside the stamp copied"
                                        : input + ": warning: re-encoded with the input's tables: its EXIF "
                                                  "orientation turns it upright"),
                  std::string::npos)
            << run.err;
        if (!c.copied) std::swap(out.width, out.height);
        EXPECT_TRUE(out == h);
        if (c.copied) ExpectSameOutside(input, output, h, StampBox(h, 3, 0));
    }
}

// Pictures that were no JPEG files are saved as the desktop program saves.
TEST(KeptJpegOthers, OtherInputsAreStillSavedAtQuality85) {
    testing::TempFolder folder;
    const auto picture = testing::RandomPicture(Depth24, 97, 61, 3);
    ASSERT_EQ(SavePictureFileQuiet(*picture, folder / "in.bmp"), FileOutcome::Done);
    ASSERT_EQ(SavePictureFileQuiet(*picture, folder / "program.jpg"), FileOutcome::Done);
    const testing::ProcessRun run =
        testing::RunProcess({SIGILLON_BATCH_TOOL, "--to", ".jpg", "--out", folder.path(), folder / "in.bmp"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(testing::ReadAll(folder / "in.jpg") == testing::ReadAll(folder / "program.jpg"));
}

}  // namespace
}  // namespace sigillon
