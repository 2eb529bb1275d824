#include "platform/file_system.h"

#include <sys/stat.h>

namespace kesto::platform {

char PathSeparator() {
    return '/';
}

std::filesystem::path NativePath(const HostPath& path) {
    return std::filesystem::path(path.text);
}

bool IsExistingFile(const HostPath& path) {
    struct stat info {};
    return ::stat(path.text.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace kesto::platform
