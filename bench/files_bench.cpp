// Loading and saving a 6000 x 4000 photograph through our file routines,
// against libjpeg used directly on the same bytes with the same settings
// (accurate integer transform, fancy up-sampling, block smoothing; quality
// 85 with baseline tables, 2 x 2 luminance sampling). The bare decoders
// write into fresh uninitialised buffers, as ours does; since our picture
// storage asks the system for large pages, which saves most of the page
// faults of a new 72 MB picture, the bare decode is measured both with
// plain pages and with its buffer given the same hint, the second being
// the like-for-like measure of what our binding costs.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "pictures/raster/bitmap.h"
#include "pictures/jpeg/jpeg_image.h"
#include "pictures/picture_files.h"
#include "pictures/files/safe_save.h"

namespace sigillon {
namespace {

constexpr int kWidth = 6000, kHeight = 4000;

// Smooth gradients plus sensor-like noise.
std::unique_ptr<TBitmap> Photo() {
    auto picture = std::make_unique<TBitmap>();
    picture->SetDepth(Depth24);
    picture->SetWidth(kWidth);
    picture->SetHeight(kHeight);
    std::minstd_rand noise(7);
    for (int y = 0; y < kHeight; ++y) {
        std::uint8_t* row = picture->RowAddress(y);
        for (int x = 0; x < kWidth; ++x) {
            int base[3] = {40 + 150 * x / kWidth, 30 + 180 * y / kHeight,
                           200 - 120 * (x + y) / (kWidth + kHeight)};
            for (int c = 0; c < 3; ++c) {
                int v = base[c] + int(noise() % 17) - 8;
                row[3 * x + c] = std::uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    return picture;
}

struct Fixture {
    std::unique_ptr<TBitmap> photo = Photo();
    std::vector<std::uint8_t> jpeg;
    std::string folder;
    std::string input;

    Fixture() {
        TJPEGImage encoder;
        encoder.Assign(*photo);
        encoder.SetCompressionQuality(85);
        encoder.Compress();
        jpeg.assign(encoder.Data().begin(), encoder.Data().end());
        char name[] = "/tmp/sigillon-bench-XXXXXX";
        folder = ::mkdtemp(name);
        input = folder + "/photo.jpg";
        SaveFileSafely(input, jpeg.data(), jpeg.size(), "");
    }
    ~Fixture() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

// ---- libjpeg directly ----

struct BareErrors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
void BareExit(j_common_ptr c) { std::longjmp(reinterpret_cast<BareErrors*>(c->err)->jump, 1); }

struct FreeBuffer {
    void operator()(std::uint8_t* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<std::uint8_t, FreeBuffer>;

// A new uninitialised buffer, on large pages if asked (as our picture
// storage is).
std::uint8_t* NewBuffer(std::size_t bytes, bool largePages) {
    constexpr std::size_t kLargePage = std::size_t(2) << 20;
    if (!largePages) return static_cast<std::uint8_t*>(std::malloc(bytes));
    bytes = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void* p = std::aligned_alloc(kLargePage, bytes);
    if (p) ::madvise(p, bytes, MADV_HUGEPAGE);
    return static_cast<std::uint8_t*>(p);
}

// Decodes into a new buffer of packed blue, green, red rows.
Buffer BareDecode(const std::uint8_t* data, std::size_t size, bool largePages) {
    jpeg_decompress_struct d;
    BareErrors errors;
    d.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = BareExit;
    std::uint8_t* pixels = nullptr;
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&d);
        std::free(pixels);
        return nullptr;
    }
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR;
    d.dct_method = JDCT_ISLOW;
    d.do_fancy_upsampling = TRUE;
    d.do_block_smoothing = TRUE;
    jpeg_start_decompress(&d);
    const std::size_t rowBytes = std::size_t(d.output_width) * 3;
    pixels = NewBuffer(rowBytes * d.output_height, largePages);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = pixels + d.output_scanline * rowBytes;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return Buffer(pixels);
}

// Encodes packed blue, green, red rows into libjpeg's memory destination,
// and writes the bytes to path if there is one.
std::size_t BareEncode(const std::uint8_t* pixels, std::ptrdiff_t step, int width, int height,
                       const char* path = nullptr, bool sync = false) {
    jpeg_compress_struct c;
    BareErrors errors;
    c.err = jpeg_std_error(&errors.pub);
    errors.pub.error_exit = BareExit;
    unsigned char* out = nullptr;
    unsigned long size = 0;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&c);
        std::free(out);
        return 0;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 3;
    c.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 85, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + std::ptrdiff_t(c.next_scanline) * step);
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    if (path) {
        std::FILE* file = std::fopen(path, "wb");
        std::fwrite(out, 1, size, file);
        std::fflush(file);
        if (sync) ::fsync(::fileno(file));
        std::fclose(file);
    }
    std::free(out);
    return size;
}

// ---- Decoding ----

void BM_LoadPictureFile(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        TBitmap picture;
        LoadPictureFileQuiet(picture, f.input);
        if (picture.Width() != kWidth) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(picture.RowAddress(0));
    }
}

void BM_BareReadFileAndDecode(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        std::vector<std::uint8_t> bytes(f.jpeg.size());
        std::FILE* file = std::fopen(f.input.c_str(), "rb");
        std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
        auto pixels = BareDecode(bytes.data(), got, state.range(0) != 0);
        if (!pixels) state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(pixels.get());
    }
}

void BM_DecodeFromMemory(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        TJPEGImage jpeg;
        jpeg.LoadFromBytes(f.jpeg.data(), f.jpeg.size());  // a copy, as a file read makes
        benchmark::DoNotOptimize(jpeg.Bitmap().RowAddress(0));
    }
}

void BM_BareDecodeFromMemory(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        std::vector<std::uint8_t> bytes = f.jpeg;
        auto pixels = BareDecode(bytes.data(), bytes.size(), state.range(0) != 0);
        benchmark::DoNotOptimize(pixels.get());
    }
}

