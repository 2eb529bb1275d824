// CStreamRenderer: keeps the latest frame in a texture and draws it into the manager's
// render target as a square turned by (pi/2 - azimuth + rotation offset) and scaled by
// sqrt(2) * zoom, which shows the frame transposed (rows left to right, columns top to
// bottom) and always covers the whole target.
//
// Threads: every operation runs with the display manager's lock held (Render on the host's
// thread, the others on the stream worker); that lock guards every field.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "display/renderer.h"

namespace kesto {

class CStreamRenderer : public CRenderer {
  public:
    CStreamRenderer() = default;
    // Releases vertexBuffer and texture, then the base releases the device.
    ~CStreamRenderer() override;

    HRESULT Render() override;
    HRESULT ResizeTexture(unsigned width, unsigned height) override;
    void SaveSnapshot(platform::HostPath path) override;
    void UploadFrame(const uint8_t* pixels, unsigned side, double azimuth) override;
    // Creates the device, the square, the fixed camera and a 1024 x 1024 texture.
    HRESULT Initialize(IDirect3D9* d3d, IDirect3D9Ex* d3dEx, HWND window,
                       unsigned adapter) override;

    double azimuth = 0.0;  // of the frame on display; a NaN never gets here
    IDirect3DVertexBuffer9* vertexBuffer = nullptr;
    IDirect3DTexture9* texture = nullptr;
    // Whether textures go to the default pool as dynamic ones (else the managed pool); set
    // from the device's capabilities by every ResizeTexture.
    bool dynamicTextures = true;
    // Size of `texture`; 0 while there is no usable texture.
    unsigned textureWidth = 0;
    unsigned textureHeight = 0;

  private:
    bool textureIsDynamic = false;  // how `texture` was made: only dynamic ones may be discarded

    HRESULT DrawScene(float scale, float angle);
    HRESULT CreateSquare();
    HRESULT SetFixedState();
    HRESULT CreateTexture(unsigned width, unsigned height);
    HRESULT TextureLevelFormat(D3DFORMAT& format);
};

// Copies a frame of side x side pixels (rows of 4 * side bytes, packed) into a locked level of
// width x height pixels whose rows are `pitch` bytes apart: one block copy when frame and
// level match and the rows are packed; otherwise row by row, the overlap of frame and level
// copied and the rest of the level blacked out (a discarded level holds garbage). Never
// reads more than side * side * 4 bytes of the frame nor writes outside the level.
void CopyFrameToLevel(const uint8_t* pixels, unsigned side, uint8_t* bits, std::size_t pitch,
                      unsigned width, unsigned height);

}  // namespace kesto
