// Being told that the host unloads the library (FreeLibrary / dlclose) while the library's
// global objects still exist, so that a stream the host left running can be ended first.
//
// Provided by the OS specific files: win32/library_unload_win32.cpp (DllMain: process detach
// from FreeLibrary, not from process exit) and posix/library_unload_posix.cpp (a destructor
// function: dlclose runs it before the C++ global destructors, and exit() runs it as well).
// Either way the handler runs under the loader's lock when it runs for an unload.
#pragma once

namespace kesto::platform {

using LibraryUnloadHandler = void (*)() noexcept;

// Set once, while the library is loaded (from a global initialiser); null switches it off.
// Kept in platform/library_unload.cpp, shared by both backends.
void SetLibraryUnloadHandler(LibraryUnloadHandler handler);

// Runs the handler, if one is set. For the backends, which know when the library unloads.
void CallLibraryUnloadHandler() noexcept;

// Runs the handler at process exit as well, before the global destructors of the libraries
// loaded up to this call. POSIX: exit() finalizes a library loaded at run time (the decoder)
// before this one while the worker still runs in it; call this once that library is loaded.
// Windows: nothing, process exit ends every other thread before any library is detached.
void RunUnloadHandlerBeforeExit();

}  // namespace kesto::platform
