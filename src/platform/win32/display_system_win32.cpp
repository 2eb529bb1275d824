#include "platform/display_system.h"

namespace kesto::platform {

namespace {
constexpr const wchar_t* kFocusWindowClass = L"D3DImageSample";

// GetProcAddress gives every function as FARPROC; GCC warns about casting that to another
// function type, except through the generic void (*)().
template <typename Function>
Function LookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}
}  // namespace

Direct3DRuntime LoadDirect3DRuntime() {
    Direct3DRuntime runtime;
    // Only the system's copy: a bare name would also search the executable's folder, the
    // working directory and PATH, where anyone could plant a d3d9.dll into the host.
    const HMODULE module = LoadLibraryExW(L"d3d9.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr) return runtime;
    runtime.module = module;
    runtime.create9Ex = LookUp<Direct3DCreate9ExFunction>(module, "Direct3DCreate9Ex");
    // Direct3DCreate9 is the fallback where the extended object is not offered; taking it
    // from the same module avoids linking d3d9.dll, so the client library still loads on a
    // system without Direct3D and reports the failure through the display exports instead.
    runtime.create9 = LookUp<Direct3DCreate9Function>(module, "Direct3DCreate9");
    return runtime;
}

void ReleaseDirect3DRuntime(Direct3DRuntime& runtime) {
    if (runtime.module != nullptr) FreeLibrary(static_cast<HMODULE>(runtime.module));
    runtime = Direct3DRuntime{};
}

bool RegisterFocusWindowClass() {
    WNDCLASSW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = nullptr;
    // IDI_APPLICATION and IDC_ARROW expand to the narrow MAKEINTRESOURCE unless UNICODE is
    // defined, which the library does not do; the wide calls need the wide form of the ids.
    windowClass.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));      // IDI_APPLICATION
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kFocusWindowClass;
    return RegisterClassW(&windowClass) != 0;
}

HWND CreateFocusWindow() {
    return CreateWindowExW(0, kFocusWindowClass, kFocusWindowClass, WS_OVERLAPPEDWINDOW, 0, 0, 0, 0,
                           nullptr, nullptr, nullptr, nullptr);
}

void DestroyFocusWindow(HWND window) {
    if (window != nullptr) DestroyWindow(window);
    UnregisterClassW(kFocusWindowClass, nullptr);
}

HMONITOR MonitorFromScreenPoint(POINT point) {
    return MonitorFromPoint(point, MONITOR_DEFAULTTONULL);
}

}  // namespace kesto::platform
