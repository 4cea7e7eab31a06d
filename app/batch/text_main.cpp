// sigillon-batch-text: the text stamp of sigillon-batch --text, drawn as the
// desktop program draws it and written to standard output as a BMP file.
//
// The batch tool runs it once per run, so that the tool itself needs no
// window toolkit: loading the toolkit's libraries alone would take more
// memory than a picture read row by row. Arguments: TEXT COLOUR-INDEX SIZE.
#include <QApplication>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "app/batch/batch.h"
#include "pictures/bmp.h"
#include "stamping/text/ustamp.h"

namespace {

// The text stamp as the desktop program makes it: the text field's font,
// one of its colours, a size factor, white background.
std::unique_ptr<sigillon::TBitmap> RenderText(const std::string& text, int colour, int size) {
    using namespace sigillon;
    Tfstamp window;
    TextStampInput input;
    input.font = StampTextFieldFont();
    input.colour = ToQColor(kTextColours[colour].value);
    input.background = Qt::white;
    input.text = QString::fromStdString(text);
    input.sizeFactor = size;
    return window.RenderTextStamp(input);
}

// Standard error carries only what went wrong; the toolkit's notes about
// its environment are not for the user.
void QuietToolkit(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "sigillon-batch-text: %s\n", text.toLocal8Bit().constData());
}

bool Number(const char* text, int low, int high, int& value) {
    const std::string s = text;
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    return error == std::errc() && end == s.data() + s.size() && value >= low && value <= high;
}

}  // namespace

int main(int argc, char** argv) {
    int colour = 0, size = 0;
    if (argc != 4 || !Number(argv[2], 0, 6, colour) || !Number(argv[3], 1, 9, size)) {
        std::fprintf(stderr, "usage: sigillon-batch-text TEXT COLOUR-INDEX SIZE\n");
        return 2;
    }
    // Text is drawn by the window toolkit, on its display-less platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietToolkit);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    try {
        std::unique_ptr<sigillon::TBitmap> stamp = RenderText(argv[1], colour, size);
        if (!stamp || stamp->IsEmpty()) return 1;
        std::vector<std::uint8_t> bytes = sigillon::EncodeBmp(*stamp);
        return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
                       std::fflush(stdout) == 0
                   ? 0
                   : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sigillon-batch-text: %s\n", error.what());
        return 1;
    }
}
