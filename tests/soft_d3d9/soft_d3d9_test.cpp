// The software Direct3D 9 on its own: the pixel rules that the display's pictures do not pin
// down (where texel edges and pixel centres fall), and behaviour of its objects that the
// display tests do not reach: lockability and GetRenderTargetData's checks. (The camera,
// turns and zoom: the display's picture tests; device loss, the occluded status and injected
// failures: renderer_manager_test.)
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/d3d9_api.h"
#include "platform/soft_d3d9/soft_d3d9_control.h"

namespace kesto::soft_d3d9 {
namespace {

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
    void TearDown() override { EXPECT_EQ(LiveObjects(), 0u) << DescribeLiveObjects(); }
};

// A device on an extended Direct3D object, made the way the display makes it.
Ref<IDirect3DDevice9> MakeDevice() {
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

Ref<IDirect3DSurface9> MakeTarget(IDirect3DDevice9* device, UINT width, UINT height,
                                  D3DFORMAT format = D3DFMT_X8R8G8B8, BOOL lockable = FALSE) {
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(device->CreateRenderTarget(width, height, format, D3DMULTISAMPLE_NONE, 0, lockable,
                                         &surface, nullptr),
              S_OK);
    EXPECT_EQ(device->SetRenderTarget(0, surface), S_OK);
    return Ref<IDirect3DSurface9>(surface);
}

// A managed X8R8G8B8 texture whose texel at (column, row) is (row << 12) | column.
Ref<IDirect3DTexture9> MakeTexture(IDirect3DDevice9* device, UINT width, UINT height) {
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

// Draws a quad with corners at normalized device coordinates (left, top) and (right, bottom),
// texture coordinates 0..1, with the display's states (no culling, no lighting).
void DrawQuad(IDirect3DDevice9* device, float left, float top, float right, float bottom,
              IDirect3DTexture9* texture) {
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

// A full-target textured quad: each pixel samples exactly on the boundary between two texels
// (Direct3D 9 puts pixel centres on integer coordinates), and the sub-texel resolution must
// still pick texel i. An untextured quad from screen x 0.75 to 4.25 and y 0.75 to 3.25 covers
// the pixel centres 1..4 across and 1..3 down; centres at i + 0.5 would give 1..3 and 1..2.
TEST_F(SoftD3D9Test, TexelsAndPixelCentresLieOnIntegerScreenCoordinates) {
    const struct {
        UINT width, height;
        bool textured;
        double left, top, right, bottom;  // screen pixels
    } cases[] = {{64, 64, true, 0, 0, 64, 64},
                 {40, 24, true, 0, 0, 40, 24},
                 {1024, 1024, true, 0, 0, 1024, 1024},
                 {16, 16, false, 0.75, 0.75, 4.25, 3.25}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        auto device = MakeDevice();
        auto target = MakeTarget(device.get(), c.width, c.height);
        auto texture = MakeTexture(device.get(), c.width, c.height);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        auto x = [&](double screen) { return static_cast<float>(screen / c.width * 2 - 1); };
        auto y = [&](double screen) { return static_cast<float>(1 - screen / c.height * 2); };
        DrawQuad(device.get(), x(c.left), y(c.top), x(c.right), y(c.bottom),
                 c.textured ? texture.get() : nullptr);
        const auto pixels = ReadPixels(target.get());
        int mismatches = 0;
        for (UINT row = 0; row < c.height; ++row) {
            for (UINT column = 0; column < c.width; ++column) {
                const bool inside =
                    c.textured || (column >= 1 && column <= 4 && row >= 1 && row <= 3);
                const uint32_t expected = 0xFF000000u | (!inside      ? 0
                                                         : c.textured ? (row << 12) | column
                                                                      : 0xFFFFFFu);
                if (pixels[row * c.width + column] != expected && ++mismatches <= 5) {
                    ADD_FAILURE() << "pixel (" << column << ", " << row << "): " << std::hex
                                  << pixels[row * c.width + column] << " expected " << expected;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(SoftD3D9Test, OnlyLockableSurfacesLockAndRenderTargetsReadBackThroughSystemMemory) {
    auto device = MakeDevice();
    auto hidden = MakeTarget(device.get(), 8, 4, D3DFMT_X8R8G8B8, FALSE);
    auto lockable = MakeTarget(device.get(), 8, 4, D3DFMT_X8R8G8B8, TRUE);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(lockable->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
    EXPECT_EQ(lockable->LockRect(&locked, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
    EXPECT_EQ(lockable->UnlockRect(), S_OK);
    EXPECT_EQ(lockable->UnlockRect(), D3DERR_INVALIDCALL);
    const RECT part{2, 1, 4, 3};
    ASSERT_EQ(lockable->LockRect(&locked, &part, 0), S_OK);
    static_cast<uint32_t*>(locked.pBits)[0] = 0xFFABCDEFu;
    lockable->UnlockRect();
    EXPECT_EQ(ReadPixels(lockable.get())[1 * 8 + 2], 0xFFABCDEFu);

    // GetRenderTargetData wants a system-memory surface of the same size and format, from a
    // target without multisampling.
    IDirect3DSurface9* raw = nullptr;
    ASSERT_EQ(device->CreateRenderTarget(8, 4, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_4_SAMPLES, 0, FALSE,
                                         &raw, nullptr),
              S_OK);
    Ref<IDirect3DSurface9> multisampled(raw);
    const struct {
        UINT width, height;
        D3DFORMAT format;
        D3DPOOL pool;
        IDirect3DSurface9* source;
    } destinations[] = {{8, 4, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, hidden.get()},
                        {4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, hidden.get()},
                        {8, 2, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, hidden.get()},
                        {8, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, hidden.get()},
                        {8, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, multisampled.get()}};
    for (const auto& d : destinations) {
        ASSERT_EQ(
            device->CreateOffscreenPlainSurface(d.width, d.height, d.format, d.pool, &raw, nullptr),
            S_OK);
        Ref<IDirect3DSurface9> wrong(raw);
        EXPECT_EQ(device->GetRenderTargetData(d.source, raw), D3DERR_INVALIDCALL);
    }
    device->SetRenderTarget(0, hidden.get());
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF445566u, 1.0f, 0);
    EXPECT_EQ(ReadPixels(hidden.get())[0], 0xFF445566u);
}

}  // namespace
}  // namespace kesto::soft_d3d9
