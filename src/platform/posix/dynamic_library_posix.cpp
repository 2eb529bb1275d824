#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace kesto::platform {

namespace {
// dlerror() reports the last failure once and then clears it; keep the text per thread so
// that the caller can fetch it after other work, as GetLastError allows on Windows.
thread_local std::string lastError;

void CaptureError() {
    const char* text = dlerror();
    lastError = text != nullptr ? text : "";
}
}  // namespace

LibraryHandle LoadDynamicLibrary(const std::string& path) {
    dlerror();
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) CaptureError();
    return handle;
}

void* FindLibrarySymbol(LibraryHandle library, const char* name) {
    dlerror();
    void* symbol = dlsym(library, name);
    if (symbol == nullptr) CaptureError();
    return symbol;
}

void FreeDynamicLibrary(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

std::string LastLoaderErrorText() {
    return lastError;
}

}  // namespace kesto::platform
