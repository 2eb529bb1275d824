// Loading a library at run time (LoadLibraryA / dlopen) and finding its functions.
//
// Provided by the OS specific files: posix/dynamic_library_posix.cpp,
// win32/dynamic_library_win32.cpp.
#pragma once

#include <string>

namespace kesto::platform {

using LibraryHandle = void*;

// Loads the library; null on failure (LastLoaderErrorText then says why).
LibraryHandle LoadDynamicLibrary(const std::string& path);
// The address of an exported function; null when missing (LastLoaderErrorText says why).
void* FindLibrarySymbol(LibraryHandle library, const char* name);
void FreeDynamicLibrary(LibraryHandle library);
// The system's text for the last loader failure of this thread (FormatMessageA of
// GetLastError / dlerror); empty when there is none.
std::string LastLoaderErrorText();

}  // namespace kesto::platform
