// A system library loaded the first time a file needs it rather than when
// the program starts. libheif and libavif bring the HEVC and AV1 codecs
// with them (x265, libde265, libaom, dav1d, rav1e, SVT-AV1 and more):
// loaded at start they cost every run about 3.5 MB of memory and a few
// milliseconds, though most pictures are JPEG.
#pragma once

#include <string>

namespace sigillon {

class SharedLibrary {
public:
    // Loads the library by its soname, once. Throws BitmapError(prefix +
    // why) when it cannot be loaded.
    SharedLibrary(const char* soname, std::string prefix);
    // The address of a function of the library. Throws BitmapError when
    // the library lacks it.
    void* Function(const char* name) const;

private:
    void* handle_ = nullptr;  // never closed: the codecs' threads may outlive a call
    std::string prefix_;
};

// The calls a format makes through a SharedLibrary, as a table with a
// member for each: a list macro X(name) ... declares the members with
// SIGILLON_DECLARE_CALL and, given a SharedLibrary named library and the
// table named calls, resolves them with SIGILLON_RESOLVE_CALL.
#define SIGILLON_DECLARE_CALL(name) decltype(&::name) name = nullptr;
#define SIGILLON_RESOLVE_CALL(name) \
    calls.name = reinterpret_cast<decltype(&::name)>(library.Function(#name));

}  // namespace sigillon
