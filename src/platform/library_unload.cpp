#include "platform/library_unload.h"

#include <atomic>

namespace kesto::platform {

namespace {
// Atomic: the loader's thread reads it at unload, whichever thread set it.
std::atomic<LibraryUnloadHandler> unloadHandler{nullptr};
std::atomic<bool> globalsLeftToSystem{false};
}  // namespace

void LeaveGlobalsToSystem() {
    globalsLeftToSystem.store(true);
}

bool GlobalsLeftToSystem() {
    return globalsLeftToSystem.load();
}

void SetLibraryUnloadHandler(LibraryUnloadHandler handler) {
    unloadHandler.store(handler);
}

void CallLibraryUnloadHandler() noexcept {
    const LibraryUnloadHandler handler = unloadHandler.load();
    if (handler != nullptr) handler();
}

}  // namespace kesto::platform
