#include "test_platform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>

#include <cstdlib>
#endif

namespace kesto::test {

#if defined(_WIN32)
void SetDecoderLibrarySetting(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        RegDeleteKeyValueA(HKEY_CURRENT_USER, "Software\\Corvexa\\Kesto", "MalvoVideoDecoderLib");
        return;
    }
    const std::string value(path);
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\Corvexa\\Kesto", "MalvoVideoDecoderLib", REG_SZ,
                    value.c_str(), static_cast<DWORD>(value.size() + 1));
}

// The system's text for an error code, "\r\n" and all, as the client passes it on.
std::string SystemText(DWORD code) {
    char* text = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
        nullptr);
    const std::string message = text != nullptr ? text : "";
    LocalFree(text);
    return message;
}

std::string MissingLibraryMessage(const std::string& path) {
    return "Unable to load " + path + ": " + SystemText(ERROR_MOD_NOT_FOUND);
}

std::string MissingSymbolText(const std::string&) {
    return SystemText(ERROR_PROC_NOT_FOUND);
}

std::string NoSuchLibraryPath() {
    return "C:\\no\\such\\decoder.dll";
}

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

LoadedLibrary::LoadedLibrary(const std::string& path)
    : handle(reinterpret_cast<void*>(LoadLibraryA(path.c_str()))) {
    if (handle == nullptr)
        error = "LoadLibraryA failed with error " + std::to_string(GetLastError());
}

LoadedLibrary::~LoadedLibrary() {
    if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
}

void* LoadedLibrary::Symbol(const char* name) const {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
#else
void SetDecoderLibrarySetting(const char* path) {
    if (path == nullptr || path[0] == '\0') {
        unsetenv("KESTO_DECODER_LIB");
    } else {
        setenv("KESTO_DECODER_LIB", path, 1);
    }
}

std::string MissingLibraryMessage(const std::string& path) {
    return "Unable to load " + path + ": " + path +
           ": cannot open shared object file: No such file or directory";
}

std::string MissingSymbolText(const std::string& name) {
    return "undefined symbol: " + name;
}

std::string NoSuchLibraryPath() {
    return "/no/such/libdecoder.so";
}

bool UnderWine() {
    return false;
}

LoadedLibrary::LoadedLibrary(const std::string& path)
    : handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
    if (handle == nullptr) {
        const char* text = dlerror();
        error = text != nullptr ? text : "dlopen failed";
    }
}

LoadedLibrary::~LoadedLibrary() {
    if (handle != nullptr) dlclose(handle);
}

void* LoadedLibrary::Symbol(const char* name) const {
    return dlsym(handle, name);
}
#endif

}  // namespace kesto::test
