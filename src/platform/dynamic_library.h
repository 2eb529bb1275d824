// Loading a library at run time (LoadLibraryA / dlopen) and finding its functions.
//
// Provided by the OS specific files: posix/dynamic_library_posix.cpp,
// win32/dynamic_library_win32.cpp.
#pragma once

#include <string>

namespace kesto::platform {

using LibraryHandle = void*;

// Loads the library at `path` as given: a bare or relative name goes through the system's own
// search. Null on failure (LastLoaderErrorText then says why).
LibraryHandle LoadDynamicLibrary(const std::string& path);
// Loads the library `fileName` from the folder of the module that holds this code (the client
// library), by its full path: a host may keep us anywhere (a .NET host keeps native libraries
// in a subfolder of its output), and no folder the host does not control may supply the
// library. Windows: when no file of that name is there, the application's folder and System32
// are searched, never the working directory or PATH. `tried` receives what the last attempt
// named (the full path, or the bare name for that search), for the failure text.
LibraryHandle LoadLibraryBesideClient(const std::string& fileName, std::string& tried);
// The address of an exported function; null when missing (LastLoaderErrorText says why).
void* FindLibrarySymbol(LibraryHandle library, const char* name);
void FreeDynamicLibrary(LibraryHandle library);
// The system's text for the last loader failure of this thread (FormatMessageA of
// GetLastError / dlerror); empty when there is none.
std::string LastLoaderErrorText();

}  // namespace kesto::platform
