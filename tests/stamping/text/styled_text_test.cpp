#include "stamping/text/styled_text.h"

#include <gtest/gtest.h>

#include <QImage>
#include <cmath>
#include <string>
#include <utility>

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
    for (int i = 0; i < image.width() * image.height(); ++i)
        inked += qAlpha(image.pixel(i % image.width(), i / image.width())) > 0;
    return inked;
}

// Arabic letters kept from joining (a zero-width non-joiner between each)
// take other forms than the joined word; Latin ones do not. Two Chinese
// glyphs swapped give another raster, which missing-glyph boxes would not.
TEST(StyledText, ShapesEachScript) {
    for (auto [word, joins] :
         {std::pair{QString::fromUtf8("مرحبا"), true}, {QStringLiteral("Sigillon"), false}}) {
        QString apart;
        for (QChar letter : word) apart += (apart.isEmpty() ? "" : QString(QChar(0x200C))) + letter;
        const QImage joined = Draw(word);
        EXPECT_GT(InkedPixels(joined), 50) << word.toStdString();
        EXPECT_EQ(joined != Draw(apart), joins) << word.toStdString();
    }
    const QImage chinese = Draw(QString::fromUtf8("你好")),
                 swapped = Draw(QString::fromUtf8("好你"));
    EXPECT_GT(InkedPixels(chinese), 200);
    EXPECT_NE(chinese, swapped);
}

// "I" in red, 3 pixels of blue outline, a green shadow 12 right and 7 down: the
// stem's middle is red, just left of it outline, and the shadow where the offset
// moves the stem, beyond both.
TEST(StyledText, OutlineAroundTheLettersAndShadowAtItsOffset) {
    TextStyle style;
    style.colour = RGBColor(255, 0, 0);
    const QImage plain = Draw("I", style);
    const int row = plain.height() / 2;  // the stem: this row's run of opaque pixels
    int left = 0, right = plain.width() - 1;
    while (left < plain.width() && qAlpha(plain.pixel(left, row)) < 255) ++left;
    while (right > left && qAlpha(plain.pixel(right, row)) < 255) --right;
    ASSERT_LT(left, plain.width());
    style.outline = 3;
    style.outlineColour = RGBColor(0, 0, 255);
    style.shadow = true;
    style.shadowDx = 12;
    style.shadowDy = 7;
    style.shadowColour = RGBColor(0, 128, 0);
    const QImage dressed = Draw("I", style);
    // The outline widens the raster by 3 each side, moving the plain origin to (3, 3); the
    // shadow widens it by its offset.
    EXPECT_EQ(dressed.size(), plain.size() + QSize(6 + 12, 6 + 7));
    EXPECT_EQ(dressed.pixel(3 + (left + right) / 2, 3 + row), qRgba(255, 0, 0, 255));
    EXPECT_EQ(dressed.pixel(3 + left - 2, 3 + row), qRgba(0, 0, 255, 255));
    EXPECT_EQ(dressed.pixel(3 + right + 12, 3 + row + 7), qRgba(0, 128, 0, 255));
    // Blurred, the shadow reaches beyond its sharp right edge, fading.
    style.shadowBlur = 6;
    const int faded = qAlpha(Draw("I", style).pixel(3 + right + 3 + 12 + 3, 3 + row + 7));
    EXPECT_TRUE(faded > 0 && faded < 255) << faded;
}

TEST(StyledText, DefaultOutlineAndShadowContrastWithTheText) {
    TextStyle style;
    style.outline = 2;
    style.shadow = true;
    for (auto [colour, contrast] : {std::pair{RGBColor(255, 255, 0), QColor(Qt::black)},
                                    {RGBColor(128, 128, 128), Qt::black},
                                    {RGBColor(127, 127, 127), Qt::white},
                                    {RGBColor(0, 0, 128), Qt::white}}) {
        style.colour = colour;
        const StyledTextInput input = StyledInput(style, clBlack, QFont(), "x");
        EXPECT_EQ(input.outlineColour, contrast) << colour;
        EXPECT_EQ(input.shadowColour, contrast) << colour;
    }
}

// Premultiplied pixels come out as their colours and the alpha plane;
// nothing drawn is white.
TEST(AlphaStampFromImage, DividesColoursByTheirAlpha) {
    const QRgb pixels[4] = {qRgba(0, 0, 0, 0), qRgba(100, 50, 0, 200), qRgba(64, 32, 16, 128),
                            qRgba(255, 0, 10, 255)};
    const QImage image(reinterpret_cast<const uchar*>(pixels), 4, 1,
                       QImage::Format_ARGB32_Premultiplied);
    const AlphaStamp stamp = AlphaStampFromImage(image);
    ASSERT_EQ(stamp.alpha, (std::vector<std::uint8_t>{0, 200, 128, 255}));
    const int expected[4][3] = {{255, 255, 255}, {0, 64, 128}, {32, 64, 128}, {10, 0, 255}};
    for (int i = 0; i < 12; ++i)
        EXPECT_LE(std::abs(stamp.pixels->RowAddress(0)[i] - expected[i / 3][i % 3]), 1) << i;
}

}  // namespace
}  // namespace sigillon
