// Rendering a long text stamp at the largest size and stamping it on a big
// photo, and what pumping window events after every row costs a tiled pass.
#include <benchmark/benchmark.h>

#include <QApplication>

#include "app/toolkit/desktop.h"
#include "stamping/compositing.h"
#include "stamping/text/text_stamp.h"

namespace sigillon {
namespace {

std::unique_ptr<TBitmap> Photo() {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(Depth24);
    picture->SetWidth(6000);
    picture->SetHeight(4000);
    for (int y = 0; y < 4000; ++y) {
        std::uint8_t* row = picture->RowAddress(y);
        for (int x = 0; x < 18000; ++x) row[x] = std::uint8_t((x * 7 + y * 3) >> 4);
    }
    return picture;
}

void BM_RenderAndStampLongText(benchmark::State& state) {
    auto picture = Photo();
    TextStampInput input;
    input.font = StampTextFieldFont();
    input.text = QString(64, QLatin1Char('W'));
    input.text.replace(0, 12, QStringLiteral("© Sigillon  "));
    input.sizeFactor = 9;
    for (auto _ : state) {
        auto stamp = RenderTextStamp(input);
        ApplyStamp(*stamp, *picture, 3);
        benchmark::DoNotOptimize(picture->RowAddress(0));
    }
}
BENCHMARK(BM_RenderAndStampLongText)->Unit(benchmark::kMillisecond);

// Arg 0: no pump; arg 1: the desktop program's pump after every row.
void BM_TiledWatermarkPump(benchmark::State& state) {
    auto picture = Photo();
    TextStampInput input;
    input.font = StampTextFieldFont();
    input.text = QStringLiteral("© Sigillon");
    auto stamp = RenderTextStamp(input);
    stamp->SetDepth(Depth24);
    RealDesktop desktop;
    RowStep pump;
    if (state.range(0)) pump = [&desktop] { desktop.ProcessMessages(); };
    for (auto _ : state) {
        ApplyStamp(*stamp, *picture, kTiledWatermark, pump);
        benchmark::DoNotOptimize(picture->RowAddress(0));
    }
}
BENCHMARK(BM_TiledWatermarkPump)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sigillon

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
