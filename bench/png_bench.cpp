// Decoding and encoding a 6000 x 4000 photograph as PNG through our code,
// against libspng used directly with the same settings: decoding 8-bit RGB
// into a fresh buffer of packed rows, encoding packed red, green, blue rows
// with zlib's run-length matching after the Up filter. Our decoder converts
// each row into blue, green, red picture rows on large pages, so the bare
// decode is measured both with plain pages and with its buffer given the
// same hint. The bare encoder also runs with libspng's default settings
// and with the filter chosen per row, the times and sizes that decided
// ours.
#include <benchmark/benchmark.h>
#include <spng.h>
#include <sys/mman.h>
#include <zlib.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "pictures/png/png_file.h"

namespace sigillon {
namespace {

constexpr int kWidth = 6000, kHeight = 4000;

// Smooth gradients plus sensor-like noise, as the JPEG benchmark uses.
std::unique_ptr<TBitmap> Photo() {
    std::minstd_rand noise(7);
    return TBitmap::FromRows(kWidth, kHeight, Depth24, [&](std::int32_t y, std::uint8_t* row) {
        for (int x = 0; x < kWidth; ++x) {
            int base[3] = {40 + 150 * x / kWidth, 30 + 180 * y / kHeight,
                           200 - 120 * (x + y) / (kWidth + kHeight)};
            for (int c = 0; c < 3; ++c) {
                int v = base[c] + int(noise() % 17) - 8;
                row[3 * x + c] = std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    });
}

struct Fixture {
    std::unique_ptr<TBitmap> photo = Photo();
    std::vector<std::uint8_t> png;
    std::vector<std::uint8_t> rgb;  // packed red, green, blue rows, for the bare encoder

    Fixture() {
        ByteBlock bytes = EncodePng(*photo, {}, {});
        png.assign(bytes.data(), bytes.data() + bytes.size());
        rgb.resize(std::size_t(kWidth) * kHeight * 3);
        for (int y = 0; y < kHeight; ++y) {
            const std::uint8_t* row = photo->RowAddress(y);
            std::uint8_t* out = rgb.data() + std::size_t(y) * kWidth * 3;
            for (int x = 0; x < kWidth; ++x) {
                out[3 * x] = row[3 * x + 2];
                out[3 * x + 1] = row[3 * x + 1];
                out[3 * x + 2] = row[3 * x];
            }
        }
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

struct FreeBuffer {
    void operator()(void* p) const { std::free(p); }
};

// A new uninitialised buffer, on large pages if asked (as our picture
// storage is).
std::unique_ptr<std::uint8_t, FreeBuffer> NewBuffer(std::size_t bytes, bool largePages) {
    constexpr std::size_t kLargePage = std::size_t(2) << 20;
    if (!largePages) return {static_cast<std::uint8_t*>(std::malloc(bytes)), {}};
    bytes = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void* p = std::aligned_alloc(kLargePage, bytes);
    if (p) ::madvise(p, bytes, MADV_HUGEPAGE);
    return {static_cast<std::uint8_t*>(p), {}};
}

void BM_ReadPngData(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        PngPicture png = ReadPngData(f.png.data(), f.png.size());
        benchmark::DoNotOptimize(png.pixels->RowAddress(0));
    }
    state.counters["png_bytes"] = double(f.png.size());
}

void BM_BareDecode(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        spng_ctx* ctx = spng_ctx_new(0);
        spng_set_png_buffer(ctx, f.png.data(), f.png.size());
        std::size_t size = 0;
        spng_decoded_image_size(ctx, SPNG_FMT_RGB8, &size);
        auto pixels = NewBuffer(size, state.range(0) != 0);
        if (spng_decode_image(ctx, pixels.get(), size, SPNG_FMT_RGB8, SPNG_DECODE_TRNS) != 0)
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels.get());
        spng_ctx_free(ctx);
    }
}

void BM_EncodePng(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        ByteBlock bytes = EncodePng(*f.photo, {}, {});
        benchmark::DoNotOptimize(bytes.data());
    }
}

// Settings: 0 ours, 1 libspng's defaults, 2 ours with the filter chosen
// per row.
void BM_BareEncode(benchmark::State& state) {
    Fixture& f = Shared();
    const int settings = int(state.range(0));
    std::size_t size = 0;
    for (auto _ : state) {
        spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
        spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
        if (settings != 1) {
            spng_set_option(ctx, SPNG_IMG_COMPRESSION_LEVEL, 1);
            spng_set_option(ctx, SPNG_IMG_COMPRESSION_STRATEGY, Z_RLE);
            spng_set_option(ctx, SPNG_FILTER_CHOICE,
                            settings == 0 ? SPNG_FILTER_CHOICE_UP : SPNG_FILTER_CHOICE_ALL);
        }
        spng_ihdr ihdr{};
        ihdr.width = kWidth;
        ihdr.height = kHeight;
        ihdr.bit_depth = 8;
        ihdr.color_type = SPNG_COLOR_TYPE_TRUECOLOR;
        spng_set_ihdr(ctx, &ihdr);
        if (spng_encode_image(ctx, f.rgb.data(), f.rgb.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE))
            state.SkipWithError("encode failed");
        int error = 0;
        void* png = spng_get_png_buffer(ctx, &size, &error);
        benchmark::DoNotOptimize(png);
        std::free(png);
        spng_ctx_free(ctx);
    }
    state.counters["png_bytes"] = double(size);
}

BENCHMARK(BM_ReadPngData)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_BareDecode)
    ->ArgName("large_pages")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3)
    ->UseRealTime();
BENCHMARK(BM_EncodePng)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_BareEncode)
    ->ArgName("settings")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3)
    ->UseRealTime();

}  // namespace
}  // namespace sigillon

BENCHMARK_MAIN();
