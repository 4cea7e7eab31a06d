// Exiv2 keeps global state (its log level, the XMP toolkit and the XMP
// namespaces a packet brings along), so every use of it here holds one
// lock. What is done under it is small beside coding the picture.
#pragma once

#include <mutex>

namespace sigillon {

// Takes the lock, and sets Exiv2 up the first time: muted, since the
// caller gets our warnings instead of its complaints on standard error.
std::unique_lock<std::mutex> HoldExiv2();

}  // namespace sigillon
