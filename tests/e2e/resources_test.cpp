// The artwork compiled into the program, read back with our own BMP reader:
// the sizes and formats the windows are laid out for, the see-through colour
// of every glyph, and the mode strip's colours, which must come through the
// nearest-colour copy into an 8-bit glyph unchanged.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "pictures/bmp/bmp.h"

namespace sigillon {
namespace {

constexpr TColor kGrey = 0x00808080;
constexpr TColor kBlue = 0x00FF0000;

QByteArray ResourceBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void ReadGlyph(TBitmap& picture, const std::string& name) {
    QByteArray bytes = ResourceBytes(QString(":/glyphs/%1.bmp").arg(QString::fromStdString(name)));
    ASSERT_FALSE(bytes.isEmpty()) << name << " is not among the resources";
    ReadBmpData(picture, reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                std::size_t(bytes.size()));
}

TColor BottomLeft(const TBitmap& picture) { return picture.PixelAt(0, picture.Height() - 1); }

struct GlyphCase {
    const char* name;
    int width;
    int height;
    PixelDepth depth;
};

class GlyphTest : public ::testing::TestWithParam<GlyphCase> {};

TEST_P(GlyphTest, HasTheSizeAndFormatItIsLaidOutFor) {
    const GlyphCase& c = GetParam();
    TBitmap picture;
    ASSERT_NO_FATAL_FAILURE(ReadGlyph(picture, c.name));
    EXPECT_EQ(picture.Width(), c.width);
    EXPECT_EQ(picture.Height(), c.height);
    EXPECT_EQ(picture.GetDepth(), c.depth);
    if (c.depth == Depth4) {
        EXPECT_EQ(picture.Palette(), StandardPalette16());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Artwork, GlyphTest,
    ::testing::Values(GlyphCase{"open", 64, 17, Depth4}, GlyphCase{"reload", 64, 17, Depth4},
                      GlyphCase{"save", 64, 17, Depth4}, GlyphCase{"test", 23, 20, Depth4},
                      GlyphCase{"overview", 16, 16, Depth4}, GlyphCase{"about", 16, 16, Depth1},
                      GlyphCase{"color", 56, 8, Depth4}, GlyphCase{"stamptext", 48, 17, Depth4},
                      GlyphCase{"openstamp", 48, 17, Depth4}, GlyphCase{"stamp", 48, 17, Depth4},
                      GlyphCase{"modes", 288, 32, Depth8}, GlyphCase{"logo", 174, 32, Depth4},
                      GlyphCase{"icon", 48, 48, Depth24}),
    [](const ::testing::TestParamInfo<GlyphCase>& info) { return std::string(info.param.name); });

TEST(AboutGlyph, IsBlackOnSeeThroughWhite) {
    TBitmap picture;
    ASSERT_NO_FATAL_FAILURE(ReadGlyph(picture, "about"));
    EXPECT_EQ(BottomLeft(picture), clWhite);
    std::set<TColor> colours;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) colours.insert(picture.PixelAt(x, y));
    EXPECT_EQ(colours, (std::set<TColor>{clBlack, clWhite}));
}

TEST(ColourGlyph, ShowsTheSevenSwatchesInOrder) {
    TBitmap picture;
    ASSERT_NO_FATAL_FAILURE(ReadGlyph(picture, "color"));
    const TColor swatches[] = {0x000000, 0xC0C0C0, 0xFF0000, 0x0000FF, 0x00FFFF, 0x00FF00, 0xFF00FF};
    const TColor key = BottomLeft(picture);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(picture.PixelAt(8 * i + 3, 3), swatches[i]) << "swatch " << i;
        EXPECT_NE(swatches[i], key) << "swatch " << i << " would be see-through";
    }
}

// Where the marks of one mode-strip cell lie: which colours, and the box
// around every pixel of that colour.
struct CellMarks {
    std::set<TColor> colours;
    int left = 32, top = 32, right = -1, bottom = -1;
};

CellMarks MarksOfCell(const TBitmap& strip, int cell, TColor markColour) {
    CellMarks marks;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            TColor c = strip.PixelAt(32 * cell + x, y);
            marks.colours.insert(c);
            if (c != markColour) continue;
            marks.left = std::min(marks.left, x);
            marks.top = std::min(marks.top, y);
            marks.right = std::max(marks.right, x);
            marks.bottom = std::max(marks.bottom, y);
        }
    return marks;
}

