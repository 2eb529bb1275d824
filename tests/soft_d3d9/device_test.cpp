// Behaviour of the software Direct3D 9 objects and of its control interface that the display
// tests do not reach: lockability, GetRenderTargetData's checks, injected failures. (Device loss
// and the occluded status: renderer_manager_test.)

#include "soft_d3d9_fixture.h"

namespace kesto::soft_d3d9::test {
namespace {

using SoftD3D9DeviceTest = SoftD3D9Test;

TEST_F(SoftD3D9DeviceTest, OnlyLockableSurfacesLockAndRenderTargetsReadBackThroughSystemMemory) {
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
    EXPECT_EQ(ReadBack(device.get(), lockable.get())[1 * 8 + 2], 0xFFABCDEFu);

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
    EXPECT_EQ(ReadBack(device.get(), hidden.get())[0], 0xFF445566u);
}

TEST_F(SoftD3D9DeviceTest, InjectedFailuresHitTheNamedCallsOnly) {
    auto device = MakeDevice();
    IDirect3DTexture9* raw = nullptr;
    FailNextCall("CreateTexture", E_OUTOFMEMORY);
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &raw, nullptr),
              E_OUTOFMEMORY);
    EXPECT_EQ(raw, nullptr);
    EXPECT_TRUE(CreatedTextures().empty());
    EXPECT_EQ(CallCount("IDirect3DDevice9::CreateTexture"), 1u);

    // A qualified name singles out one interface's method of that name.
    auto target = MakeTarget(device.get(), 8, 8, D3DFMT_X8R8G8B8, TRUE);
    FailNextCall("IDirect3DTexture9::LockRect", D3DERR_WASSTILLDRAWING);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(target->LockRect(&locked, nullptr, 0), S_OK);
    target->UnlockRect();
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &raw, nullptr),
              S_OK);
    Ref<IDirect3DTexture9> texture(raw);
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_WASSTILLDRAWING);

    // Queued failures come one after another; a negative count lasts until Reset.
    FailNextCall("BeginScene", E_FAIL, 2);
    FailNextCall("BeginScene", D3DERR_DEVICELOST);
    for (HRESULT expected : {E_FAIL, E_FAIL, D3DERR_DEVICELOST, S_OK}) {
        EXPECT_EQ(device->BeginScene(), expected);
    }
    EXPECT_EQ(device->EndScene(), S_OK);
    FailNextCall("Direct3DCreate9", E_FAIL, -1);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    Reset();
    Ref<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
    EXPECT_NE(d3d, nullptr);
}

}  // namespace
}  // namespace kesto::soft_d3d9::test
