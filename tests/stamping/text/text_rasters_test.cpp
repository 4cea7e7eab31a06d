// The renderer draws, pixel for pixel, the rasters recorded in
// text_rasters.txt (see record_text_rasters.cpp for how they were made).
//
// The recorded pixels depend on the machine: the offscreen platform's 96
// dots per inch and the fonts of the Debian packages fonts-dejavu-core and
// fonts-wqy-microhei. With other fonts installed, or none, the glyphs and so
// the hashes differ; the first test says which precondition is missing.
#include <gtest/gtest.h>

#include <QFile>
#include <QFontInfo>
#include <map>

#include "stamping/text/text_stamp.h"
#include "tests/stamping/text/text_raster_cases.h"

namespace sigillon {
namespace {

struct Recorded {
    int width = 0, height = 0;
    QByteArray hash;
};

std::map<QByteArray, Recorded> ReadRecorded() {
    std::map<QByteArray, Recorded> recorded;
    QFile file(QStringLiteral(SIGILLON_TEXT_RASTERS));
    if (!file.open(QIODevice::ReadOnly)) return recorded;
    while (!file.atEnd()) {
        QByteArray line = file.readLine().trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4) continue;
        recorded[fields[0]] = {fields[1].toInt(), fields[2].toInt(), fields[3]};
    }
    return recorded;
}

TEST(RecordedTextRasters, MachineDrawsWithTheRecordedFontsAndResolution) {
    EXPECT_EQ(ScreenDotsPerInch(), 96);
    EXPECT_EQ(QFontInfo(StampTextFieldFont()).family(), QStringLiteral("DejaVu Sans"))
        << "fonts-dejavu-core is missing";
    QFont chinese = StampTextFieldFont();
    chinese.setFamilies({QStringLiteral("WenQuanYi Micro Hei")});
    EXPECT_EQ(QFontInfo(chinese).family(), QStringLiteral("WenQuanYi Micro Hei"))
        << "fonts-wqy-microhei is missing";
}

TEST(RecordedTextRasters, RendererDrawsEveryRecordedRaster) {
    std::map<QByteArray, Recorded> recorded = ReadRecorded();
    ASSERT_EQ(recorded.size(), std::size(testing::kTextRasterCases))
        << "every case is recorded once: " << SIGILLON_TEXT_RASTERS;
    for (const testing::TextRasterCase& c : testing::kTextRasterCases) {
        SCOPED_TRACE(c.name);
        auto found = recorded.find(c.name);
        ASSERT_NE(found, recorded.end());
        TextStampInput input;
        input.font = StampTextFieldFont();
        input.colour = ToQColor(kTextColours[c.colour].value);
        input.text = QString::fromUtf8(c.text);
        input.sizeFactor = c.sizeFactor;
        std::unique_ptr<TBitmap> raster = RenderTextStamp(input);
        ASSERT_EQ(raster->GetDepth(), DepthDevice);
        EXPECT_EQ(raster->Width(), found->second.width);
        EXPECT_EQ(raster->Height(), found->second.height);
        EXPECT_EQ(testing::ColourHash(*raster), found->second.hash);
    }
}

}  // namespace
}  // namespace sigillon
