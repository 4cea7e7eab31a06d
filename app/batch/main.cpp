// sigillon-batch: see batch.h and the usage text.
#include <cstdio>
#include <string>
#include <vector>

#include "app/batch/run.h"
#include "app/batch/qt_loader.h"

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
    if (!parsed.options.textGiven && parsed.options.scale == 0) return RunBatch(parsed.options);

    // Text stamps and scaling take Qt GUI, loaded only now.
    QtModule qt;
    if (!qt.Loaded()) {
        std::fprintf(stderr, "sigillon-batch: %s needs Qt GUI: %s\n",
                     parsed.options.textGiven ? "--text" : "--scale", qt.Problem().c_str());
        return 2;
    }
    return RunBatch(parsed.options, qt.Renderer(), qt.Scaler());
}
