#include "app/batch/qt_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "app/batch/qt_module.h"

#ifndef SIGILLON_LIBDIR
#define SIGILLON_LIBDIR "lib"
#endif

namespace sigillon::batch {
namespace {

// The folder this program was started from, with its final '/'.
std::string OwnFolder() {
    std::vector<char> path(4096);
    ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) return {};
    std::string self(path.data(), std::size_t(length));
    return self.substr(0, self.rfind('/') + 1);
}

// A raster of the module's, copied into a picture of ours and given back.
StampImage Take(const SigillonQtModule* module, SigillonRaster& raster) {
    StampImage image;
    const std::size_t w = std::size_t(raster.width);
    image.pixels = TBitmap::FromRows(raster.width, raster.height, Depth24,
                                     [&](std::int32_t y, std::uint8_t* row) {
                                         std::memcpy(row, raster.bgr + std::size_t(y) * w * 3, w * 3);
                                     });
    if (raster.alpha) image.alpha.assign(raster.alpha, raster.alpha + w * std::size_t(raster.height));
    module->release(&raster);
    return image;
}

}  // namespace

QtModule::QtModule() {
    const std::string folder = OwnFolder();
    for (const std::string& path : {folder + kSigillonQtModuleName,
                                    folder + "../" SIGILLON_LIBDIR "/sigillon/" + kSigillonQtModuleName}) {
        if (::access(path.c_str(), R_OK) != 0) continue;
        // Never unloaded: the stamps it draws and Qt live until the end.
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            problem_ = ::dlerror();
            return;
        }
        auto entry = reinterpret_cast<const SigillonQtModule* (*)()>(
            ::dlsym(handle, "sigillon_batch_qt_module"));
        const SigillonQtModule* module = entry ? entry() : nullptr;
        if (!module || module->version != kSigillonQtModuleVersion) {
            problem_ = path + " is not this program's Qt module";
            return;
        }
        module_ = module;
        return;
    }
    problem_ = std::string("no ") + kSigillonQtModuleName + " beside the program or in its library folder";
}

QtModule::~QtModule() {
    if (module_) module_->finish();
}

TextRenderer QtModule::Renderer() const {
    const SigillonQtModule* module = module_;
    return [module](const BatchOptions& options) -> std::unique_ptr<TBitmap> {
        SigillonRaster raster{};
        if (module->renderText(options.text.c_str(), options.colour, options.size, &raster) != 0)
            return nullptr;
        StampImage image = Take(module, raster);
        auto stamp = std::make_unique<TBitmap>();
        stamp->ShareImage(*image.pixels);
        return stamp;
    };
}

StampScaler QtModule::Scaler() const {
    const SigillonQtModule* module = module_;
    return [module](const StampImage& stamp, std::int32_t width) -> StampImage {
        const std::size_t w = std::size_t(stamp.Width());
        std::vector<std::uint8_t> bgr(w * std::size_t(stamp.Height()) * 3);
        for (std::int32_t y = 0; y < stamp.Height(); ++y)
            std::memcpy(bgr.data() + std::size_t(y) * w * 3, stamp.pixels->RowAddress(y), w * 3);
        SigillonRaster in{stamp.Width(), stamp.Height(), bgr.data(),
                          stamp.alpha.empty() ? nullptr : const_cast<std::uint8_t*>(stamp.alpha.data())};
        SigillonRaster out{};
        if (module->scaleStamp(&in, width, &out) != 0)
            throw BitmapError("the stamp could not be scaled to " + std::to_string(width) + " pixels");
        return Take(module, out);
    };
}

}  // namespace sigillon::batch
