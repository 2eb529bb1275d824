// display_system.h on top of the software Direct3D 9: the "runtime" is linked in, the focus
// window is a handle the software runtime hands out, and monitors are the adapters' rectangles
// (one 1920 x 1080 monitor unless the test control sets others).
#include "platform/display_system.h"

#include <atomic>
#include <cstdint>

#include "platform/soft_d3d9/soft_d3d9_internal.h"

namespace kesto::platform {
namespace {

// Stands in for the module handle of d3d9.dll.
int runtimeModule;

}  // namespace
}  // namespace kesto::platform

namespace kesto::soft_d3d9::internal {
namespace {

// The one focus window class and the windows made of it: made and destroyed with the
// display, by one thread at a time (the display's lock), read by tests.
std::atomic<bool> classRegistered{false};
std::atomic<size_t> windowCount{0};
std::atomic<uintptr_t> nextWindow{0x10010};

}  // namespace

// RegisterClassW refuses a class that already exists (ERROR_CLASS_ALREADY_EXISTS), so a
// second registration without UnregisterClassW fails here too.
bool RegisterWindowClass() {
    return SUCCEEDED(EnterCall("Win32", "RegisterClass")) && !classRegistered.exchange(true);
}

bool UnregisterWindowClass() {
    return classRegistered.exchange(false);
}

HWND CreateWindow() {
    if (FAILED(EnterCall("Win32", "CreateWindow")) || !classRegistered) return nullptr;
    ++windowCount;
    return reinterpret_cast<HWND>(nextWindow.fetch_add(0x10));
}

void DestroyWindow(HWND window) {
    if (window != nullptr) --windowCount;
}

bool WindowClassRegistered() {
    return classRegistered;
}

size_t WindowCount() {
    return windowCount;
}

}  // namespace kesto::soft_d3d9::internal

namespace kesto::platform {

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
