// libtiff as the TIFF reader and writer use it: every message it has goes
// to the handle's own record instead of the standard error, so that a
// refusal can give libtiff's reason in its own words.
#pragma once

#include <tiffio.h>

#include <cstdint>
#include <memory>
#include <string>

namespace sigillon::tiff_library {

struct Closer {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using Handle = std::unique_ptr<TIFF, Closer>;

// What libtiff said about one file.
struct Messages {
    std::string lastError;  // "" while there was none
    int errors = 0;

    // The latest error, or what was being done when libtiff gave none.
    std::string Reason(const std::string& doing) const {
        return lastError.empty() ? doing : lastError;
    }
};

// Open options whose handlers record errors in messages (warnings are
// dropped: they name tags libtiff skips, which tells a user nothing) and
// that cap every single allocation libtiff makes at maxAllocation bytes.
class Options {
public:
    Options(Messages& messages, std::int64_t maxAllocation);
    ~Options();
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    TIFFOpenOptions* get() const { return options_; }

private:
    TIFFOpenOptions* options_;
};

}  // namespace sigillon::tiff_library
