// sigillon-batch-text: the text stamp of sigillon-batch --text, drawn as the
// desktop program draws it and written to standard output as a PNG file,
// one after another for each size asked for.
//
// The batch tool runs it before its first picture, so that the tool itself
// never loads Qt: Qt's libraries alone would take more memory than a
// picture read row by row, and would stay for the whole run.
// Arguments: TEXT COLOUR-INDEX SIZE... Exits 1 when the text draws nothing.
#include <QGuiApplication>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "pictures/png/png_file.h"
#include "stamping/text/text_stamp.h"

namespace {

// Standard error carries the tool's own messages, one line each; Qt's
// notes about its environment are not for the user.
void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "sigillon-batch: %s\n", text.toLocal8Bit().constData());
}

bool Number(const char* text, int low, int high, int& value) {
    const std::string s = text;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    return error == std::errc() && end == s.data() + s.size() && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sigillon;
    int colour = 0;
    std::vector<int> sizes(std::size_t(std::max(0, argc - 3)));
    bool understood = argc >= 4 && Number(argv[2], 0, 6, colour);
    for (std::size_t i = 0; understood && i < sizes.size(); ++i)
        understood = Number(argv[3 + i], 1, 9, sizes[i]);
    if (!understood) {
        std::fprintf(stderr, "usage: sigillon-batch-text TEXT COLOUR-INDEX SIZE...\n");
        return 2;
    }
    // Text is drawn by Qt GUI, on its display-less platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQt);
    int qtArgc = 1;
    QGuiApplication application(qtArgc, argv);
    try {
        TextStampInput input;
        input.font = StampTextFieldFont();
        input.colour = ToQColor(kTextColours[colour].value);
        input.background = Qt::white;
        input.text = QString::fromUtf8(argv[1]);
        for (int size : sizes) {
            input.sizeFactor = size;
            std::unique_ptr<TBitmap> stamp = RenderTextStamp(input);
            if (!stamp || stamp->IsEmpty()) return 1;
            const ByteBlock png = EncodePng(*stamp, {}, {});
            if (std::fwrite(png.data(), 1, png.size(), stdout) != png.size()) return 1;
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sigillon-batch: the text stamp: %s\n", error.what());
        return 1;
    }
}
