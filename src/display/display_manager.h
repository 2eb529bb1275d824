// CDisplayManager: the process-wide display state where the host's display settings, the
// values that reach the renderers with the next frame, and the renderers themselves meet;
// and its Direct3D side (display_manager_d3d.cpp): the Direct3D object, one renderer per
// adapter, the hidden focus window and the render-target surfaces handed to the host.
//
// Threads: host threads (display and pass-through exports) and the stream worker
// (DeliverFrame). Every field is private and guarded by `lock`, which each operation holds
// from start to end, Direct3D calls included; the host's message callback runs inside
// DeliverFrame with it held, so a callback must not call display exports synchronously.
// Lock order: the singleton's own mutex (display_manager.cpp) may be held while taking
// `lock` (DestroyDisplayManager), never the other way round.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "display/renderer.h"
#include "platform/d3d9_api.h"
#include "platform/display_system.h"

namespace kesto {

enum PendingChange : uint32_t {
    FrameSizeChanged = 0x01,
    RotationOffsetChanged = 0x04,
    ZoomFactorChanged = 0x08,
    SnapshotRequested = 0x10,
};

// Makes the renderer of one adapter, not yet initialized. The display's own is the stream
// renderer; tests hand in one that records what the display asks of it.
using RendererFactory = std::function<std::unique_ptr<CRenderer>()>;
std::unique_ptr<CRenderer> MakeStreamRenderer();

class CDisplayManager {
  public:
    explicit CDisplayManager(RendererFactory makeRenderer = MakeStreamRenderer);
    CDisplayManager(const CDisplayManager&) = delete;
    CDisplayManager& operator=(const CDisplayManager&) = delete;
    // Releases whatever Direct3D objects, renderers and window are left.
    ~CDisplayManager();

    // -- Direct3D side, display_manager_d3d.cpp. Host threads.

    // Surface settings: stored, and the surfaces marked stale, only when they change.
    void SetSize(unsigned width, unsigned height);
    void SetAlpha(bool alpha);
    void SetNumDesiredSamples(unsigned samples);
    // Makes the renderer of the adapter whose monitor holds `point` the active one; a point
    // on no monitor changes nothing. Drops lost devices first.
    void SetAdapter(POINT point);
    // Creates whatever is missing (Direct3D object, renderers, surfaces), applies new surface
    // settings, recovers from device loss, and hands out the active renderer's surface
    // without a reference. D3DERR_DEVICELOST comes back as S_OK with a null surface.
    HRESULT GetBackBufferNoRef(IDirect3DSurface9** surface);
    // The active renderer draws; S_OK without one. D3DERR_DEVICELOST comes back as S_OK.
    HRESULT Render();
    // Ends the display: the Direct3D objects, the renderers and the window go.
    void ReleaseDisplay();

    // -- Frame hand-off, display_manager.cpp.

    // Host-side writers of the values the renderers take with the next frame: each stores
    // and sets its pending bit. Any thread.
    void SetRotationOffset(double offset);
    void SetZoomFactor(double zoom);  // clamps first
    // Replaces the snapshot path; the bit is set on every request.
    void RequestSnapshot(platform::HostPath path);

    // Hands over a frame of side x side pixels. A side other than the frame size noticed
    // last sets FrameSizeChanged; pending changes then reach the renderers (the only place
    // where textures are resized) and the active renderer uploads the frame. Without
    // renderers the frame is dropped and the pending bits stay. Worker thread.
    void DeliverFrame(const uint8_t* pixels, unsigned side, double azimuth);

  private:
    void DropLostDevices();
    HRESULT CreateDirect3D();
    HRESULT CreateRenderers();
    HRESULT CheckSurfaceSupport(D3DFORMAT format);
    HRESULT CreateSurfaces(D3DFORMAT format);
    // Releases the Direct3D objects and the renderers; the window, the settings and the
    // values waiting for the next frame stay.
    void ReleaseEverything();
    void DestroyHiddenWindow();

    const RendererFactory makeRenderer;
    std::mutex lock;

    // -- protected by lock: everything below.
    // The Direct3D runtime module, held from the creation of `d3d` until every object made
    // through it has been released (ReleaseEverything). Direct3D objects do not keep their
    // module loaded: a host that does not use Direct3D itself would otherwise lose d3d9.dll
    // under the live objects as soon as the library let go of its handle.
    platform::Direct3DRuntime runtime;
    IDirect3D9* d3d = nullptr;      // owned; one reference
    IDirect3D9Ex* d3dEx = nullptr;  // owned; null where the extended object is not offered
    unsigned adapterCount = 0;
    // adapterCount entries once made, index = adapter ordinal; an entry is empty only after
    // a renderer failed to initialize (then the next GetBackBufferNoRef starts over).
    std::unique_ptr<std::unique_ptr<CRenderer>[]> adapterRenderers;
    CRenderer* activeRenderer = nullptr;  // points into the above
    HWND window = nullptr;                // the hidden focus window; outlives rebuilds
    unsigned surfaceWidth = 1024;
    unsigned surfaceHeight = 1024;
    unsigned frameWidth = 512;
    unsigned frameHeight = 512;
    unsigned desiredSamples = 0;
    double rotationOffset = 0.0;
    double zoomFactor = 0.0;
    bool alphaEnabled = false;
    bool surfacesStale = true;
    platform::HostPath snapshotPath;
    uint32_t pendingChanges = 0;
};

// The singleton, created with its initial values on first use. Shared ownership keeps an
// instance alive for a caller that is still using it when the display is released.
std::shared_ptr<CDisplayManager> GetDisplayManager();
// Ends the display (DestroyD3D): the singleton is taken out, so that the next
// GetDisplayManager makes a fresh one, and released under its lock, so that a frame being
// delivered at that moment (whose caller still holds the old manager) finishes first and then
// finds no renderers. Nothing happens without a manager. Host thread; not from inside a
// callback.
void DestroyDisplayManager();

}  // namespace kesto
