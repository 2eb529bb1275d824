#include "platform/environment.h"

#include <windows.h>

#include <vector>

namespace kesto::platform {

std::optional<std::string> EnvironmentValue(const char* name) {
    const std::wstring wideName(name, name + std::char_traits<char>::length(name));  // ASCII
    // The value may change between the two calls; ask again until it fits.
    std::vector<wchar_t> value(64);
    for (int attempt = 0; attempt < 4; ++attempt) {
        SetLastError(ERROR_SUCCESS);
        const DWORD length = GetEnvironmentVariableW(wideName.c_str(), value.data(),
                                                     static_cast<DWORD>(value.size()));
        if (length == 0 && GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
        if (length < value.size()) {
            const int bytes = WideCharToMultiByte(
                CP_UTF8, 0, value.data(), static_cast<int>(length), nullptr, 0, nullptr, nullptr);
            std::string text(static_cast<std::size_t>(bytes), '\0');
            WideCharToMultiByte(CP_UTF8, 0, value.data(), static_cast<int>(length), text.data(),
                                bytes, nullptr, nullptr);
            return text;
        }
        value.resize(length);
    }
    return std::nullopt;
}

}  // namespace kesto::platform
