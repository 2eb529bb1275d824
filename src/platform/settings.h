// The one setting read from outside the library: which decoder library to load.
//
// Provided by the OS specific files: posix/settings_posix.cpp (environment variable
// KESTO_DECODER_LIB), win32/settings_win32.cpp (registry value
// HKCU\Software\Corvexa\Kesto\MalvoVideoDecoderLib).
#pragma once

#include <optional>
#include <string>

namespace kesto::platform {

// The decoder library's file name, looked for beside the client library (LoadLibraryBesideClient)
// when no path is configured.
std::string DefaultDecoderLibraryName();
// The path the user configured, when it is set and a string of at most 260 bytes.
std::optional<std::string> ConfiguredDecoderLibraryPath();

}  // namespace kesto::platform
