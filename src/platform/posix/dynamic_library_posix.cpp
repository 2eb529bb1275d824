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

LibraryHandle LoadLibraryBesideClient(const std::string& fileName, std::string& tried) {
    // By full path: dlopen's own search would use the RUNPATH of its caller, which is not this
    // library when a sanitizer runtime intercepts dlopen.
    tried = fileName;
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadLibraryBesideClient), &info) != 0 &&
        info.dli_fname != nullptr) {
        const std::string self = info.dli_fname;
        const std::size_t slash = self.rfind('/');
        if (slash != std::string::npos) tried = self.substr(0, slash + 1) + fileName;
    }
    return LoadDynamicLibrary(tried);
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
