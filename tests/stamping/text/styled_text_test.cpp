#include "stamping/text/styled_text.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <string>

namespace sigillon {
namespace {

QImage Draw(const QString& text, const TextStyle& style = {}) {
    std::string problem;
    const QFont font = StyledTextFont("", 3, problem).value();
    return RenderStyledText(StyledInput(style, clBlack, font, text))
        .convertToFormat(QImage::Format_ARGB32);
}

int InkedPixels(const QImage& image) {
    int inked = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) inked += qAlpha(image.pixel(x, y)) > 0;
    return inked;
}

// Shaping is real: Arabic letters kept from joining (a zero-width
// non-joiner between each) take other forms than the joined word, while
// Latin letters are the same either way. Chinese drawn in a font that has
// it: two glyphs swapped give another raster, which missing-glyph boxes
// would not.
TEST(StyledText, ShapesEachScript) {
    const QString zwnj = QString(QChar(0x200C));
    struct Case {
        const char* name;
        QString word;
        bool joins;
    };
    for (const Case& c : {Case{"Arabic", QString::fromUtf8("مرحبا"), true},
                          Case{"Latin", QStringLiteral("Sigillon"), false}}) {
        QString apart;
        for (QChar letter : c.word) apart += (apart.isEmpty() ? "" : zwnj) + letter;
        const QImage joined = Draw(c.word), separate = Draw(apart);
        EXPECT_GT(InkedPixels(joined), 50) << c.name;
        EXPECT_EQ(joined != separate, c.joins) << c.name;
    }
    const QImage chinese = Draw(QString::fromUtf8("你好")), swapped = Draw(QString::fromUtf8("好你"));
    EXPECT_GT(InkedPixels(chinese), 200);
    EXPECT_EQ(chinese.size(), swapped.size());
    EXPECT_NE(chinese, swapped);
}

// "I" in red, 3 pixels of blue outline, a green shadow 12 right and 7 down:
// the stem's middle is red, just left of the stem is outline, and the
// shadow sits where the stem would be moved by the offset, beyond both.
TEST(StyledText, OutlineAroundTheLettersAndShadowAtItsOffset) {
    TextStyle plainStyle;
    plainStyle.colour = RGBColor(255, 0, 0);
    const QImage plain = Draw("I", plainStyle);
    // The stem: the middle row's run of opaque pixels.
    const int row = plain.height() / 2;
    int left = -1, right = -1;
    for (int x = 0; x < plain.width(); ++x)
        if (qAlpha(plain.pixel(x, row)) == 255) {
            if (left < 0) left = x;
            right = x;
        }
    ASSERT_GE(left, 0);
    const int middle = (left + right) / 2;
    EXPECT_EQ(plain.pixel(middle, row), qRgba(255, 0, 0, 255));

    TextStyle style = plainStyle;
    style.outline = 3;
    style.outlineColour = RGBColor(0, 0, 255);
    style.shadow = true;
    style.shadowDx = 12;
    style.shadowDy = 7;
    style.shadowColour = RGBColor(0, 128, 0);
    const QImage dressed = Draw("I", style);
    // The outline widens the raster by 3 each side; the shadow by its offset.
    EXPECT_EQ(dressed.width(), plain.width() + 6 + 12);
    EXPECT_EQ(dressed.height(), plain.height() + 6 + 7);
    const int x0 = 3, y0 = 3;  // where the plain raster's origin went
    EXPECT_EQ(dressed.pixel(x0 + middle, y0 + row), qRgba(255, 0, 0, 255));
    EXPECT_EQ(dressed.pixel(x0 + left - 2, y0 + row), qRgba(0, 0, 255, 255));
    EXPECT_EQ(dressed.pixel(x0 + right + 12, y0 + row + 7), qRgba(0, 128, 0, 255));

    // Blurred, the shadow reaches beyond its sharp edge, fading.
    style.shadowBlur = 6;
    const QImage soft = Draw("I", style);
    const int edge = x0 + right + 3 + 12;  // the sharp shadow's right edge
    const int faded = qAlpha(soft.pixel(edge + 3, y0 + row + 7));
    EXPECT_GT(faded, 0);
    EXPECT_LT(faded, 255);
}

TEST(StyledText, DefaultOutlineAndShadowContrastWithTheText) {
    EXPECT_EQ(ContrastingColour(RGBColor(255, 255, 0)), clBlack);
    EXPECT_EQ(ContrastingColour(RGBColor(128, 128, 128)), clBlack);
    EXPECT_EQ(ContrastingColour(RGBColor(127, 127, 127)), clWhite);
    TextStyle style;
    style.colour = RGBColor(0, 0, 128);
    style.outline = 2;
    style.shadow = true;
    const StyledTextInput input = StyledInput(style, clBlack, QFont(), "x");
    EXPECT_EQ(input.outlineColour, QColor(255, 255, 255));
    EXPECT_EQ(input.shadowColour, QColor(255, 255, 255));
}

// Premultiplied pixels come out as their colours and the alpha plane;
// nothing drawn is white.
TEST(AlphaStampFromImage, DividesColoursByTheirAlpha) {
    QImage image(4, 1, QImage::Format_ARGB32_Premultiplied);
    const QRgb pixels[4] = {qRgba(0, 0, 0, 0), qRgba(100, 50, 0, 200), qRgba(64, 32, 16, 128),
                            qRgba(255, 0, 10, 255)};
    for (int x = 0; x < 4; ++x) image.setPixel(x, 0, pixels[x]);
    const AlphaStamp stamp = AlphaStampFromImage(image);
    ASSERT_EQ(stamp.alpha, (std::vector<std::uint8_t>{0, 200, 128, 255}));
    const std::uint8_t* row = stamp.pixels->RowAddress(0);
    const int expected[4][3] = {{255, 255, 255}, {0, 64, 128}, {32, 64, 128}, {10, 0, 255}};
    for (int x = 0; x < 4; ++x)
        for (int k = 0; k < 3; ++k)
            EXPECT_LE(std::abs(row[3 * x + k] - expected[x][k]), 1) << x << " " << k;
}

}  // namespace
}  // namespace sigillon
