#include "pictures/tiff/tiff_library.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace sigillon::tiff_library {
namespace {

int RecordError(TIFF*, void* data, const char* module, const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    auto* messages = static_cast<Messages*>(data);
    messages->lastError = module && *module ? std::string(module) + ": " + text : std::string(text);
    ++messages->errors;
    return 1;  // handled: nothing goes to the standard error
}

int DropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

Options::Options(Messages& messages, std::int64_t maxAllocation)
    : options_(TIFFOpenOptionsAlloc()) {
    // What libtiff says before a file's handle exists goes to its
    // process-wide handlers, which would print it.
    static std::once_flag silenced;
    std::call_once(silenced, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
    TIFFOpenOptionsSetErrorHandlerExtR(options_, RecordError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options_, DropWarning, nullptr);
    TIFFOpenOptionsSetMaxSingleMemAlloc(options_, tmsize_t(maxAllocation));
}

Options::~Options() { TIFFOpenOptionsFree(options_); }

}  // namespace sigillon::tiff_library
