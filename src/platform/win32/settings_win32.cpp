#include "platform/settings.h"

#include <windows.h>

#include <vector>

namespace kesto::platform {

namespace {
constexpr const wchar_t* kKey = L"Software\\Corvexa\\Kesto";
constexpr const wchar_t* kValue = L"MalvoVideoDecoderLib";
// The value is read into a buffer of MAX_PATH bytes. With the wide registry call that holds
// 130 UTF-16 units, so a path of at most 129 characters plus its terminating zero (as
// RegSetValueEx stores a string) is used; a longer one gives ERROR_MORE_DATA and the default
// name applies.
constexpr DWORD kMaxValueBytes = 260;
}  // namespace

std::string DefaultDecoderLibraryName() {
    return "Corvexa.Kesto.VideoDecoderFF.dll";
}

bool OpenMpRuntimeSharedWithHost() {
    return false;
}

std::optional<std::string> ConfiguredDecoderLibraryPath() {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    // One spare unit so that data stored without its terminating zero still ends in one.
    wchar_t data[kMaxValueBytes / sizeof(wchar_t) + 1] = {};
    DWORD type = 0;
    DWORD size = kMaxValueBytes;
    const LONG read =
        RegQueryValueExW(key, kValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (read != ERROR_SUCCESS || type != REG_SZ) return std::nullopt;
    data[size / sizeof(wchar_t)] = L'\0';

    // The library's strings are narrow (ANSI code page), and LoadLibraryA takes that form.
    const int length = WideCharToMultiByte(CP_ACP, 0, data, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::nullopt;
    std::vector<char> narrow(static_cast<std::size_t>(length));
    WideCharToMultiByte(CP_ACP, 0, data, -1, narrow.data(), length, nullptr, nullptr);
    return std::string(narrow.data());
}

}  // namespace kesto::platform
