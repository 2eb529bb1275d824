#include "platform/file_system.h"

#include <windows.h>

namespace kesto::platform {

char PathSeparator() {
    return '\\';
}

bool IsExistingFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace kesto::platform