// ---- Encoding ----

void BM_EncodeToMemory(benchmark::State& state) {
    Fixture& f = Shared();
    for (auto _ : state) {
        TJPEGImage jpeg;
        jpeg.Assign(*f.photo);
        jpeg.SetCompressionQuality(85);
        jpeg.Compress();
        benchmark::DoNotOptimize(jpeg.Data().data());
    }
}

void BM_BareEncodeToMemory(benchmark::State& state) {
    Fixture& f = Shared();
    const TBitmap& photo = *f.photo;
    const std::uint8_t* row0 = photo.RowAddress(0);
    const std::ptrdiff_t step = photo.RowAddress(1) - row0;
    for (auto _ : state) benchmark::DoNotOptimize(BareEncode(row0, step, kWidth, kHeight));
}

void BM_BareEncodeAndWriteFile(benchmark::State& state) {
    Fixture& f = Shared();
    const std::string path = f.folder + "/bare.jpg";
    const TBitmap& photo = *f.photo;
    const std::uint8_t* row0 = photo.RowAddress(0);
    const std::ptrdiff_t step = photo.RowAddress(1) - row0;
    for (auto _ : state)
        benchmark::DoNotOptimize(BareEncode(row0, step, kWidth, kHeight, path.c_str()));
}

// The same with the bytes flushed to the disk, as a save that must not lose
// the photograph does.
void BM_BareEncodeWriteAndSyncFile(benchmark::State& state) {
    Fixture& f = Shared();
    const std::string path = f.folder + "/bare.jpg";
    const TBitmap& photo = *f.photo;
    const std::uint8_t* row0 = photo.RowAddress(0);
    const std::ptrdiff_t step = photo.RowAddress(1) - row0;
    for (auto _ : state)
        benchmark::DoNotOptimize(BareEncode(row0, step, kWidth, kHeight, path.c_str(), true));
}

// Includes flushing the file and its folder to the disk.
void BM_SavePictureFile(benchmark::State& state) {
    Fixture& f = Shared();
    const std::string path = f.folder + "/saved.jpg";
    for (auto _ : state) SavePictureFileQuiet(*f.photo, path);
    state.counters["jpeg_bytes"] = double(f.jpeg.size());
}

BENCHMARK(BM_LoadPictureFile)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_BareReadFileAndDecode)
    ->ArgName("large_pages")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3)
    ->UseRealTime();
BENCHMARK(BM_DecodeFromMemory)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_BareDecodeFromMemory)
    ->ArgName("large_pages")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(3)
    ->UseRealTime();
BENCHMARK(BM_EncodeToMemory)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_BareEncodeToMemory)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_BareEncodeAndWriteFile)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_BareEncodeWriteAndSyncFile)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();
BENCHMARK(BM_SavePictureFile)->Unit(benchmark::kMillisecond)->MinTime(3)->UseRealTime();

}  // namespace
}  // namespace sigillon

BENCHMARK_MAIN();
