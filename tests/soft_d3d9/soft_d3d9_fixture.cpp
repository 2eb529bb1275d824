#include "soft_d3d9_fixture.h"

#include <cstring>

namespace kesto::soft_d3d9::test {

void SoftD3D9Test::TearDown() {
    EXPECT_EQ(LiveObjects(), 0u) << DescribeLiveObjects();
}

Ref<IDirect3DDevice9> SoftD3D9Test::MakeDevice() {
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 1;
    parameters.BackBufferHeight = 1;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.Windowed = TRUE;
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    const DWORD flags =
        D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MULTITHREADED | D3DCREATE_FPU_PRESERVE;
    IDirect3D9Ex* d3d = nullptr;
    EXPECT_EQ(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d), S_OK);
    if (d3d == nullptr) return nullptr;
    IDirect3DDevice9Ex* device = nullptr;
    EXPECT_EQ(d3d->CreateDeviceEx(0, D3DDEVTYPE_HAL, window, flags, &parameters, nullptr, &device),
              S_OK);
    d3d->Release();
    return Ref<IDirect3DDevice9>(device);
}

Ref<IDirect3DSurface9> SoftD3D9Test::MakeTarget(IDirect3DDevice9* device, UINT width, UINT height,
                                                D3DFORMAT format, BOOL lockable) {
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(device->CreateRenderTarget(width, height, format, D3DMULTISAMPLE_NONE, 0, lockable,
                                         &surface, nullptr),
              S_OK);
    EXPECT_EQ(device->SetRenderTarget(0, surface), S_OK);
    return Ref<IDirect3DSurface9>(surface);
}

Ref<IDirect3DTexture9> SoftD3D9Test::MakeTexture(IDirect3DDevice9* device, UINT width,
                                                 UINT height) {
    IDirect3DTexture9* texture = nullptr;
    EXPECT_EQ(device->CreateTexture(width, height, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture,
                                    nullptr),
              S_OK);
    if (texture == nullptr) return nullptr;
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    for (UINT row = 0; row < height; ++row) {
        auto* line =
            reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(locked.pBits) + row * locked.Pitch);
        for (UINT column = 0; column < width; ++column) line[column] = (row << 12) | column;
    }
    EXPECT_EQ(texture->UnlockRect(0), S_OK);
    return Ref<IDirect3DTexture9>(texture);
}

void SoftD3D9Test::DrawQuad(IDirect3DDevice9* device, float left, float top, float right,
                            float bottom, IDirect3DTexture9* texture) {
    const DWORD white = 0xFFFFFFFFu;
    const Vertex vertices[4] = {{left, top, 0, white, 0, 0},
                                {right, top, 0, white, 1, 0},
                                {left, bottom, 0, white, 0, 1},
                                {right, bottom, 0, white, 1, 1}};
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(sizeof vertices, 0, kVertexFormat, D3DPOOL_DEFAULT,
                                         &buffer, nullptr),
              S_OK);
    Ref<IDirect3DVertexBuffer9> owned(buffer);
    void* bytes = nullptr;
    ASSERT_EQ(buffer->Lock(0, sizeof vertices, &bytes, 0), S_OK);
    std::memcpy(bytes, vertices, sizeof vertices);
    buffer->Unlock();
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
    device->SetFVF(kVertexFormat);
    device->SetTexture(0, texture);
    ASSERT_EQ(device->BeginScene(), S_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    ASSERT_EQ(device->EndScene(), S_OK);
    // Unbind, so that what the test releases goes away at once.
    device->SetTexture(0, nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
}

}  // namespace kesto::soft_d3d9::test