TEST(ModeStrip, EveryCellIsWhiteAtItsBottomLeftAndFramedInBlack) {
    TBitmap strip;
    ASSERT_NO_FATAL_FAILURE(ReadGlyph(strip, "modes"));
    for (int cell = 0; cell < 9; ++cell) {
        EXPECT_EQ(strip.PixelAt(32 * cell, 31), clWhite) << "cell " << cell;
        EXPECT_EQ(strip.PixelAt(32 * cell + 16, 1), clBlack) << "cell " << cell << " top frame";
        EXPECT_EQ(strip.PixelAt(32 * cell + 1, 16), clBlack) << "cell " << cell << " left frame";
    }
}

// ModeGlyph copies each cell into an 8-bit glyph by nearest palette colour;
// only colours that the 8-bit palette holds exactly come through unchanged.
TEST(ModeStrip, UsesOnlyColoursThatSurviveTheEightBitCopy) {
    TBitmap strip;
    ASSERT_NO_FATAL_FAILURE(ReadGlyph(strip, "modes"));
    const std::set<TColor> allowed{clBlack, clWhite, kGrey, kBlue};
    const auto& palette = HalftonePalette256();
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 288; ++x) {
            TColor c = strip.PixelAt(x, y);
            ASSERT_TRUE(allowed.count(c)) << "pixel " << x << "," << y << " is " << std::hex << c;
            ASSERT_NE(std::find(palette.begin(), palette.end(), c), palette.end())
                << "pixel " << x << "," << y << ": the 8-bit palette lacks " << std::hex << c;
        }
}

TEST(ModeStrip, MarksSitWhereEachModeStamps) {
    TBitmap strip;
    ASSERT_NO_FATAL_FAILURE(ReadGlyph(strip, "modes"));
    for (int mode = 0; mode < 8; ++mode) {
        const TColor mark = mode < 4 ? kBlue : kGrey;
        const TColor other = mode < 4 ? kGrey : kBlue;
        CellMarks m = MarksOfCell(strip, mode, mark);
        SCOPED_TRACE("mode " + std::to_string(mode));
        ASSERT_TRUE(m.colours.count(mark));
        EXPECT_FALSE(m.colours.count(other));
        const bool right = mode % 2 == 1, bottom = mode % 4 >= 2;
        // A small mark inside one quarter of the cell.
        EXPECT_LT(m.right - m.left, 16);
        EXPECT_LT(m.bottom - m.top, 16);
        EXPECT_EQ(m.left >= 16, right);
        EXPECT_EQ(m.top >= 16, bottom);
    }
    CellMarks tiled = MarksOfCell(strip, 8, kGrey);
    EXPECT_FALSE(tiled.colours.count(kBlue));
    EXPECT_LE(tiled.left, 4);
    EXPECT_LE(tiled.top, 4);
    EXPECT_GE(tiled.right, 27);
    EXPECT_GE(tiled.bottom, 27);
}

TEST(AboutText, IsUtf8WithTenTopicsAndTheMakersAddresses) {
    QByteArray bytes = ResourceBytes(":/text/about.txt");
    ASSERT_FALSE(bytes.isEmpty());
    QString text = QString::fromUtf8(bytes);
    EXPECT_EQ(text.toUtf8(), bytes) << "not valid UTF-8";
    QStringList paragraphs = text.trimmed().split("\n\n");
    EXPECT_EQ(paragraphs.size(), 10);
    EXPECT_TRUE(text.contains("https://sigillon.example.org"));
    EXPECT_TRUE(text.contains("developers@sigillon.example.org"));
    EXPECT_TRUE(text.contains(QStringLiteral("版权")));
}

// The sample stamps installed beside the program: 24-bit, on white, which
// the stamping leaves out.
TEST(SampleStamps, AreTrueColourOnWhite) {
    for (const char* name : {"seal", "mark"}) {
        SCOPED_TRACE(name);
        std::ifstream file(std::string(SIGILLON_RESOURCES_DIR) + "/stamps/" + name + ".bmp",
                           std::ios::binary);
        std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
        ASSERT_FALSE(bytes.empty());
        TBitmap stamp;
        ReadBmpData(stamp, bytes.data(), bytes.size());
        EXPECT_EQ(stamp.GetDepth(), Depth24);
        const int w = stamp.Width(), h = stamp.Height();
        ASSERT_GT(w, 16);
        ASSERT_GT(h, 16);
        for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}})
            EXPECT_EQ(stamp.PixelAt(x, y), clWhite);
    }
}

}  // namespace
}  // namespace sigillon
