#include "pictures/files/shared_library.h"

#include <dlfcn.h>

#include "pictures/raster/bitmap_error.h"

namespace sigillon {

SharedLibrary::SharedLibrary(const char* soname, std::string prefix) : prefix_(std::move(prefix)) {
    handle_ = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* why = ::dlerror();
        throw BitmapError(prefix_ + soname + " cannot be loaded" +
                          (why ? std::string(": ") + why : ""));
    }
}

void* SharedLibrary::Function(const char* name) const {
    ::dlerror();
    void* address = ::dlsym(handle_, name);
    if (!address) throw BitmapError(prefix_ + "the library has no " + name);
    return address;
}

}  // namespace sigillon
