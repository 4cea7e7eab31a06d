// sigillon-batch: see batch.h and the usage text.
#include <cstdio>
#include <string>
#include <vector>

#include "app/batch/run.h"
#include "app/batch/text_helper.h"

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
    const BatchOptions& options = parsed.options;
    const bool text = options.textGiven || (options.portrait && options.portrait->textGiven) ||
                      (options.landscape && options.landscape->textGiven);
    if (!text) return RunBatch(options);

    // Text stamps are drawn with Qt GUI, by a helper program.
    std::string problem;
    const std::string helper = FindTextHelper(problem);
    if (helper.empty()) {
        std::fprintf(stderr, "sigillon-batch: --text needs its text helper: %s\n", problem.c_str());
        return 2;
    }
    // The text is drawn first, so that a font the helper cannot find
    // stops the run before anything is touched; the run reuses the stamp.
    TextRenderer renderer = HelperTextRenderer(helper);
    if (Expected<sigillon::StampImage> first = renderer(options);
        !first && first.error().message.empty()) {
        std::fputs(UsageText().c_str(), stderr);
        return 2;
    }
    return RunBatch(options, renderer);
}
