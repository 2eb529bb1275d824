// Shared between the files of the software Direct3D 9: the process-wide state behind the control
// interface, reached only through these functions so that every access holds its mutex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/soft_d3d9/soft_d3d9_control.h"

namespace kesto::soft_d3d9::internal {

// Counts one call of `interfaceName::method` and returns the failure injected for it (qualified
// name first, then the plain one), or S_OK.
HRESULT EnterCall(const char* interfaceName, const char* method);

struct Configuration {
    std::vector<RECT> monitors;
    bool extendedAvailable = true;
    bool hardwareTransform = true;
    bool dynamicTextures = true;
    bool pow2Textures = false;
    std::vector<D3DMULTISAMPLE_TYPE> multisampleTypes;
};
Configuration CurrentConfiguration();
void FillCaps(const Configuration& configuration, UINT adapter, D3DCAPS9* caps);
HMONITOR MonitorHandle(UINT index);

// Live-object registry behind LiveObjects/DescribeLiveObjects.
void RegisterObject(const void* object, std::string description);
void UnregisterObject(const void* object);

// Devices register so that SetDeviceState reaches them.
class DeviceStateSink {
  public:
    virtual void SetState(HRESULT code) = 0;

  protected:
    ~DeviceStateSink() = default;
};
void RegisterDevice(DeviceStateSink* device);
void UnregisterDevice(DeviceStateSink* device);

void RecordDevice(const DeviceRecord& record);
void RecordRenderTarget(const RenderTargetRecord& record);
void RecordTexture(const TextureRecord& record);

// Focus windows.
bool RegisterWindowClass();
bool UnregisterWindowClass();
HWND CreateWindow();
bool DestroyWindow(HWND window);

// Pixels of any surface for ReadPixels (implemented with the objects).
std::vector<uint32_t> CopySurfacePixels(IDirect3DSurface9* surface, UINT* width, UINT* height);

}  // namespace kesto::soft_d3d9::internal
