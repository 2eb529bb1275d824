// What the display needs from the operating system besides Direct3D itself: loading the
// Direct3D runtime, the hidden focus window for the devices, and the monitor under a point.
//
// Provided by the OS specific files: win32/display_system_win32.cpp (d3d9.dll through
// LoadLibraryW/GetProcAddress, RegisterClassW/CreateWindowExW, MonitorFromPoint) and
// posix/display_system_posix.cpp (the software Direct3D and its simulated monitors).
#pragma once

#include "platform/d3d9_api.h"

namespace kesto::platform {

using Direct3DCreate9Function = IDirect3D9*(WINAPI*)(UINT sdkVersion);
using Direct3DCreate9ExFunction = HRESULT(WINAPI*)(UINT sdkVersion, IDirect3D9Ex** created);

// The Direct3D runtime's entry points. `create9Ex` is null where the extended object is not
// offered (or the runtime did not load); `create9` is then the fallback.
struct Direct3DRuntime {
    Direct3DCreate9ExFunction create9Ex = nullptr;
    Direct3DCreate9Function create9 = nullptr;
    void* module = nullptr;  // released with ReleaseDirect3DRuntime
};

Direct3DRuntime LoadDirect3DRuntime();
// Frees the module. Only once every object created through it has been released: Direct3D
// objects hold no reference to their module, so freeing it earlier unloads their code in a
// process where nothing else holds d3d9.dll. Does nothing for a runtime that did not load.
void ReleaseDirect3DRuntime(Direct3DRuntime& runtime);

// Registers the hidden window's class ("D3DImageSample"); false when registration fails.
bool RegisterFocusWindowClass();
// Creates the hidden, never shown, window of that class; the handle is taken as it comes.
HWND CreateFocusWindow();
// Destroys the window and unregisters its class.
void DestroyFocusWindow(HWND window);

// The monitor that holds a point in screen coordinates, or null (MONITOR_DEFAULTTONULL).
HMONITOR MonitorFromScreenPoint(POINT point);

}  // namespace kesto::platform
