#include "stamping/text/ustamp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <cstring>

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

TEST(StampCharacterHeight, TenPointStepsAtNinetySixDotsPerInch) {
    const int expected[] = {13, 27, 40, 53, 67, 80, 93, 107, 120};
    for (int factor = 1; factor <= 9; ++factor)
        EXPECT_EQ(StampCharacterHeight(13, factor, 96), expected[factor - 1]) << factor;
    EXPECT_EQ(StampCharacterHeight(13, 3, 120), 40);  // 13 px is 8 pt at 120 dpi, 24 pt is 40 px
}

struct Rendered {
    std::unique_ptr<TBitmap> bitmap;
    QSize measured;
};

class TextStamp : public ::testing::Test {
protected:
    Rendered Render(const QString& text, QColor colour = Qt::black, int factor = 3) {
        TextStampInput input;
        input.font = StampTextFieldFont();
        input.colour = colour;
        input.text = text;
        input.sizeFactor = factor;
        Rendered r;
        r.bitmap = window.RenderTextStamp(input);
        r.measured = window.Label1()->MeasuredSize();
        return r;
    }

    // Counts pixels by class after conversion to 24 bits.
    static void Classify(TBitmap& bitmap, TColor ink, int& white, int& inked, int& other) {
        bitmap.SetDepth(Depth24);
        white = inked = other = 0;
        for (int y = 0; y < bitmap.Height(); ++y)
            for (int x = 0; x < bitmap.Width(); ++x) {
                TColor c = bitmap.PixelAt(x, y);
                (c == clWhite ? white : c == ink ? inked : other)++;
            }
    }

    Tfstamp window;
};

TEST_F(TextStamp, RasterIsDeviceDependentAndExactlyTheMeasuredExtent) {
    Rendered r = Render(QStringLiteral("Sigillon 2026"));
    EXPECT_EQ(r.bitmap->GetDepth(), DepthDevice);
    EXPECT_EQ(r.bitmap->Width(), r.measured.width());
    EXPECT_EQ(r.bitmap->Height(), r.measured.height());
    EXPECT_EQ(window.size(), r.measured) << "the window shrinks to the label";
    QFont font = StampTextFieldFont();
    font.setPixelSize(StampCharacterHeight(13, 3, ScreenDotsPerInch()));
    font.setStyleStrategy(QFont::NoAntialias);
    EXPECT_EQ(r.bitmap->Height(), QFontMetrics(font).height());
}

TEST_F(TextStamp, BackgroundIsExactWhiteAndLettersAreTheFontColour) {
    for (QColor colour : {QColor(0, 0, 0), QColor(0, 0, 255), QColor(128, 0, 128)}) {
        Rendered r = Render(QStringLiteral("Abc ©"), colour);
        int white, inked, other;
        TColor ink = RGBColor(std::uint8_t(colour.red()), std::uint8_t(colour.green()),
                              std::uint8_t(colour.blue()));
        Classify(*r.bitmap, ink, white, inked, other);
        EXPECT_GT(inked, 50) << colour.name().toStdString();
        EXPECT_GT(white, inked);
        EXPECT_EQ(other, 0) << colour.name().toStdString();
    }
}

TEST_F(TextStamp, SizeFactorScalesTheCharacterHeight) {
    int previous = 0;
    for (int factor = 1; factor <= 9; ++factor) {
        Rendered r = Render(QStringLiteral("Hg"), Qt::black, factor);
        EXPECT_GT(r.bitmap->Height(), previous) << factor;
        previous = r.bitmap->Height();
        EXPECT_EQ(window.Label1()->font().pixelSize(),
                  StampCharacterHeight(13, factor, ScreenDotsPerInch()));
    }
}

TEST_F(TextStamp, AmpersandUnderlinesTheNextCharacterAndIsNotDrawn) {
    Rendered plain = Render(QStringLiteral("AB"));
    Rendered prefixed = Render(QStringLiteral("A&B"));
    EXPECT_EQ(prefixed.measured.width(), plain.measured.width());
    // The underline adds inked pixels below the letters' baseline.
    int white, inkedPlain, inkedPrefixed, other;
    Classify(*plain.bitmap, clBlack, white, inkedPlain, other);
    Classify(*prefixed.bitmap, clBlack, white, inkedPrefixed, other);
    EXPECT_GT(inkedPrefixed, inkedPlain);

    Rendered doubled = Render(QStringLiteral("&&"));
    Rendered single = Render(QStringLiteral("x"));
    EXPECT_GT(doubled.measured.width(), 0);
    Rendered twoAmpersands = Render(QStringLiteral("&&&&"));
    EXPECT_GT(twoAmpersands.measured.width(), doubled.measured.width())
        << "&&&& draws two ampersands, && one";
    (void)single;
}

TEST_F(TextStamp, EmptyTextIsOneWhiteSpace) {
    Rendered empty = Render(QString());
    Rendered space = Render(QStringLiteral(" "));
    EXPECT_EQ(empty.measured, space.measured);
    EXPECT_GT(empty.bitmap->Width(), 0);
    int white, inked, other;
    Classify(*empty.bitmap, clBlack, white, inked, other);
    EXPECT_EQ(white, empty.bitmap->Width() * empty.bitmap->Height());
}

TEST_F(TextStamp, TabsAreExpanded) {
    Rendered tabbed = Render(QStringLiteral("a\tb"));
    Rendered joined = Render(QStringLiteral("ab"));
    EXPECT_GT(tabbed.measured.width(), joined.measured.width());
}

TEST_F(TextStamp, TheSameInputGivesTheSameRaster) {
    Rendered a = Render(QStringLiteral("© Sigillon"), Qt::red, 5);
    Rendered b = Render(QStringLiteral("© Sigillon"), Qt::red, 5);
    ASSERT_EQ(a.bitmap->Width(), b.bitmap->Width());
    ASSERT_EQ(a.bitmap->Height(), b.bitmap->Height());
    a.bitmap->SetDepth(Depth24);
    b.bitmap->SetDepth(Depth24);
    for (int y = 0; y < a.bitmap->Height(); ++y)
        ASSERT_EQ(std::memcmp(a.bitmap->RowAddress(y), b.bitmap->RowAddress(y),
                              std::size_t(a.bitmap->Width()) * 3),
                  0);
}

}  // namespace
}  // namespace sigillon

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen"
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
