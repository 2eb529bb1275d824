// The process environment as it is at the call.
//
// Provided by the OS specific files: posix/environment_posix.cpp (getenv),
// win32/environment_win32.cpp (GetEnvironmentVariableW: the C runtime's getenv reads a copy
// taken when the runtime started, which misses what a host sets later, such as a .NET host's
// Environment.SetEnvironmentVariable). Built into the decoder library as well.
#pragma once

#include <optional>
#include <string>

namespace kesto::platform {

// The variable's value (UTF-8 on Windows), or nothing when it is not set.
std::optional<std::string> EnvironmentValue(const char* name);

}  // namespace kesto::platform
