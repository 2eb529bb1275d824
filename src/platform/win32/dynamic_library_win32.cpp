#include "platform/dynamic_library.h"

#include <windows.h>

namespace kesto::platform {

namespace {
// GetLastError is per thread already, but any Win32 call in between (FreeLibrary, a heap
// allocation inside the string code) may overwrite it; keep the loader's code until asked.
thread_local DWORD lastError = 0;

std::string SystemMessage(DWORD code) {
    if (code == 0) return {};
    char* text = nullptr;
    // The user's default language, as the system shows its own messages. The text comes as
    // the message table has it, which for system messages ends in "\r\n" (for example
    // "The specified module could not be found.\r\n"); it is passed on unchanged.
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
        nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : "";
    if (text != nullptr) LocalFree(text);
    return message;
}
}  // namespace

LibraryHandle LoadDynamicLibrary(const std::string& path) {
    const HMODULE module = LoadLibraryA(path.c_str());
    lastError = module == nullptr ? GetLastError() : 0;
    return reinterpret_cast<LibraryHandle>(module);
}

void* FindLibrarySymbol(LibraryHandle library, const char* name) {
    const FARPROC symbol = GetProcAddress(static_cast<HMODULE>(library), name);
    lastError = symbol == nullptr ? GetLastError() : 0;
    return reinterpret_cast<void*>(symbol);
}

void FreeDynamicLibrary(LibraryHandle library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

std::string LastLoaderErrorText() {
    return SystemMessage(lastError);
}

}  // namespace kesto::platform
