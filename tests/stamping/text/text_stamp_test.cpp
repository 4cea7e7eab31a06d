#include "stamping/text/text_stamp.h"

#include <gtest/gtest.h>

#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace sigillon {
namespace {

TEST(MulDiv, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(13, 72, 96), 10);  // 9.75
    EXPECT_EQ(MulDiv(1, 1, 2), 1);
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(MulDiv(5, 1, -2), -3);
    EXPECT_EQ(MulDiv(7, 1, 3), 2);
    EXPECT_EQ(MulDiv(1, 1, 0), 0);
}

const int kCharacterHeights[9] = {13, 27, 40, 53, 67, 80, 93, 107, 120};

TEST(StampCharacterHeight, TenPointStepsAtNinetySixDotsPerInch) {
    for (int factor = 1; factor <= 9; ++factor)
        EXPECT_EQ(StampCharacterHeight(13, factor, 96), kCharacterHeights[factor - 1]) << factor;
    EXPECT_EQ(StampCharacterHeight(13, 3, 120), 40);  // 13 px is 8 pt at 120 dpi, 24 pt is 40 px
}

TEST(TextStampFont, FieldFontAtTheFactorWithUnsmoothedEdges) {
    ASSERT_EQ(ScreenDotsPerInch(), 96);
    QFont points = StampTextFieldFont();
    points.setPointSize(10);  // 13 pixels at 96 dots per inch
    for (int factor = 1; factor <= 9; ++factor) {
        for (const QFont& field : {StampTextFieldFont(), points}) {
            QFont font = TextStampFont(field, factor);
            EXPECT_EQ(font.pixelSize(), kCharacterHeights[factor - 1]) << factor;
            EXPECT_EQ(font.styleStrategy() & QFont::NoAntialias, QFont::NoAntialias);
            EXPECT_TRUE(font.bold());
            EXPECT_EQ(font.families(), StampTextFieldFont().families());
        }
    }
}

QFont DrawingFont(int factor = 3) {
    QFont font = StampTextFieldFont();
    font.setPixelSize(kCharacterHeights[factor - 1]);
    font.setStyleStrategy(QFont::NoAntialias);
    return font;
}

// The width a text should take, worked out from the font's advances by the
// rules the label follows: an ampersand is not drawn and a doubled one
// draws one, a tab moves on to the next tab stop (every eight widths of
// "x", rounded to a whole pixel),
// and a last letter whose ink reaches past its advance (y) widens the text
// by that overhang. Partly covered pixels count.
int ExpectedWidth(const QFont& font, const QString& text) {
    QFontMetricsF metrics(font);
    const qreal tabStop = std::round(8 * metrics.horizontalAdvance(QLatin1Char('x')));
    qreal x = 0;
    QString run;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') run += text[++i];
        } else if (text[i] == '\t') {
            x += metrics.horizontalAdvance(run);
            run.clear();
            x = (std::floor(x / tabStop) + 1) * tabStop;
        } else {
            run += text[i];
        }
    }
    if (text.isEmpty()) run = QStringLiteral(" ");
    qreal overhang = run.isEmpty() ? 0 : std::max<qreal>(0, -metrics.rightBearing(run.back()));
    return int(std::ceil(x + metrics.horizontalAdvance(run) + overhang));
}

TEST(TextStamp, RasterIsAsWideAsTheTextAndAsHighAsOneLine) {
    const char* texts[] = {"Sigillon 2026",
                           "\xC2\xA9 sigillon.example.org",
                           "A&B",
                           "a&&b",
                           "&&&&",
                           "&&&x",
                           "x&&&&y",
                           "a\tb",
                           "\tlead",
                           "x\t\ty",
                           "a\tb\tc",
                           "y",
                           "Sigillon\t2026 y",
                           "",
                           " ",
                           "\xE4\xB8\xAD\xE6\x96\x87\xE6\xB0\xB4\xE5\x8D\xB0",
                           "The quick brown fox jumps over the lazy dog 0123456789"};
    for (int factor : {1, 3, 9}) {
        QFont font = DrawingFont(factor);
        for (const char* utf8 : texts) {
            QString text = QString::fromUtf8(utf8);
            SCOPED_TRACE(utf8);
            SCOPED_TRACE(factor);
            int width = ExpectedWidth(font, text);
            EXPECT_EQ(MeasureTextStamp(font, text), QSize(width, QFontMetrics(font).height()));
            TextStampInput input;
            input.font = StampTextFieldFont();
            input.text = text;
            input.sizeFactor = factor;
            std::unique_ptr<TBitmap> raster = RenderTextStamp(input);
            EXPECT_EQ(raster->GetDepth(), DepthDevice);
            EXPECT_EQ(raster->Width(), width);
            EXPECT_EQ(raster->Height(), QFontMetrics(font).height());
        }
    }
}

std::unique_ptr<TBitmap> Render(const QString& text, QColor colour = Qt::black, int factor = 3) {
    TextStampInput input;
    input.font = StampTextFieldFont();
    input.colour = colour;
    input.text = text;
    input.sizeFactor = factor;
    return RenderTextStamp(input);
}

// The colours of a raster, top row first, after conversion to 24 bits.
std::vector<TColor> Colours(TBitmap& raster) {
    raster.SetDepth(Depth24);
    std::vector<TColor> colours;
    for (int y = 0; y < raster.Height(); ++y)
        for (int x = 0; x < raster.Width(); ++x) colours.push_back(raster.PixelAt(x, y));
    return colours;
}

int Count(const std::vector<TColor>& colours, TColor colour) {
    return int(std::count(colours.begin(), colours.end(), colour));
}

