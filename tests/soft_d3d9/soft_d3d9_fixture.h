// Helpers for tests of the software Direct3D 9: owning pointers, a device with a render target,
// textured quads, and the pixels of a render target.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3d9_api.h"
#include "platform/soft_d3d9/soft_d3d9_control.h"

namespace kesto::soft_d3d9::test {

struct Releaser {
    void operator()(IUnknown* object) const {
        if (object != nullptr) object->Release();
    }
};
template <class T>
using Ref = std::unique_ptr<T, Releaser>;

// The display's vertex: D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1.
struct Vertex {
    float x, y, z;
    DWORD diffuse;
    float u, v;
};
constexpr DWORD kVertexFormat = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

// Every test starts from the defaults and must leave no object behind.
class SoftD3D9Test : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override;

    // A device on an extended Direct3D object, made the way the display makes it.
    Ref<IDirect3DDevice9> MakeDevice();
    Ref<IDirect3DSurface9> MakeTarget(IDirect3DDevice9* device, UINT width, UINT height,
                                      D3DFORMAT format = D3DFMT_X8R8G8B8, BOOL lockable = FALSE);
    // A managed X8R8G8B8 texture whose texel at (column, row) is (row << 12) | column.
    Ref<IDirect3DTexture9> MakeTexture(IDirect3DDevice9* device, UINT width, UINT height);
    // Draws a quad with corners at normalized device coordinates (left, top) and (right,
    // bottom), texture coordinates 0..1, with the display's states (no culling, no lighting).
    void DrawQuad(IDirect3DDevice9* device, float left, float top, float right, float bottom,
                  IDirect3DTexture9* texture);
    // The render target's pixels (GetRenderTargetData itself: device_test).
    static std::vector<uint32_t> ReadBack(IDirect3DDevice9*, IDirect3DSurface9* target) {
        return ReadPixels(target);
    }
};

}  // namespace kesto::soft_d3d9::test
