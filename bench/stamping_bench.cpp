// Stamping a large photo, against a plain copy of its bytes as the floor.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "pictures/raster/test_picture.h"
#include "stamping/compositing.h"

namespace sigillon {
namespace {

constexpr int kPictureWidth = 6000, kPictureHeight = 4000;
constexpr int kStampWidth = 400, kStampHeight = 160;

std::unique_ptr<TBitmap> Photo() {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(Depth24);
    picture->SetWidth(kPictureWidth);
    picture->SetHeight(kPictureHeight);
    for (int y = 0; y < kPictureHeight; ++y) {
        std::uint8_t* row = picture->RowAddress(y);
        for (int x = 0; x < 3 * kPictureWidth; ++x) row[x] = std::uint8_t((x * 7 + y * 3) >> 4);
    }
    return picture;
}

// Coloured letters-like blobs on white: about half the pixels opaque.
std::unique_ptr<TBitmap> Stamp() {
    auto stamp = std::make_unique<TBitmap>();
    stamp->SetDepth(Depth24);
    stamp->SetWidth(kStampWidth);
    stamp->SetHeight(kStampHeight);
    std::mt19937 random(1);
    for (int y = 0; y < kStampHeight; ++y) {
        std::uint8_t* row = stamp->RowAddress(y);
        for (int x = 0; x < kStampWidth; ++x)
            if (((x / 9) + (y / 7)) % 2)
                for (int k = 0; k < 3; ++k) row[3 * x + k] = std::uint8_t(random());
    }
    return stamp;
}

void BM_CopyPictureBytes(benchmark::State& state) {
    auto picture = Photo();
    std::size_t bytes = std::size_t(picture->Stride()) * kPictureHeight;
    std::vector<std::uint8_t> target(bytes, 1);
    const std::uint8_t* source = picture->RowAddress(kPictureHeight - 1);  // storage start
    for (auto _ : state) {
        std::memcpy(target.data(), source, bytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes));
}
BENCHMARK(BM_CopyPictureBytes)->Unit(benchmark::kMillisecond);

void BM_ApplyStamp(benchmark::State& state) {
    auto picture = Photo();
    auto stamp = Stamp();
    StampMode mode = StampMode(state.range(0));
    for (auto _ : state) {
        ApplyStamp(*stamp, *picture, mode);
        benchmark::ClobberMemory();
    }
    std::int64_t pixels = mode == kTiledWatermark ? std::int64_t(kPictureWidth) * kPictureHeight
                                                   : std::int64_t(kStampWidth) * kStampHeight;
    // items_per_second is stamp pixels (modes 0-7) or picture pixels (mode 8) a second.
    state.SetItemsProcessed(std::int64_t(state.iterations()) * pixels);
}
BENCHMARK(BM_ApplyStamp)->Arg(0)->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_MakeTestPicture(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(MakeTestPicture());
}
BENCHMARK(BM_MakeTestPicture)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sigillon

BENCHMARK_MAIN();
