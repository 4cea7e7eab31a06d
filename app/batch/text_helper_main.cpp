// sigillon-batch-text: the text stamp of sigillon-batch --text, drawn as the
// desktop program draws it and written to standard output as a PNG file,
// one after another for each size asked for.
//
// The batch tool runs it before its first picture, so that the tool itself
// never loads Qt: Qt's libraries alone would take more memory than a
// picture read row by row, and would stay for the whole run.
// Arguments: [STYLE...] -- TEXT COLOUR-INDEX SIZE..., where the style is
// any of --font NAME, --color #RRGGBB, --outline W, --outline-color #RRGGBB,
// --shadow DX,DY, --shadow-color #RRGGBB and --shadow-blur R. Without a
// style the stamp is the desktop program's, on white; with one it has
// alpha. Exits 1 when the text draws nothing, 2 when the arguments or the
// font are refused.
#include <QGuiApplication>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "pictures/png/png_file.h"
#include "stamping/text/styled_text.h"
#include "stamping/text/text_stamp.h"

namespace {

// Standard error carries the tool's own messages, one line each; Qt's
// notes about its environment are not for the user.
void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "sigillon-batch: %s\n", text.toLocal8Bit().constData());
}

bool Number(const std::string& s, int low, int high, int& value) {
    auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
    return error == std::errc() && end == s.data() + s.size() && value >= low && value <= high;
}

// One style argument and its value into the style; false when either is
// not understood.
bool ApplyStyle(const std::string& name, const std::string& value, sigillon::TextStyle& style) {
    using sigillon::ParseTextColour;
    if (name == "--font") style.font = value;
    else if (name == "--color") style.colour = ParseTextColour(value);
    else if (name == "--outline-color") style.outlineColour = ParseTextColour(value);
    else if (name == "--shadow-color") style.shadowColour = ParseTextColour(value);
    else if (name == "--outline") return Number(value, 1, 100, style.outline);
    else if (name == "--shadow-blur") return Number(value, 0, 100, style.shadowBlur);
    else if (name == "--shadow") {
        const std::size_t comma = value.find(',');
        style.shadow = true;
        return comma != std::string::npos &&
               Number(value.substr(0, comma), -1000, 1000, style.shadowDx) &&
               Number(value.substr(comma + 1), -1000, 1000, style.shadowDy);
    } else return false;
    return !value.empty();
}

bool Write(const sigillon::ByteBlock& png) {
    return std::fwrite(png.data(), 1, png.size(), stdout) == png.size();
}

}  // namespace

int main(int argc, char** argv) {
    using namespace sigillon;
    TextStyle style;
    int at = 1;
    bool understood = true;
    if (argc > 1 && std::string(argv[1]).starts_with("--")) {
        for (; understood && at + 1 < argc && std::string(argv[at]) != "--"; at += 2)
            understood = ApplyStyle(argv[at], argv[at + 1], style);
        understood = understood && at < argc && std::string(argv[at]) == "--";
        ++at;
    }
    int colour = 0;
    std::vector<int> sizes(std::size_t(std::max(0, argc - at - 2)));
    understood = understood && argc >= at + 3 && Number(argv[at + 1], 0, 6, colour);
    for (std::size_t i = 0; understood && i < sizes.size(); ++i)
        understood = Number(argv[at + 2 + int(i)], 1, 9, sizes[i]);
    if (!understood) {
        std::fprintf(stderr, "usage: sigillon-batch-text [STYLE...] -- TEXT COLOUR-INDEX SIZE...\n");
        return 2;
    }
    // Text is drawn by Qt GUI, on its display-less platform.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQt);
    int qtArgc = 1;
    QGuiApplication application(qtArgc, argv);
    const QString text = QString::fromUtf8(argv[at]);
    try {
        for (int size : sizes) {
            if (style.Plain()) {
                TextStampInput input;
                input.font = StampTextFieldFont();
                input.colour = ToQColor(kTextColours[colour].value);
                input.background = Qt::white;
                input.text = text;
                input.sizeFactor = size;
                std::unique_ptr<TBitmap> stamp = RenderTextStamp(input);
                if (!stamp || stamp->IsEmpty() || !Write(EncodePng(*stamp, {}, {}))) return 1;
                continue;
            }
            std::string problem;
            const std::optional<QFont> font = StyledTextFont(style.font, size, problem);
            if (!font) {
                std::fprintf(stderr, "sigillon-batch: %s\n", problem.c_str());
                return 2;
            }
            const AlphaStamp stamp = AlphaStampFromImage(
                RenderStyledText(StyledInput(style, kTextColours[colour].value, *font, text)));
            if (stamp.pixels->IsEmpty() || !Write(EncodePng(*stamp.pixels, stamp.alpha, {})))
                return 1;
        }
        return std::fflush(stdout) == 0 ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sigillon-batch: the text stamp: %s\n", error.what());
        return 1;
    }
}
