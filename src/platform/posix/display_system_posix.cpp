// display_system.h on Linux, on top of the software Direct3D 9: the "runtime" is linked in,
// the focus window is a handle the software runtime hands out, and monitors are the adapters'
// rectangles (one 1920 x 1080 monitor unless the test control sets others).
#include "platform/display_system.h"

#include "platform/soft_d3d9/soft_d3d9_internal.h"

namespace kesto::platform {
namespace {

// Stands in for the module handle of d3d9.dll.
int runtimeModule;

}  // namespace

Direct3DRuntime LoadDirect3DRuntime() {
    Direct3DRuntime runtime;
    runtime.module = &runtimeModule;
    runtime.create9 = &Direct3DCreate9;
    // GetProcAddress finds Direct3DCreate9Ex only where the system offers the extended object.
    if (soft_d3d9::internal::CurrentConfiguration().extendedAvailable)
        runtime.create9Ex = &Direct3DCreate9Ex;
    return runtime;
}

void ReleaseDirect3DRuntime(Direct3DRuntime& runtime) {
    runtime = Direct3DRuntime{};
}

bool RegisterFocusWindowClass() {
    return soft_d3d9::internal::RegisterWindowClass();
}

HWND CreateFocusWindow() {
    return soft_d3d9::internal::CreateWindow();
}

void DestroyFocusWindow(HWND window) {
    soft_d3d9::internal::DestroyWindow(window);
    soft_d3d9::internal::UnregisterWindowClass();
}

// MonitorFromPoint with MONITOR_DEFAULTTONULL: a monitor's rectangle includes its left and top
// edges but not its right and bottom ones.
HMONITOR MonitorFromScreenPoint(POINT point) {
    const std::vector<RECT> monitors = soft_d3d9::internal::CurrentConfiguration().monitors;
    for (size_t i = 0; i < monitors.size(); ++i) {
        const RECT& area = monitors[i];
        if (point.x >= area.left && point.x < area.right && point.y >= area.top &&
            point.y < area.bottom) {
            return soft_d3d9::internal::MonitorHandle(static_cast<UINT>(i));
        }
    }
    return nullptr;
}

}  // namespace kesto::platform
