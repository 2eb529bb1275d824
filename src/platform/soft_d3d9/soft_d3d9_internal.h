// Shared between the files of the software Direct3D 9, and the seam to its test control.
//
// The device itself (soft_d3d9.cpp, rasterizer.cpp) is part of the shipped Linux library; the
// control (soft_d3d9_control.cpp: switches, injected failures, call counts, creation records,
// the live-object registry) is a library of its own that only test programs link. It attaches
// itself before main; without it, what a call asks of the control is one atomic load of a null
// pointer, so the library's Direct3D calls take no process-wide lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/soft_d3d9/soft_d3d9_control.h"

namespace kesto::soft_d3d9::internal {

// What the runtime offers. The defaults are the machine the shipped library draws on.
struct Configuration {
    std::vector<RECT> monitors{RECT{0, 0, 1920, 1080}};
    bool extendedAvailable = true;
    bool hardwareTransform = true;
    bool dynamicTextures = true;
    bool pow2Textures = false;
    std::vector<D3DMULTISAMPLE_TYPE> multisampleTypes{D3DMULTISAMPLE_2_SAMPLES,
                                                      D3DMULTISAMPLE_4_SAMPLES};
};

// Devices register so that SetDeviceState reaches them.
class DeviceStateSink {
  public:
    virtual void SetState(HRESULT code) = 0;

  protected:
    ~DeviceStateSink() = default;
};

class Control {
  public:
    // Counts one call of `interfaceName::method` and returns the failure injected for it
    // (qualified name first, then the plain one), or S_OK.
    virtual HRESULT EnterCall(const char* interfaceName, const char* method) = 0;
    virtual Configuration CurrentConfiguration() = 0;
    virtual void RegisterObject(const void* object, std::string description) = 0;
    virtual void UnregisterObject(const void* object) = 0;
    virtual void RegisterDevice(DeviceStateSink* device) = 0;
    virtual void UnregisterDevice(DeviceStateSink* device) = 0;
    virtual void RecordDevice(const DeviceRecord& record) = 0;
    virtual void RecordRenderTarget(const RenderTargetRecord& record) = 0;
    virtual void RecordTexture(const TextureRecord& record) = 0;

  protected:
    ~Control() = default;
};

// Set once, before any Direct3D object exists, and never taken back.
extern std::atomic<Control*> attachedControl;
inline Control* AttachedControl() {
    return attachedControl.load(std::memory_order_acquire);
}

inline HRESULT EnterCall(const char* interfaceName, const char* method) {
    Control* control = AttachedControl();
    return control != nullptr ? control->EnterCall(interfaceName, method) : S_OK;
}
inline Configuration CurrentConfiguration() {
    Control* control = AttachedControl();
    return control != nullptr ? control->CurrentConfiguration() : Configuration{};
}
void FillCaps(const Configuration& configuration, UINT adapter, D3DCAPS9* caps);
HMONITOR MonitorHandle(UINT index);

// The focus windows the software runtime hands out (soft_d3d9.cpp).
bool RegisterWindowClass();
bool UnregisterWindowClass();
HWND CreateWindow();
void DestroyWindow(HWND window);
bool WindowClassRegistered();
size_t WindowCount();

// Pixels of any surface for ReadPixels (implemented with the objects).
std::vector<uint32_t> CopySurfacePixels(IDirect3DSurface9* surface, UINT* width, UINT* height);

}  // namespace kesto::soft_d3d9::internal
