// sigillon-batch: see batch.h and the usage text.
#include <QGuiApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "app/batch/batch.h"
#include "stamping/text/text_stamp.h"

namespace {

// The text stamp as the desktop program makes it: the text field's font,
// one of its colours, a size factor, white background.
std::unique_ptr<sigillon::TBitmap> RenderText(const sigillon::batch::BatchOptions& options) {
    using namespace sigillon;
    TextStampInput input;
    input.font = StampTextFieldFont();
    input.colour = ToQColor(kTextColours[options.colour].value);
    input.background = Qt::white;
    input.text = QString::fromStdString(options.text);
    input.sizeFactor = options.size;
    return RenderTextStamp(input);
}

// Standard error carries the tool's own messages, one line each; Qt's
// notes about its environment are not for the user.
void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "sigillon-batch: %s\n", text.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sigillon::batch;
    std::vector<std::string> args(argv + 1, argv + argc);
    ParseResult parsed = ParseArguments(args);
    switch (parsed.status) {
        case ParseStatus::Help:
            std::fputs(UsageText().c_str(), stdout);
            return 0;
        case ParseStatus::UsageError:
            std::fprintf(stderr, "sigillon-batch: %s\n%s", parsed.message.c_str(),
                         UsageText().c_str());
            return 2;
        case ParseStatus::Run:
            break;
    }
    // No display here: JPEG pictures decode to true colour, as on a deep one.
    sigillon::SetDisplayBitsPerPixel(32);
    if (!parsed.options.textGiven) return RunBatch(parsed.options);

    // Text is drawn by Qt GUI, on its display-less platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQt);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QGuiApplication application(qtArgc, qtArgv);
    return RunBatch(parsed.options, RenderText);
}
