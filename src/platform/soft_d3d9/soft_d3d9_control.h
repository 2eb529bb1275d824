// Switches and probes of the software Direct3D 9 for tests, in the library kesto_soft_d3d9_control
// that only test programs link. Everything here is process-wide and guarded by one mutex, so
// tests may flip switches while other threads use devices.
//
// Operation names (for FailNextCall and CallCount) are the method names: "Direct3DCreate9",
// "Direct3DCreate9Ex", "QueryInterface", "GetAdapterCount", "GetAdapterMonitor",
// "GetAdapterIdentifier", "CheckDeviceType", "CheckDeviceFormat", "CheckDeviceMultiSampleType",
// "GetDeviceCaps", "CreateDevice", "CreateDeviceEx", "TestCooperativeLevel", "CheckDeviceState",
// "CreateTexture", "CreateVertexBuffer", "CreateRenderTarget", "CreateOffscreenPlainSurface",
// "SetRenderTarget", "GetRenderTarget", "GetRenderTargetData", "ColorFill", "BeginScene",
// "EndScene", "Clear", "SetTransform", "SetRenderState", "SetTexture", "SetStreamSource",
// "SetFVF", "DrawPrimitive", "Lock", "Unlock", "LockRect", "UnlockRect", "GetSurfaceLevel",
// "GetLevelDesc", "GetDesc", and for the window layer "RegisterClass" and "CreateWindow".
// A name may also be qualified with the interface that declares the method, to single out one
// of several methods of the same name: "IDirect3D9::GetDeviceCaps",
// "IDirect3DDevice9::GetDeviceCaps", "IDirect3DTexture9::LockRect", "IDirect3DSurface9::LockRect",
// "IDirect3D9Ex::CreateDeviceEx", "IDirect3DDevice9Ex::CheckDeviceState",
// "Direct3D::Direct3DCreate9", "Win32::RegisterClass". A qualified failure is taken before a
// plain one. AddRef, Release and the Get* accessors of stored state are not counted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/soft_d3d9/d3d9.h"

namespace kesto::soft_d3d9 {

// Back to the defaults: one adapter whose monitor is {0, 0, 1920, 1080}; the extended object
// offered; hardware transform and dynamic textures supported, no power-of-two restriction;
// multisample types 2 and 4 supported; no pending failures; the window class unregistered and
// registration allowed; call counts and creation records cleared. Objects still alive stay
// valid and keep counting as live; devices already lost stay lost.
void Reset();

// One adapter per rectangle (screen coordinates); GetAdapterCount is the vector's size.
void SetAdapterMonitors(const std::vector<RECT>& monitors);
// Whether Direct3DCreate9Ex is offered. When not, LoadDirect3DRuntime gives a null create9Ex
// and a direct call of Direct3DCreate9Ex returns D3DERR_NOTAVAILABLE.
void SetExtendedAvailable(bool available);
// The capabilities GetDeviceCaps reports from now on (D3DDEVCAPS_HWTRANSFORMANDLIGHT,
// D3DCAPS2_DYNAMICTEXTURES, D3DPTEXTURECAPS_POW2), enforced as the real runtime does: hardware
// vertex processing, dynamic textures and textures of other than power-of-two sizes are then
// refused with D3DERR_INVALIDCALL.
void SetCaps(bool hardwareTransform, bool dynamicTextures, bool pow2Textures);
// The multisample types CheckDeviceMultiSampleType accepts (NONE is always accepted).
void SetSupportedMultisampleTypes(const std::set<D3DMULTISAMPLE_TYPE>& types);

// Every device alive now reports `code` from CheckDeviceState, and from TestCooperativeLevel
// when the code is a failure (a status code such as S_PRESENT_OCCLUDED leaves
// TestCooperativeLevel at D3D_OK). Devices created afterwards start healthy. Other calls on a
// lost device keep working, as the drawing calls of a real lost device silently do.
void SetDeviceState(HRESULT code);
// SetDeviceState(D3DERR_DEVICELOST).
void LoseDevices();

// The next `times` calls of `operation` fail with `code` (times < 0: every call until Reset).
// Calls that return no HRESULT fail in their own way: Direct3DCreate9 returns null,
// "RegisterClass" refuses the class, "CreateWindow" returns a null window. Failing calls do
// nothing else (no object is created, no state changes) and their output pointers are nulled
// where the real runtime nulls them.
void FailNextCall(const std::string& operation, HRESULT code, int times = 1);
// Window class registration fails while set (the same as failing "RegisterClass" every time).
void FailWindowClassRegistration(bool fail);

// Probes.

// Interface objects (Direct3D objects, devices, surfaces, textures, vertex buffers) not yet
// destroyed. A resource bound to a device (render target, texture, stream source) lives until
// it is unbound or the device goes, even after its last Release, as in the real runtime.
size_t LiveObjects();
// One line per live object, for test failure messages.
std::string DescribeLiveObjects();
// Calls of `operation` (plain or qualified name) since the last Reset, failed ones included.
size_t CallCount(const std::string& operation);

struct DeviceRecord {
    UINT adapter = 0;
    D3DDEVTYPE deviceType = D3DDEVTYPE_HAL;
    HWND focusWindow = nullptr;
    DWORD behaviorFlags = 0;
    bool extended = false;  // made by CreateDeviceEx
    bool hadFullscreenMode = false;
    D3DPRESENT_PARAMETERS parameters{};
};
struct RenderTargetRecord {
    UINT width = 0;
    UINT height = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DMULTISAMPLE_TYPE multiSample = D3DMULTISAMPLE_NONE;
    DWORD multisampleQuality = 0;
    BOOL lockable = FALSE;
    bool sharedHandleRequested = false;
};
struct TextureRecord {
    UINT width = 0;
    UINT height = 0;
    UINT levels = 0;
    DWORD usage = 0;
    D3DFORMAT format = D3DFMT_UNKNOWN;
    D3DPOOL pool = D3DPOOL_DEFAULT;
};
// Successful creations since the last Reset, in order.
std::vector<DeviceRecord> CreatedDevices();
std::vector<RenderTargetRecord> CreatedRenderTargets();
std::vector<TextureRecord> CreatedTextures();

// The HMONITOR of an adapter's monitor (what GetAdapterMonitor and MonitorFromScreenPoint
// return); null for an ordinal beyond the adapters.
HMONITOR AdapterMonitor(UINT adapter);
// Whether the focus window class is registered, and how many focus windows exist.
bool WindowClassRegistered();
size_t LiveWindows();

// A copy of any surface's pixels (X8R8G8B8/A8R8G8B8 as 32-bit values, row by row, no padding),
// lockable or not, for tests that do not care to go through GetRenderTargetData. Empty for
// null. `width` and `height` receive the size when not null.
std::vector<uint32_t> ReadPixels(IDirect3DSurface9* surface, UINT* width = nullptr,
                                 UINT* height = nullptr);

}  // namespace kesto::soft_d3d9
