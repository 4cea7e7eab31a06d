// A 6000 x 4000 picture opened in the program with the overview shown:
// repainting a 1920 x 1080 part of the view, repainting the overview, and
// the program's peak memory with the picture (reported in the context).
//
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QScrollBar>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include "app/Uabout.h"
#include "app/toolkit/desktop.h"
#include "app/toolkit/picture_dialog.h"
#include "app/toolkit/raster_paint.h"
#include "app/uoverview.h"
#include "app/usigillon.h"
#include "pictures/raster/bitmap.h"
#include "pictures/picture_files.h"

namespace sigillon {
namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;

// Answers the open dialog with one file.
class OneFileDesktop : public TDesktopServices {
public:
    explicit OneFileDesktop(QString path) : path_(std::move(path)) {}
    std::optional<TDialogAnswer> RunPictureDialog(const TPictureDialog&, QWidget*) override {
        return TDialogAnswer{path_, 1};
    }
    void ShowMessage(const QString& text) override {
        std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
    }
    void ShowErrorBox(const QString& text) override {
        std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
    }
    // The program's own dispatching, so a stamp pass costs what it does there.
    void ProcessMessages() override { real_.ProcessMessages(); }
    void ShellOpen(const QString&) override {}

private:
    QString path_;
    RealDesktop real_;
};

// Kilobytes of VmHWM (peak resident) or VmRSS from /proc/self/status.
long StatusKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
    return -1;
}

// Writes the picture file in a child process, so that making it leaves no
// trace in this process's peak memory.
bool WritePictureFile(const std::string& path) {
    pid_t child = fork();
    if (child == 0) {
        TBitmap picture;
        picture.SetDepth(Depth24);
        picture.SetWidth(kWidth);
        picture.SetHeight(kHeight);
        for (int y = 0; y < kHeight; ++y) {
            std::uint8_t* row = picture.RowAddress(y);
            for (int x = 0; x < kWidth; ++x) {
                row[3 * x] = std::uint8_t(x / 24);
                row[3 * x + 1] = std::uint8_t(y / 16);
                row[3 * x + 2] = std::uint8_t((x + y) / 40);
            }
        }
        _exit(SavePictureFileQuiet(picture, path) == FileOutcome::Done ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Program {
    std::unique_ptr<TFsigillon> main;
    std::unique_ptr<Tfabout> about;
    std::unique_ptr<Tfoverview> overview;
};

Program* program = nullptr;

void Pump() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

void BM_RepaintView1920x1080(benchmark::State& state) {
    TFsigillon& w = *program->main;
    // Large enough that the view shows 1920 x 1080 besides the scroll bars.
    QSize bars(w.ScrollBox1->verticalScrollBar()->sizeHint().width(),
               w.ScrollBox1->horizontalScrollBar()->sizeHint().height());
    w.SetClientSize(1920 + bars.width(), 1080 + w.Panel1->height() + bars.height());
    w.ScrollBox1->SetHorzPosition(2000);
    w.ScrollBox1->SetVertPosition(1500);
    Pump();
    QRect part(w.ScrollBox1->HorzPosition(), w.ScrollBox1->VertPosition(), 1920, 1080);
    QRect shown = w.dm->visibleRegion().boundingRect() & part;
    if (shown.size() != part.size()) {
        state.SkipWithError("the view does not show a 1920 x 1080 part");
        return;
    }
    for (auto _ : state) w.dm->repaint(part);
    state.counters["pixels"] = double(part.width()) * part.height();
}
BENCHMARK(BM_RepaintView1920x1080)->Unit(benchmark::kMillisecond);

void BM_RepaintOverview(benchmark::State& state) {
    Tfoverview& o = *program->overview;
    o.SetClientWidth(int(state.range(0)));
    o.im2Click();
    Pump();
    for (auto _ : state) o.im2->repaint();
    state.counters["width"] = o.ClientWidth();
    state.counters["height"] = o.ClientHeight();
}
BENCHMARK(BM_RepaintOverview)->Arg(130)->Arg(1280)->Unit(benchmark::kMillisecond);

// The painter alone, into an image: what the view costs without Qt's
// window machinery.
void BM_PaintPictureOnly(benchmark::State& state) {
    const TBitmap& picture = program->main->dm->Picture();
    QImage target(1920, 1080, QImage::Format_RGB32);
    for (auto _ : state) {
        QPainter painter(&target);
        painter.translate(-2000, -1500);
        PaintPicture(painter, picture, QRect(2000, 1500, 1920, 1080));
    }
}
BENCHMARK(BM_PaintPictureOnly)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace sigillon

int main(int argc, char** argv) {
    using namespace sigillon;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_ENABLE_HIGHDPI_SCALING", "0");
    std::string path = QDir::tempPath().toStdString() + "/sigillon-bench-" +
                       std::to_string(getpid()) + ".jpg";
    if (!WritePictureFile(path)) {
        std::fprintf(stderr, "could not write %s\n", path.c_str());
        return 1;
    }

    benchmark::Initialize(&argc, argv);
    QApplication application(argc, argv);
    SetDisplayBitsPerPixel(32);
    OneFileDesktop desktop(QString::fromStdString(path));
    InstallDesktopServices(&desktop);

    Program windows;
    windows.main = std::make_unique<TFsigillon>();
    Fsigillon = windows.main.get();
    windows.main->show();
    windows.about = std::make_unique<Tfabout>();
    fabout = windows.about.get();
    windows.overview = std::make_unique<Tfoverview>();
    foverview = windows.overview.get();
    Pump();
    long emptyWindow = StatusKilobytes("VmHWM:");

    // As a user would: open the file, show the overview, look at both.
    windows.main->btnopen->click();
    windows.main->btnoverview->click();
    Pump();
    windows.main->dm->repaint();
    windows.overview->im2->repaint();
    Pump();
    long withPicture = StatusKilobytes("VmHWM:");
    std::remove(path.c_str());

    const TBitmap& picture = windows.main->dm->Picture();
    double pictureBytes = double(picture.Stride()) * picture.Height();
    double allowed = pictureBytes * 1.3 / 1024 + double(emptyWindow);
    auto kb = [](double v) { return std::to_string(long(v)) + " KiB"; };
    benchmark::AddCustomContext("picture", std::to_string(picture.Width()) + " x " +
                                               std::to_string(picture.Height()) + ", " +
                                               kb(pictureBytes / 1024));
    benchmark::AddCustomContext("peak memory, empty window", kb(double(emptyWindow)));
    benchmark::AddCustomContext("peak memory, picture shown", kb(double(withPicture)));
    benchmark::AddCustomContext("peak memory allowed", kb(allowed));
    benchmark::AddCustomContext("overview shares the picture",
                                windows.overview->im2->Picture().SharesImageWith(picture) ? "yes"
                                                                                          : "no");

    program = &windows;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    program = nullptr;
    foverview = nullptr;
    fabout = nullptr;
    Fsigillon = nullptr;
    InstallDesktopServices(nullptr);
    return 0;
}
