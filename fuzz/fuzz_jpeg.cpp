// Loading JPEG bytes: a clean refusal, or a decoded picture, in the 24-bit
// or the 8-bit form chosen by the input's length; and the row reader gives
// the 24-bit form's rows or its refusal, and when it refuses damaged data,
// the same rows until it does. The transcoder keeps the blocks of the same
// bytes around a small stamp at a fixed place: a clean refusal, or a file
// of the same size that the row reader reads.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "fuzz/row_check.h"
#include "pictures/jpeg/jpeg_image.h"
#include "pictures/jpeg/jpeg_transcode.h"
#include "stamping/placed_stamp.h"

namespace {

using namespace sigillon;

// A 12 x 8 stamp set in 3 pixels from the top-left corner.
constexpr std::int32_t kStampWidth = 12, kStampHeight = 8, kStampMargin = 3;

std::shared_ptr<TBitmap> MakeStamp() {
    auto stamp = std::make_shared<TBitmap>();
    stamp->SetDepth(Depth24);
    stamp->SetWidth(kStampWidth);
    stamp->SetHeight(kStampHeight);
    for (std::int32_t y = 0; y < kStampHeight; ++y)
        for (std::int32_t x = 0; x < kStampWidth; ++x) {
            std::uint8_t* p = stamp->RowAddress(y) + 3 * x;
            p[0] = std::uint8_t(x * 20), p[1] = std::uint8_t(y * 30), p[2] = (x + y) % 3 ? 255 : 0;
        }
    return stamp;
}

void Transcode(const std::uint8_t* data, std::size_t size) {
    static const std::shared_ptr<TBitmap> stamp = MakeStamp();
    static const std::string output = "/tmp/fuzz-jpeg-transcode-" + std::to_string(::getpid()) + ".jpg";
    try {
        JpegTranscoder jpeg(fuzzing::MemoryFile(data, size), "fuzz.jpg", true);
        if (jpeg.CoefficientBytes() > std::uint64_t(fuzzing::kStorageLimit)) return;
        const std::int32_t width = jpeg.Width(), height = jpeg.Height();
        jpeg.ReadCoefficients();
        if (width >= kStampWidth + kStampMargin && height >= kStampHeight + kStampMargin) {
            const PlacedStamp placed({stamp, {}}, width, height, 0, kStampMargin);
            jpeg.ChangeRegion({kStampMargin, kStampMargin, kStampMargin + kStampWidth,
                               kStampMargin + kStampHeight},
                              [&](std::int32_t y, std::uint8_t* row) { placed.StampRow(y, row); });
        }
        jpeg.Write(output, jpeg.Metadata());
        JpegDecodeSettings settings;
        settings.pixelFormat = JpegPixelFormat::Bits24;
        RowReaderOpening opening = OpenJpegRowReader(output, settings, fuzzing::kRowLimits);
        std::remove(output.c_str());
        if (opening.reader && (opening.reader->Width() != width || opening.reader->Height() != height))
            __builtin_trap();
    } catch (const BitmapError&) {
        std::remove(output.c_str());
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Large pictures are valid, only slow. A low storage limit keeps every
    // header in play, so the size checks themselves are fuzzed too.
    sigillon::SetStorageLimit(sigillon::fuzzing::kStorageLimit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace sigillon;
    const bool eightBits = size % 2;
    TJPEGImage jpeg;
    jpeg.SetPixelFormat(eightBits ? JpegPixelFormat::Bits8 : JpegPixelFormat::Bits24);
    const TBitmap* picture = nullptr;
    std::string refusal;
    try {
        jpeg.LoadFromBytes(data, size);
        picture = &jpeg.Bitmap();
        if (picture->IsEmpty() || picture->Width() != jpeg.Width()) __builtin_trap();
    } catch (const BitmapError& error) {
        refusal = error.what();
    }
    JpegDecodeSettings settings;
    settings.pixelFormat = JpegPixelFormat::Bits24;
    for (JpegDamage damage : {JpegDamage::Fill, JpegDamage::Refuse}) {
        auto open = [&] {
            return OpenJpegRowReader(fuzzing::MemoryFile(data, size), "fuzz.jpg", settings,
                                     fuzzing::kRowLimits, false, damage);
        };
        // The 8-bit form is quantised in two passes, which only the
        // whole-picture reader does; its rows are not compared.
        fuzzing::ExpectSameRows(open, picture, refusal, !eightBits, damage == JpegDamage::Refuse);
    }
    Transcode(data, size);
    return 0;
}
