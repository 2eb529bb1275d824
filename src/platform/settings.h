// What the library takes from outside itself: which decoder library to load, and whose OpenMP
// runtime it runs on.
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
// Whether the OpenMP runtime the library runs its teams on is the host's as well, so that the
// host's omp_set_num_threads reaches it: yes on POSIX (one shared libgomp in the process), no
// on Windows (the runtime is linked into the DLL, to spare hosts a libgomp DLL).
bool OpenMpRuntimeSharedWithHost();

}  // namespace kesto::platform
