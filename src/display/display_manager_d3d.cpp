// The Direct3D side of CDisplayManager: the Direct3D object, one stream renderer per adapter
// with its own device, the hidden focus window, and the render-target surfaces the host
// composes. Only GetBackBufferNoRef creates anything and only it (and SetAdapter) notices a
// lost device; recovery is always a full rebuild.
#include <memory>

#include "display/display_manager.h"
#include "display/stream_renderer.h"
#include "platform/display_system.h"

namespace kesto {

namespace {

constexpr DWORD kSurfaceUsage = D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC;

// A lost device is no error to the host: it asks again later and gets a rebuilt display.
HRESULT HostResult(HRESULT hr) {
    return hr == D3DERR_DEVICELOST ? S_OK : hr;
}

}  // namespace

std::unique_ptr<CRenderer> MakeStreamRenderer() {
    return std::make_unique<CStreamRenderer>();
}

CDisplayManager::~CDisplayManager() {
    ReleaseEverything();
    DestroyHiddenWindow();
}

void CDisplayManager::ReleaseDisplay() {
    std::lock_guard<std::mutex> guard(lock);
    ReleaseEverything();
    DestroyHiddenWindow();
}

// ---------------------------------------------------------------------------------------------
// Settings

void CDisplayManager::SetSize(unsigned width, unsigned height) {
    std::lock_guard<std::mutex> guard(lock);
    if (width == surfaceWidth && height == surfaceHeight) return;
    surfaceWidth = width;
    surfaceHeight = height;
    surfacesStale = true;
}

void CDisplayManager::SetAlpha(bool alpha) {
    std::lock_guard<std::mutex> guard(lock);
    if (alpha == alphaEnabled) return;
    alphaEnabled = alpha;
    surfacesStale = true;
}

void CDisplayManager::SetNumDesiredSamples(unsigned samples) {
    std::lock_guard<std::mutex> guard(lock);
    if (samples == desiredSamples) return;
    desiredSamples = samples;
    surfacesStale = true;
}

void CDisplayManager::SetAdapter(POINT point) {
    std::lock_guard<std::mutex> guard(lock);
    DropLostDevices();
    if (d3d == nullptr || !adapterRenderers) return;
    const HMONITOR monitor = platform::MonitorFromScreenPoint(point);
    // Off every monitor: keep drawing where we draw now.
    if (monitor == nullptr) return;
    for (unsigned adapter = 0; adapter < adapterCount; ++adapter) {
        if (d3d->GetAdapterMonitor(adapter) != monitor) continue;
        if (adapterRenderers[adapter]) activeRenderer = adapterRenderers[adapter].get();
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// Drawing

HRESULT CDisplayManager::Render() {
    std::lock_guard<std::mutex> guard(lock);
    if (activeRenderer == nullptr) return S_OK;
    return HostResult(activeRenderer->Render());
}

// ---------------------------------------------------------------------------------------------
// Surfaces

HRESULT CDisplayManager::GetBackBufferNoRef(IDirect3DSurface9** out) {
    std::lock_guard<std::mutex> guard(lock);
    *out = nullptr;
    DropLostDevices();

    HRESULT hr = S_OK;
    if (d3d == nullptr) {
        hr = CreateDirect3D();
        if (FAILED(hr)) return HostResult(hr);
    }
    if (!adapterRenderers) {
        hr = CreateRenderers();
        if (FAILED(hr)) return HostResult(hr);
    }
    if (surfacesStale) {
        const D3DFORMAT format = alphaEnabled ? D3DFMT_A8R8G8B8 : D3DFMT_X8R8G8B8;
        hr = CheckSurfaceSupport(format);
        if (FAILED(hr)) return HostResult(hr);
        hr = CreateSurfaces(format);
        if (FAILED(hr)) return HostResult(hr);
        surfacesStale = false;
    }
    // Handed out without a reference: the host's D3DImage takes its own, and the renderer
    // keeps the surface alive until the next rebuild, which the host learns of only through
    // the different surface it then receives.
    if (activeRenderer != nullptr) *out = activeRenderer->surface;
    return HostResult(hr);
}

// Only GetBackBufferNoRef and SetAdapter come here, so a loss is noticed when the host asks
// for the surface; every renderer is checked because any of them may become the active one.
// A renderer that failed to initialize counts as lost: the whole set is made anew.
void CDisplayManager::DropLostDevices() {
    if (!adapterRenderers) return;
    for (unsigned adapter = 0; adapter < adapterCount; ++adapter) {
        const CRenderer* renderer = adapterRenderers[adapter].get();
        HRESULT state = E_FAIL;
        if (renderer != nullptr && renderer->deviceEx != nullptr) {
            // Positive status codes (occluded, mode changed) leave the device usable.
            state = renderer->deviceEx->CheckDeviceState(nullptr);
        } else if (renderer != nullptr && renderer->device != nullptr) {
            state = renderer->device->TestCooperativeLevel();
        }
        if (FAILED(state)) {
            ReleaseEverything();
            return;
        }
    }
}

// The extended object where the runtime offers it (its devices survive what loses a plain
// device, and they can share surfaces with the host's compositor); the plain one otherwise.
HRESULT CDisplayManager::CreateDirect3D() {
    if (runtime.module == nullptr) runtime = platform::LoadDirect3DRuntime();
    HRESULT hr = S_OK;
    if (runtime.create9Ex != nullptr) {
        hr = runtime.create9Ex(D3D_SDK_VERSION, &d3dEx);
        if (SUCCEEDED(hr)) {
            hr = d3dEx->QueryInterface(IID_IDirect3D9, reinterpret_cast<void**>(&d3d));
            // Without the plain interface the next call starts over; keep nothing half made.
            if (FAILED(hr)) {
                d3d = nullptr;
                ReleaseInterface(d3dEx);
            }
        }
    } else {
        d3d = runtime.create9 != nullptr ? runtime.create9(D3D_SDK_VERSION) : nullptr;
        if (d3d == nullptr) hr = E_FAIL;
    }
    if (SUCCEEDED(hr)) {
        adapterCount = d3d->GetAdapterCount();
    } else {
        platform::ReleaseDirect3DRuntime(runtime);  // nothing was made through it
    }
    return hr;
}

// On a failing Initialize the renderers made so far stay, the later entries stay empty and
// there is no active renderer; the set counts as made, and the next GetBackBufferNoRef or
// SetAdapter finds the empty entry, releases everything and starts over. Frames meanwhile
// are dropped with their changes kept (DeliverFrame skips empty entries).
HRESULT CDisplayManager::CreateRenderers() {
    if (window == nullptr) {
        if (!platform::RegisterFocusWindowClass()) return E_FAIL;
        window = platform::CreateFocusWindow();
    }
    adapterRenderers = std::make_unique<std::unique_ptr<CRenderer>[]>(adapterCount);
    HRESULT hr = S_OK;
    for (unsigned adapter = 0; adapter < adapterCount; ++adapter) {
        std::unique_ptr<CRenderer> renderer = makeRenderer();
        hr = renderer->Initialize(d3d, d3dEx, window, adapter);
        if (FAILED(hr)) return hr;
        adapterRenderers[adapter] = std::move(renderer);
    }
    activeRenderer = adapterCount != 0 ? adapterRenderers[0].get() : nullptr;
    // New renderers start with a 1024 x 1024 texture while the frames may have any size:
    // resizing with the next frame makes even that first frame show whole.
    pendingChanges |= FrameSizeChanged;
    return hr;
}

// Every adapter must take the format before any surface is replaced, so that a refusal
// leaves the host's current surfaces alone. An unsupported multisample count is no error:
// it drops to none and stays there until the host asks for another.
HRESULT CDisplayManager::CheckSurfaceSupport(D3DFORMAT format) {
    for (unsigned adapter = 0; adapter < adapterCount; ++adapter) {
        if (FAILED(d3d->CheckDeviceType(adapter, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, format, TRUE)))
            return E_FAIL;
        if (FAILED(d3d->CheckDeviceFormat(adapter, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, kSurfaceUsage,
                                          D3DRTYPE_SURFACE, format)))
            return E_FAIL;
        // Plain devices cannot hand a multisampled surface to the host's compositor. Counts
        // beyond the largest type are refused here rather than passed on as a type that
        // does not exist.
        if (d3dEx == nullptr || desiredSamples <= 1 ||
            desiredSamples > static_cast<unsigned>(D3DMULTISAMPLE_16_SAMPLES)) {
            desiredSamples = 0;
        } else if (FAILED(d3d->CheckDeviceMultiSampleType(
                       adapter, D3DDEVTYPE_HAL, format, TRUE,
                       static_cast<D3DMULTISAMPLE_TYPE>(desiredSamples), nullptr))) {
            desiredSamples = 0;
        }
    }
    return S_OK;
}

// Lockable only on plain devices: there the host reads the surface back through the CPU,
// while an extended device shares it with the compositor directly.
HRESULT CDisplayManager::CreateSurfaces(D3DFORMAT format) {
    HRESULT hr = S_OK;
    for (unsigned adapter = 0; adapter < adapterCount; ++adapter) {
        CRenderer& renderer = *adapterRenderers[adapter];
        ReleaseInterface(renderer.surface);
        hr = renderer.device->CreateRenderTarget(
            surfaceWidth, surfaceHeight, format, static_cast<D3DMULTISAMPLE_TYPE>(desiredSamples),
            0, renderer.deviceEx == nullptr ? TRUE : FALSE, &renderer.surface, nullptr);
        if (FAILED(hr)) return hr;
        hr = renderer.device->SetRenderTarget(0, renderer.surface);
        if (FAILED(hr)) return hr;
    }
    return hr;
}

// ---------------------------------------------------------------------------------------------
// Release

void CDisplayManager::ReleaseEverything() {
    ReleaseInterface(d3d);
    ReleaseInterface(d3dEx);
    if (adapterRenderers) {
        for (unsigned adapter = 0; adapter < adapterCount; ++adapter)
            adapterRenderers[adapter].reset();
    }
    adapterRenderers.reset();
    activeRenderer = nullptr;
    adapterCount = 0;
    surfacesStale = true;
    // Only now that the last object made through it is gone.
    platform::ReleaseDirect3DRuntime(runtime);
}

// The window belongs to the thread that made it (the host's thread in GetBackBufferNoRef);
// Windows destroys it only from that thread.
void CDisplayManager::DestroyHiddenWindow() {
    if (window == nullptr) return;
    platform::DestroyFocusWindow(window);
    window = nullptr;
}

}  // namespace kesto
