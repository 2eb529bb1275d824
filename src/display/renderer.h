// CRenderer: what the display state asks of a renderer. One renderer per display adapter;
// the active one receives frames and snapshot requests. The base class owns the adapter's
// device and the render-target surface and knows how to create the device; the drawing is
// the concrete renderer's (CStreamRenderer, stream_renderer.h).
//
// Every operation is called with the display manager's lock held: Render on the host's
// thread, ResizeTexture, UploadFrame and SaveSnapshot on the stream worker thread. That lock
// guards every field here and in the concrete renderers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/d3d9_api.h"
#include "platform/file_system.h"

namespace kesto {

// Releases a COM interface held in `pointer` (if any) and clears the pointer.
template <typename Interface>
void ReleaseInterface(Interface*& pointer) {
    if (pointer != nullptr) {
        pointer->Release();
        pointer = nullptr;
    }
}

class CRenderer {
  public:
    CRenderer() = default;
    CRenderer(const CRenderer&) = delete;
    CRenderer& operator=(const CRenderer&) = delete;
    // Releases device, deviceEx and surface, in this order.
    virtual ~CRenderer();

    // Draws into the device's render target 0 (the manager's surface).
    virtual HRESULT Render() = 0;
    // Makes the frame texture anew at this size.
    virtual HRESULT ResizeTexture(unsigned width, unsigned height) = 0;
    virtual void SaveSnapshot(platform::HostPath path) = 0;
    // Copies a frame of side x side pixels (4 bytes each, rows packed) into the texture. The
    // side travels with the pixels so that an upload never reads beyond the frame, whatever
    // size the texture has at that moment (a failed resize keeps the old one).
    virtual void UploadFrame(const uint8_t* pixels, unsigned side, double azimuth) = 0;
    // Creates the adapter's device (`d3dEx` may be null: then a plain device).
    virtual HRESULT Initialize(IDirect3D9* d3d, IDirect3D9Ex* d3dEx, HWND window, unsigned adapter);

    // Owned interface pointers (one reference each), null until created. The manager
    // replaces `surface` whenever the surface settings change.
    IDirect3DDevice9* device = nullptr;
    IDirect3DDevice9Ex* deviceEx = nullptr;  // null when made without the extended object
    IDirect3DSurface9* surface = nullptr;

    // Display values pushed by the display state with a frame and read by the drawing.
    double rotationOffset = 0.0;
    double zoomFactor = 1.0;
};

}  // namespace kesto
