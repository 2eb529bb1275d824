#include "platform/library_unload.h"

#include <windows.h>

namespace kesto::platform {

void RunUnloadHandlerBeforeExit() {}

}  // namespace kesto::platform

// The mingw runtime's entry point calls this before it runs the C++ global destructors (which
// it does at every detach, whatever `reserved` says), so the handler still finds every global
// object. `reserved` is null for FreeLibrary: the stream is ended and the destructors tear down.
// It is set for process exit: every other thread is already gone, and the destructors must
// leave the global objects alone (platform/library_unload.h).
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        if (reserved == nullptr) {
            kesto::platform::CallLibraryUnloadHandler();
        } else {
            kesto::platform::LeaveGlobalsToSystem();
        }
    }
    return TRUE;
}
