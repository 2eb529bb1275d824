#include "surface_usage_win32.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace kesto::test {

namespace {

using CheckDeviceFormatMethod = HRESULT(STDMETHODCALLTYPE*)(IDirect3D9*, UINT, D3DDEVTYPE,
                                                            D3DFORMAT, DWORD, D3DRESOURCETYPE,
                                                            D3DFORMAT);

// The COM method order of IDirect3D9: IUnknown's three, RegisterSoftwareDevice,
// GetAdapterCount, GetAdapterIdentifier, GetAdapterModeCount, EnumAdapterModes,
// GetAdapterDisplayMode, CheckDeviceType, then CheckDeviceFormat. IDirect3D9Ex extends the
// same table.
constexpr std::size_t kCheckDeviceFormatSlot = 10;

CheckDeviceFormatMethod runtimeCheckDeviceFormat = nullptr;

HRESULT STDMETHODCALLTYPE CheckDeviceFormatAsWindows(IDirect3D9* self, UINT adapter,
                                                     D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                                     DWORD usage, D3DRESOURCETYPE resource,
                                                     D3DFORMAT format) {
    if (resource == D3DRTYPE_SURFACE && (usage & D3DUSAGE_RENDERTARGET) != 0) {
        usage &= ~static_cast<DWORD>(D3DUSAGE_DYNAMIC);
    }
    return runtimeCheckDeviceFormat(self, adapter, type, adapterFormat, usage, resource, format);
}

}  // namespace

void AnswerSurfaceUsageAsWindows(bool on) {
    IDirect3D9Ex* d3d = nullptr;
    ASSERT_TRUE(SUCCEEDED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d)) && d3d != nullptr);
    void** slot = *reinterpret_cast<void***>(d3d) + kCheckDeviceFormatSlot;
    d3d->Release();
    if (on) runtimeCheckDeviceFormat = reinterpret_cast<CheckDeviceFormatMethod>(*slot);
    DWORD previous = 0;
    ASSERT_TRUE(VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) << GetLastError();
    *slot = on ? reinterpret_cast<void*>(&CheckDeviceFormatAsWindows)
               : reinterpret_cast<void*>(runtimeCheckDeviceFormat);
    VirtualProtect(slot, sizeof *slot, previous, &previous);
}

bool AcceptsRenderTargets(IDirect3D9Ex* d3d, DWORD usage) {
    return SUCCEEDED(d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8,
                                            usage, D3DRTYPE_SURFACE, D3DFMT_X8R8G8B8));
}

}  // namespace kesto::test
