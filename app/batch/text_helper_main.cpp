// sigillon-batch-text: the text stamps of sigillon-batch --text, drawn as the
// desktop program draws them and written to standard output as PNG files,
// one after another for each size asked for.
//
// The batch tool starts it for its first text, so that the tool itself
// never loads Qt: Qt's libraries alone would take more memory than a
// picture read row by row. It then asks it for every text of the run
// (texts with variables differ from picture to picture), which spares
// starting Qt and reading the font configuration each time.
// A request on standard input is its argument count on a line, then the
// arguments, each ended by a NUL byte: [STYLE...] -- TEXT COLOUR-INDEX
// SIZE..., where the style is
// any of --font NAME, --color #RRGGBB, --outline W, --outline-color #RRGGBB,
// --shadow DX,DY, --shadow-color #RRGGBB and --shadow-blur R. Without a
// style the stamp is the desktop program's, on white; with one it has
// alpha. The answer is a line "STATUS LENGTH", then LENGTH bytes of PNG
// files: status 0, or 1 when the text draws nothing, 2 when the arguments
// or the font are refused (with no bytes). It exits at the end of its
// input.
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

// One drawing: the arguments [STYLE...] -- TEXT COLOUR-INDEX SIZE..., and the
// PNG files in out; the status a run of its own would exit with.
int Draw(const std::vector<std::string>& args, std::string& out) {
    using namespace sigillon;
    TextStyle style;
    std::size_t at = 0;
    bool understood = true;
    if (!args.empty() && args[0].starts_with("--")) {
        for (; understood && at + 1 < args.size() && args[at] != "--"; at += 2)
            understood = ApplyStyle(args[at], args[at + 1], style);
        understood = understood && at < args.size() && args[at] == "--";
        ++at;
    }
    int colour = 0;
    std::vector<int> sizes(args.size() >= at + 2 ? args.size() - at - 2 : 0);
    understood = understood && args.size() >= at + 3 && Number(args[at + 1], 0, 6, colour);
    for (std::size_t i = 0; understood && i < sizes.size(); ++i)
        understood = Number(args[at + 2 + i], 1, 9, sizes[i]);
    if (!understood) {
        std::fprintf(stderr, "usage: sigillon-batch-text, a request: [STYLE...] -- TEXT "
                             "COLOUR-INDEX SIZE...\n");
        return 2;
    }
    const QString text = QString::fromStdString(args[at]);
    auto add = [&](const ByteBlock& png) {
        out.append(reinterpret_cast<const char*>(png.data()), png.size());
    };
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
                if (!stamp || stamp->IsEmpty()) return 1;
                add(EncodePng(*stamp, {}, {}));
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
            if (stamp.pixels->IsEmpty()) return 1;
            add(EncodePng(*stamp.pixels, stamp.alpha, {}));
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "sigillon-batch: the text stamp: %s\n", error.what());
        return 1;
    }
}

// The next request: its argument count on a line, then each argument ended
// by a NUL byte. False at the end of the input or on one malformed.
bool ReadRequest(std::vector<std::string>& args) {
    int count = 0;
    if (std::scanf("%d", &count) != 1 || count < 0 || count > 10000 || std::getchar() != '\n')
        return false;
    args.assign(std::size_t(count), {});
    for (std::string& arg : args)
        for (int c; (c = std::getchar()) != 0;) {
            if (c == EOF) return false;
            arg.push_back(char(c));
        }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 1) {
        std::fprintf(stderr, "usage: sigillon-batch-text < REQUESTS\n");
        return 2;
    }
    // Text is drawn by Qt GUI, on its display-less platform, started once
    // for all the requests of a run.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQt);
    int qtArgc = 1;
    QGuiApplication application(qtArgc, argv);
    std::vector<std::string> args;
    while (ReadRequest(args)) {
        std::string out;
        const int status = Draw(args, out);
        if (status != 0) out.clear();
        if (std::printf("%d %zu\n", status, out.size()) < 0 ||
            std::fwrite(out.data(), 1, out.size(), stdout) != out.size() ||
            std::fflush(stdout) != 0)
            return 1;
    }
    return 0;
}
