// CRenderer: the device of one adapter, made the same way for every renderer.
#include "display/renderer.h"

namespace kesto {

namespace {

// 0x46 / 0x26: MULTITHREADED because the worker uploads while the host's thread draws on
// the same device; FPU_PRESERVE because Direct3D would otherwise switch the calling
// thread's FPU to single precision, and the host's (managed) code on that thread relies on
// doubles.
constexpr DWORD kHardwareBehaviour =
    D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED | D3DCREATE_FPU_PRESERVE;
constexpr DWORD kSoftwareBehaviour =
    D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED | D3DCREATE_FPU_PRESERVE;

}  // namespace

CRenderer::~CRenderer() {
    ReleaseInterface(device);
    ReleaseInterface(deviceEx);
    ReleaseInterface(surface);
}

HRESULT CRenderer::Initialize(IDirect3D9* d3d, IDirect3D9Ex* d3dEx, HWND window, unsigned adapter) {
    D3DCAPS9 caps = {};
    HRESULT hr = d3d->GetDeviceCaps(adapter, D3DDEVTYPE_HAL, &caps);
    if (FAILED(hr)) return hr;
    const DWORD behaviour = (caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT) != 0
                                ? kHardwareBehaviour
                                : kSoftwareBehaviour;

    // The device's own back buffer is never drawn to (drawing goes to the manager's render
    // target), so it is the smallest possible, with no window and no depth buffer.
    D3DPRESENT_PARAMETERS parameters = {};
    parameters.BackBufferWidth = 1;
    parameters.BackBufferHeight = 1;
    parameters.BackBufferFormat = D3DFMT_UNKNOWN;
    parameters.BackBufferCount = 0;
    parameters.MultiSampleType = D3DMULTISAMPLE_NONE;
    parameters.MultiSampleQuality = 0;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = nullptr;
    parameters.Windowed = TRUE;
    parameters.EnableAutoDepthStencil = FALSE;
    parameters.AutoDepthStencilFormat = D3DFMT_UNKNOWN;
    parameters.Flags = 0;
    parameters.FullScreen_RefreshRateInHz = 0;
    parameters.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;

    if (d3dEx != nullptr) {
        hr = d3dEx->CreateDeviceEx(adapter, D3DDEVTYPE_HAL, window, behaviour, &parameters, nullptr,
                                   &deviceEx);
        if (SUCCEEDED(hr)) {
            hr = deviceEx->QueryInterface(IID_IDirect3DDevice9, reinterpret_cast<void**>(&device));
        }
        return hr;
    }
    return d3d->CreateDevice(adapter, D3DDEVTYPE_HAL, window, behaviour, &parameters, &device);
}

}  // namespace kesto
