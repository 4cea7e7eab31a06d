// Writes text_rasters.txt: the size and colour hash of every case's raster.
// The committed file was recorded from the label of a hidden window painted
// by the widget toolkit, before the renderer drew without widgets; run this
// only when the installed fonts change, and check the new rasters by eye
// before committing them.
#include <QGuiApplication>
#include <cstdio>

#include "stamping/text/text_stamp.h"
#include "tests/stamping/text/text_raster_cases.h"

int main(int argc, char** argv) {
    using namespace sigillon;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    std::printf(
        "# Text stamp rasters: case, width, height, SHA-256 of the colours (see\n"
        "# text_raster_cases.h). Recorded on the offscreen platform at %d dots per\n"
        "# inch with the fonts of fonts-dejavu-core and fonts-wqy-microhei; other\n"
        "# fonts or another resolution draw other pixels.\n",
        ScreenDotsPerInch());
    for (const testing::TextRasterCase& c : testing::kTextRasterCases) {
        TextStampInput input;
        input.font = StampTextFieldFont();
        input.colour = ToQColor(kTextColours[c.colour].value);
        input.text = QString::fromUtf8(c.text);
        input.sizeFactor = c.sizeFactor;
        std::unique_ptr<TBitmap> raster = RenderTextStamp(input);
        std::printf("%s %d %d %s\n", c.name, raster->Width(), raster->Height(),
                    testing::ColourHash(*raster).constData());
    }
    return 0;
}
