// Being told that the host unloads the library (FreeLibrary / dlclose) while the library's
// global objects still exist, so that a stream the host left running can be ended first.
//
// Provided by the OS specific files: win32/library_unload_win32.cpp (DllMain: process detach
// from FreeLibrary, not from process exit) and posix/library_unload_posix.cpp (a destructor
// function: dlclose runs it before the C++ global destructors, and exit() runs it as well).
// Either way the handler runs under the loader's lock when it runs for an unload.
#pragma once

#include <new>
#include <utility>

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

// Process exit on Windows ends every other thread first, wherever it was (holding a lock, inside
// Direct3D), and detaches the libraries loaded after this one (Direct3D, the graphics driver,
// the decoder) before this one; the C++ global destructors then run inside the loader's detach
// notice. Tearing anything down there would wait on locks no thread will release and call into
// detached code, so the library's global objects are left to the system, which reclaims their
// memory, handles and threads. The Windows backend says so when the exit begins (before the
// global destructors); POSIX never does: exit() runs the unload handler first, which ends the
// worker while every thread still runs, and the destructors then tear down safely.
void LeaveGlobalsToSystem();
bool GlobalsLeftToSystem();

// A global owner (std::unique_ptr, std::shared_ptr) that destroys what it holds when the
// library goes, unless `LeftToSystem()` says the process is exiting where nothing may be torn
// down: then what it holds is moved to storage that is never destroyed (a move touches neither
// the object, the heap nor a reference count).
template <typename Pointer, bool (*LeftToSystem)() = &GlobalsLeftToSystem>
class LeftAtProcessExit : public Pointer {
  public:
    LeftAtProcessExit() = default;
    LeftAtProcessExit(const LeftAtProcessExit&) = delete;
    LeftAtProcessExit& operator=(const LeftAtProcessExit&) = delete;
    using Pointer::operator=;
    ~LeftAtProcessExit() {
        if (LeftToSystem()) new (&parked.pointer) Pointer(std::move(static_cast<Pointer&>(*this)));
    }

  private:
    union Parked {
        Parked() {}
        ~Parked() {}
        Pointer pointer;
    } parked;
};

}  // namespace kesto::platform
