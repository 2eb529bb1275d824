#include "platform/dynamic_library.h"

#include <windows.h>

#include <vector>

#include "platform/file_system.h"

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

// The folder of the module holding this code, with its trailing separator; empty when it cannot
// be had. Wide calls, so that a folder outside the ANSI code page is still found.
std::wstring OwnFolder() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&OwnFolder), &self)) {
        return {};
    }
    // Paths may be longer than MAX_PATH; a full buffer means the name was cut short.
    for (DWORD capacity = MAX_PATH; capacity <= 32768; capacity *= 2) {
        std::vector<wchar_t> name(capacity);
        const DWORD length = GetModuleFileNameW(self, name.data(), capacity);
        if (length == 0) return {};
        if (length < capacity) {
            const std::wstring path(name.data(), length);
            const std::size_t separator = path.find_last_of(L"\\/");
            return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
        }
    }
    return {};
}

// The library's texts are narrow (ANSI code page); a character outside it comes out as '?'.
std::string Narrow(const std::wstring& text) {
    const int length =
        WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::vector<char> narrow(static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(), length, nullptr, nullptr);
    return narrow.data();
}

bool IsFile(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

HMODULE Remember(HMODULE module) {
    lastError = module == nullptr ? GetLastError() : 0;
    return module;
}
}  // namespace

LibraryHandle LoadLibraryBesideClient(const std::string& fileName, std::string& tried) {
    // A bare name given to LoadLibraryA would also be searched for in the working directory and
    // along PATH, where anyone who can write a file could plant a library of that name in the
    // host's process. The file beside us is loaded by full path. Its own imports are resolved
    // from its folder, then the host's default folders: the executable's, System32 and those
    // the host named with AddDllDirectory or SetDllDirectory (a decoder built on a vendor's
    // toolkit needs that toolkit's folder, which only the host knows), never the working
    // directory or PATH. A file that is there but fails to load is reported as it is: falling
    // back to another copy would hide a broken installation.
    const std::wstring folder = OwnFolder();
    const std::wstring besideUs = folder + NativePath(fileName).wstring();
    if (!folder.empty() && IsFile(besideUs)) {
        tried = Narrow(besideUs);
        return Remember(
            LoadLibraryExW(besideUs.c_str(), nullptr,
                           LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS));
    }
    // Not beside us: the installation may keep it beside the host's executable instead.
    tried = fileName;
    return Remember(
        LoadLibraryExA(fileName.c_str(), nullptr,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32));
}

LibraryHandle LoadDynamicLibrary(const std::string& path) {
    return reinterpret_cast<LibraryHandle>(Remember(LoadLibraryA(path.c_str())));
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