TEST(TextStamp, BackgroundIsExactWhiteAndLettersAreTheFontColour) {
    for (const TextColour& colour : kTextColours) {
        std::vector<TColor> colours = Colours(*Render("Abc ©", ToQColor(colour.value)));
        int white = Count(colours, clWhite);
        int inked = Count(colours, colour.value);
        EXPECT_GT(inked, 50) << colour.name;
        EXPECT_GT(white, inked) << colour.name;
        EXPECT_EQ(white + inked, int(colours.size())) << colour.name << ": no other colour";
    }
}

TEST(TextStamp, AmpersandUnderlinesTheNextCharacterAndIsNotDrawn) {
    std::vector<TColor> plain = Colours(*Render("AB"));
    std::vector<TColor> prefixed = Colours(*Render("A&B"));
    ASSERT_EQ(prefixed.size(), plain.size());
    EXPECT_GT(Count(prefixed, clBlack), Count(plain, clBlack)) << "the underline adds ink";

    // Nothing to draw at all: an empty raster, which the stamp check
    // refuses as no stamp.
    EXPECT_TRUE(Render("&")->IsEmpty());
}

// A doubled ampersand draws one: "a&&b" gives the pixels of the text "a&b"
// drawn by a painter that knows no ampersand rule.
TEST(TextStamp, DoubledAmpersandDrawsOneAmpersand) {
    for (const char* text : {"a&&b", "&&", "x&&&&y"}) {
        QString literal = QString::fromUtf8(text).replace("&&", "&");
        std::unique_ptr<TBitmap> raster = Render(QString::fromUtf8(text));
        QFont font = DrawingFont();
        QImage expected(raster->Width(), raster->Height(), QImage::Format_RGB32);
        expected.fill(Qt::white);
        {
            QPainter painter(&expected);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(0, QFontMetrics(font).ascent(), literal);
        }
        std::vector<TColor> colours = Colours(*raster);
        for (int y = 0; y < expected.height(); ++y)
            for (int x = 0; x < expected.width(); ++x) {
                QColor c = expected.pixelColor(x, y);
                ASSERT_EQ(colours[std::size_t(y * expected.width() + x)],
                          RGBColor(std::uint8_t(c.red()), std::uint8_t(c.green()),
                                   std::uint8_t(c.blue())))
                    << text << " at " << x << ", " << y;
            }
    }
}

TEST(TextStamp, EmptyTextIsOneWhiteSpace) {
    std::unique_ptr<TBitmap> empty = Render(QString());
    std::unique_ptr<TBitmap> space = Render(QStringLiteral(" "));
    EXPECT_EQ(empty->Width(), space->Width());
    EXPECT_EQ(empty->Height(), space->Height());
    std::vector<TColor> colours = Colours(*empty);
    EXPECT_EQ(Count(colours, clWhite), int(colours.size()));
}

TEST(TextStamp, TheSameInputGivesTheSameRaster) {
    std::unique_ptr<TBitmap> a = Render("© Sigillon", Qt::red, 5);
    std::unique_ptr<TBitmap> b = Render("© Sigillon", Qt::red, 5);
    EXPECT_EQ(Colours(*a), Colours(*b));
}

TEST(TextStamp, ARasterTooLargeToHoldIsRefusedWithItsSize) {
    QFont huge = StampTextFieldFont();
    huge.setPixelSize(5000);
    try {
        RenderText(huge, Qt::black, Qt::white, QString(64, QLatin1Char('W')));
        ADD_FAILURE() << "no refusal";
    } catch (const BitmapError& e) {
        QSize size = MeasureTextStamp(huge, QString(64, QLatin1Char('W')));
        EXPECT_EQ(std::string(e.what()),
                  "a text stamp of " + std::to_string(size.width()) + " x " +
                      std::to_string(size.height()) + " pixels is too large to hold");
    }
}

// Our 32-bit pixels hold blue, green, red and a zero byte, top row first
// when read through RowAddress, whatever the image's own format.
TEST(BitmapFromImage, CopiesThePixelsIntoDeviceRows) {
    for (QImage::Format format : {QImage::Format_RGB32, QImage::Format_ARGB32,
                                  QImage::Format_RGB888, QImage::Format_Indexed8}) {
        QImage image(3, 2, QImage::Format_RGB32);
        const QRgb pixels[2][3] = {{qRgb(1, 2, 3), qRgb(255, 255, 255), qRgb(0, 0, 0)},
                                   {qRgb(200, 100, 50), qRgb(9, 8, 7), qRgb(128, 0, 128)}};
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) image.setPixel(x, y, pixels[y][x]);
        std::unique_ptr<TBitmap> raster = BitmapFromImage(image.convertToFormat(format));
        ASSERT_EQ(raster->GetDepth(), DepthDevice) << format;
        ASSERT_EQ(raster->Width(), 3);
        ASSERT_EQ(raster->Height(), 2);
        const TBitmap& rows = *raster;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x) {
                const std::uint8_t* p = rows.RowAddress(y) + 4 * x;
                EXPECT_EQ(p[0], qBlue(pixels[y][x])) << format << " " << x << "," << y;
                EXPECT_EQ(p[1], qGreen(pixels[y][x]));
                EXPECT_EQ(p[2], qRed(pixels[y][x]));
                EXPECT_EQ(p[3], 0);
            }
    }
    EXPECT_TRUE(BitmapFromImage(QImage())->IsEmpty());
    EXPECT_TRUE(BitmapFromImage(QImage(0, 4, QImage::Format_RGB32))->IsEmpty());
}

}  // namespace
}  // namespace sigillon

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
