#include "platform/library_unload.h"

#include <windows.h>

namespace kesto::platform {

void RunUnloadHandlerBeforeExit() {}

}  // namespace kesto::platform

// The mingw runtime's entry point calls this before it runs the C++ global destructors, so
// the handler still finds every global object. `reserved` is null for FreeLibrary and set
// for process exit; at process exit every other thread is already gone, and nothing is left
// to end.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        kesto::platform::CallLibraryUnloadHandler();
    }
    return TRUE;
}
