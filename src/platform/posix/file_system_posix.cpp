#include "platform/file_system.h"

#include <sys/stat.h>

namespace kesto::platform {

char PathSeparator() {
    return '/';
}

bool IsExistingFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

}  // namespace kesto::platform
