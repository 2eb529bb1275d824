// File checks and the path rule of the platform.
//
// Provided by the OS specific files: posix/file_system_posix.cpp,
// win32/file_system_win32.cpp.
#pragma once

#include <string>

namespace kesto::platform {

// The separator that file URIs' '/' become in a local path.
char PathSeparator();
// true when the path names something that exists and is not a directory.
bool IsExistingFile(const std::string& path);

}  // namespace kesto::platform
