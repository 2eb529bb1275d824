#include "platform/file_system.h"

#include <windows.h>

#include <vector>

namespace kesto::platform {

char PathSeparator() {
    return '\\';
}

std::filesystem::path NativePath(const HostPath& path) {
    // Invalid UTF-8 fails rather than being read as replacement characters, which could name
    // another file; the ANSI code page maps every byte.
    const UINT codePage = path.encoding == PathEncoding::Utf8 ? CP_UTF8 : CP_ACP;
    const DWORD flags = path.encoding == PathEncoding::Utf8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = MultiByteToWideChar(codePage, flags, path.text.c_str(), -1, nullptr, 0);
    if (length <= 0) return {};
    std::vector<wchar_t> wide(static_cast<std::size_t>(length));
    MultiByteToWideChar(codePage, flags, path.text.c_str(), -1, wide.data(), length);
    return std::filesystem::path(std::wstring(wide.data()));
}

bool IsExistingFile(const HostPath& path) {
    const std::filesystem::path native = NativePath(path);
    if (native.empty()) return false;
    const DWORD attributes = GetFileAttributesW(native.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace kesto::platform
