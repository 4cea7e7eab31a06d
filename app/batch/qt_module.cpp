// The Qt GUI module of sigillon-batch: see qt_module.h.
#include "app/batch/qt_module.h"

#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "app/batch/stamp_scaling.h"
#include "stamping/text/text_colours.h"
#include "stamping/text/text_stamp.h"

namespace {

using namespace sigillon;

// Standard error carries the tool's own messages, one line each; Qt's
// notes about its environment are not for the user.
void QuietQt(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "sigillon-batch: %s\n", text.toLocal8Bit().constData());
}

// Text is drawn by Qt GUI, on its display-less platform; the application
// lives until Finish.
QGuiApplication* application = nullptr;

void StartQt() {
    if (application) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(QuietQt);
    static int argc = 1;
    static char name[] = "sigillon-batch";
    static char* argv[] = {name, nullptr};
    application = new QGuiApplication(argc, argv);
}

void Finish() {
    delete application;
    application = nullptr;
}

bool Fill(const TBitmap& pixels, const std::uint8_t* alpha, SigillonRaster* out) {
    const std::size_t w = std::size_t(pixels.Width()), h = std::size_t(pixels.Height());
    out->width = pixels.Width();
    out->height = pixels.Height();
    out->bgr = static_cast<std::uint8_t*>(std::malloc(w * h * 3 + 1));
    out->alpha = alpha ? static_cast<std::uint8_t*>(std::malloc(w * h + 1)) : nullptr;
    if (!out->bgr || (alpha && !out->alpha)) {
        std::free(out->bgr);
        std::free(out->alpha);
        return false;
    }
    for (std::size_t y = 0; y < h; ++y)
        std::memcpy(out->bgr + y * w * 3, pixels.RowAddress(std::int32_t(y)), w * 3);
    if (alpha) std::memcpy(out->alpha, alpha, w * h);
    return true;
}

int RenderText(const char* utf8, int colour, int size, SigillonRaster* out) {
    try {
        if (colour < 0 || colour >= 7) return 1;
        StartQt();
        TextStampInput input;
        input.font = StampTextFieldFont();
        input.colour = ToQColor(kTextColours[colour].value);
        input.background = Qt::white;
        input.text = QString::fromUtf8(utf8);
        input.sizeFactor = size;
        std::unique_ptr<TBitmap> stamp = RenderTextStamp(input);
        if (!stamp || stamp->IsEmpty()) return 1;
        stamp->SetDepth(Depth24);
        return Fill(*stamp, nullptr, out) ? 0 : 1;
    } catch (const std::exception&) {
        return 1;
    }
}

int Scale(const SigillonRaster* in, std::int32_t width, SigillonRaster* out) {
    try {
        const std::size_t w = std::size_t(in->width);
        StampImage stamp;
        stamp.pixels = TBitmap::FromRows(in->width, in->height, Depth24, [&](std::int32_t y, std::uint8_t* row) {
            std::memcpy(row, in->bgr + std::size_t(y) * w * 3, w * 3);
        });
        if (in->alpha) stamp.alpha.assign(in->alpha, in->alpha + w * std::size_t(in->height));
        StampImage scaled = batch::ScaleStamp(stamp, width);
        return Fill(*scaled.pixels, scaled.alpha.data(), out) ? 0 : 1;
    } catch (const std::exception&) {
        return 1;
    }
}

void Release(SigillonRaster* raster) {
    std::free(raster->bgr);
    std::free(raster->alpha);
    raster->bgr = raster->alpha = nullptr;
}

const SigillonQtModule kModule{kSigillonQtModuleVersion, RenderText, Scale, Release, Finish};

}  // namespace

extern "C" __attribute__((visibility("default"))) const SigillonQtModule* sigillon_batch_qt_module() {
    return &kModule;
}
