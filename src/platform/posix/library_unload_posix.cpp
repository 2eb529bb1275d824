#include "platform/library_unload.h"

// The C++ runtime's registration of exit handlers per loaded object, which the global
// destructors use; __dso_handle identifies this object.
extern "C" int __cxa_atexit(void (*function)(void*), void* argument, void* dso);
extern "C" void* __dso_handle;

namespace kesto::platform {

namespace {
void CallUnloadHandlerAtExit(void*) {
    CallLibraryUnloadHandler();
}
}  // namespace

// exit() runs its handlers in the reverse order of their registration, the global destructors
// of every library loaded so far among them. Registered for this library's own handle, as its
// global destructors are, so that dlclose takes it out again (it then runs once, after the
// destructor function below, and finds nothing left to do); plain atexit() would leave it to
// an exit that comes after the library's code is gone.
void RunUnloadHandlerBeforeExit() {
    __cxa_atexit(&CallUnloadHandlerAtExit, nullptr, &__dso_handle);
}

}  // namespace kesto::platform

// dlclose runs .fini_array from its last entry to its first; the compiler's entry that runs
// the C++ global destructors comes first in the array, so this runs before any of them and the
// handler still finds every global object. At exit() the C++ destructors may come first; the
// handler then finds the stream already ended.
__attribute__((destructor)) static void KestoLibraryUnloading() {
    kesto::platform::CallLibraryUnloadHandler();
}
