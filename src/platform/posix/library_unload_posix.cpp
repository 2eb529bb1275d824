#include "platform/library_unload.h"

#include <atomic>

namespace kesto::platform {

namespace {
std::atomic<LibraryUnloadHandler> unloadHandler{nullptr};
}  // namespace

void SetLibraryUnloadHandler(LibraryUnloadHandler handler) {
    unloadHandler.store(handler);
}

}  // namespace kesto::platform

// dlclose runs .fini_array from its last entry to its first; the compiler's entry that runs
// the C++ global destructors comes first in the array, so this runs before any of them and the
// handler still finds every global object. At exit() the C++ destructors may come first; the
// handler then finds the stream already ended.
__attribute__((destructor)) static void KestoLibraryUnloading() {
    const kesto::platform::LibraryUnloadHandler handler = kesto::platform::unloadHandler.load();
    if (handler != nullptr) handler();
}
