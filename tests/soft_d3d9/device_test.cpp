// Behaviour of the software Direct3D 9 objects and of its control interface: what the display
// relies on (creation rules, lockability, readback, device loss, injected failures, reference
// counts, the window and monitor layer).
#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/display_system.h"
#include "soft_d3d9_fixture.h"

namespace kesto::soft_d3d9::test {
namespace {

using SoftD3D9DeviceTest = SoftD3D9Test;

IDirect3DDevice9Ex* AsEx(IDirect3DDevice9* device) {
    IDirect3DDevice9Ex* deviceEx = nullptr;
    EXPECT_EQ(device->QueryInterface(IID_IDirect3DDevice9Ex, reinterpret_cast<void**>(&deviceEx)),
              S_OK);
    return deviceEx;
}

TEST_F(SoftD3D9DeviceTest, ExtendedObjectIsOfferedOnlyWhenSwitchedOn) {
    auto runtime = platform::LoadDirect3DRuntime();
    EXPECT_NE(runtime.create9, nullptr);
    EXPECT_NE(runtime.create9Ex, nullptr);
    platform::ReleaseDirect3DRuntime(runtime);

    SetExtendedAvailable(false);
    runtime = platform::LoadDirect3DRuntime();
    EXPECT_EQ(runtime.create9Ex, nullptr);
    ASSERT_NE(runtime.create9, nullptr);
    IDirect3D9Ex* extended = nullptr;
    EXPECT_EQ(Direct3DCreate9Ex(D3D_SDK_VERSION, &extended), D3DERR_NOTAVAILABLE);
    EXPECT_EQ(extended, nullptr);

    // The plain object does not turn into the extended one, nor do its devices.
    Ref<IDirect3D9> d3d(runtime.create9(D3D_SDK_VERSION));
    ASSERT_NE(d3d, nullptr);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(d3d->QueryInterface(IID_IDirect3D9Ex, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    auto device = MakeDevice(false);
    EXPECT_EQ(device->QueryInterface(IID_IDirect3DDevice9Ex, &out), E_NOINTERFACE);
    EXPECT_EQ(Direct3DCreate9(31), nullptr);
    platform::ReleaseDirect3DRuntime(runtime);
    EXPECT_EQ(runtime.module, nullptr);
}

TEST_F(SoftD3D9DeviceTest, AdaptersFollowTheMonitorRectangles) {
    SetAdapterMonitors({RECT{0, 0, 1920, 1080}, RECT{1920, 0, 3200, 1024}});
    IDirect3D9Ex* raw = nullptr;
    ASSERT_EQ(Direct3DCreate9Ex(D3D_SDK_VERSION, &raw), S_OK);
    Ref<IDirect3D9Ex> d3d(raw);
    ASSERT_EQ(d3d->GetAdapterCount(), 2u);
    EXPECT_EQ(d3d->GetAdapterMonitor(0), platform::MonitorFromScreenPoint(POINT{10, 10}));
    EXPECT_EQ(d3d->GetAdapterMonitor(1), platform::MonitorFromScreenPoint(POINT{1920, 1023}));
    EXPECT_NE(d3d->GetAdapterMonitor(0), d3d->GetAdapterMonitor(1));
    EXPECT_EQ(d3d->GetAdapterMonitor(2), nullptr);
    EXPECT_EQ(AdapterMonitor(1), d3d->GetAdapterMonitor(1));
    // Right and bottom edges belong to no monitor; nor does anything off the desktop.
    EXPECT_EQ(platform::MonitorFromScreenPoint(POINT{3200, 5}), nullptr);
    EXPECT_EQ(platform::MonitorFromScreenPoint(POINT{100, 1080}), nullptr);
    EXPECT_EQ(platform::MonitorFromScreenPoint(POINT{-1, 0}), nullptr);
    // An existing object keeps the adapters it was made with.
    SetAdapterMonitors({});
    EXPECT_EQ(d3d->GetAdapterCount(), 2u);
    EXPECT_EQ(platform::MonitorFromScreenPoint(POINT{10, 10}), nullptr);
}

TEST_F(SoftD3D9DeviceTest, FormatAndMultisampleChecksFollowTheSwitches) {
    IDirect3D9Ex* raw = nullptr;
    ASSERT_EQ(Direct3DCreate9Ex(D3D_SDK_VERSION, &raw), S_OK);
    Ref<IDirect3D9Ex> d3d(raw);
    for (D3DFORMAT format : {D3DFMT_X8R8G8B8, D3DFMT_A8R8G8B8}) {
        EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, format, TRUE), S_OK);
        EXPECT_EQ(d3d->CheckDeviceFormat(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8,
                                         D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC, D3DRTYPE_SURFACE,
                                         format),
                  S_OK);
    }
    EXPECT_EQ(d3d->CheckDeviceType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_R5G6B5, TRUE),
              D3DERR_NOTAVAILABLE);
    EXPECT_EQ(d3d->CheckDeviceType(1, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, D3DFMT_X8R8G8B8, TRUE),
              D3DERR_INVALIDCALL);

    DWORD quality = 7;
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE,
                                              D3DMULTISAMPLE_4_SAMPLES, &quality),
              S_OK);
    EXPECT_EQ(quality, 1u);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE,
                                              D3DMULTISAMPLE_8_SAMPLES, nullptr),
              D3DERR_NOTAVAILABLE);
    SetSupportedMultisampleTypes({D3DMULTISAMPLE_8_SAMPLES});
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE,
                                              D3DMULTISAMPLE_8_SAMPLES, nullptr),
              S_OK);
    EXPECT_EQ(d3d->CheckDeviceMultiSampleType(0, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE,
                                              D3DMULTISAMPLE_4_SAMPLES, nullptr),
              D3DERR_NOTAVAILABLE);

    D3DCAPS9 caps{};
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), S_OK);
    EXPECT_EQ(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT,
              static_cast<DWORD>(D3DDEVCAPS_HWTRANSFORMANDLIGHT));
    EXPECT_EQ(caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES, static_cast<DWORD>(D3DCAPS2_DYNAMICTEXTURES));
    EXPECT_EQ(caps.TextureCaps & D3DPTEXTURECAPS_POW2, 0u);
    SetCaps(false, false, true);
    ASSERT_EQ(d3d->GetDeviceCaps(0, D3DDEVTYPE_HAL, &caps), S_OK);
    EXPECT_EQ(caps.DevCaps & D3DDEVCAPS_HWTRANSFORMANDLIGHT, 0u);
    EXPECT_EQ(caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES, 0u);
    EXPECT_EQ(caps.TextureCaps & D3DPTEXTURECAPS_POW2, static_cast<DWORD>(D3DPTEXTURECAPS_POW2));
}

TEST_F(SoftD3D9DeviceTest, CreationIsRefusedWhereTheCapabilitiesSayNo) {
    SetCaps(false, false, true);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = parameters.BackBufferHeight = 1;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.Windowed = TRUE;
    HWND window = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    IDirect3D9Ex* raw = nullptr;
    ASSERT_EQ(Direct3DCreate9Ex(D3D_SDK_VERSION, &raw), S_OK);
    Ref<IDirect3D9Ex> d3d(raw);
    IDirect3DDevice9Ex* device = nullptr;
    // Hardware vertex processing without hardware transform and lighting.
    EXPECT_EQ(d3d->CreateDeviceEx(0, D3DDEVTYPE_HAL, window, 0x46, &parameters, nullptr, &device),
              D3DERR_INVALIDCALL);
    // A windowed device with neither a device nor a focus window.
    EXPECT_EQ(d3d->CreateDeviceEx(0, D3DDEVTYPE_HAL, nullptr, 0x26, &parameters, nullptr, &device),
              D3DERR_INVALIDCALL);
    ASSERT_EQ(d3d->CreateDeviceEx(0, D3DDEVTYPE_HAL, window, 0x26, &parameters, nullptr, &device),
              S_OK);
    Ref<IDirect3DDevice9Ex> owned(device);
    EXPECT_EQ(CreatedDevices().back().behaviorFlags, 0x26u);

    IDirect3DTexture9* texture = reinterpret_cast<IDirect3DTexture9*>(1);
    EXPECT_EQ(device->CreateTexture(64, 64, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                    &texture, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_EQ(texture, nullptr);
    EXPECT_EQ(
        device->CreateTexture(48, 48, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        D3DERR_INVALIDCALL);
    ASSERT_EQ(
        device->CreateTexture(64, 32, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr),
        S_OK);
    texture->Release();
    ASSERT_EQ(CreatedTextures().size(), 1u);
    EXPECT_EQ(CreatedTextures()[0].pool, D3DPOOL_MANAGED);

    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(device->CreateRenderTarget(16, 16, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_8_SAMPLES, 0,
                                         FALSE, &surface, nullptr),
              D3DERR_INVALIDCALL);
    EXPECT_TRUE(CreatedRenderTargets().empty());
}

TEST_F(SoftD3D9DeviceTest, OnlyLockableSurfacesLockAndRenderTargetsReadBackThroughSystemMemory) {
    auto device = MakeDevice();
    auto hidden = MakeTarget(device.get(), 8, 4, D3DFMT_X8R8G8B8, FALSE);
    auto lockable = MakeTarget(device.get(), 8, 4, D3DFMT_X8R8G8B8, TRUE);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(hidden->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3DERR_INVALIDCALL);

    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF112233u, 1.0f, 0);  // into `lockable`, set last
    ASSERT_EQ(lockable->LockRect(&locked, nullptr, D3DLOCK_READONLY), S_OK);
    EXPECT_EQ(locked.Pitch, 32);
    EXPECT_EQ(*static_cast<uint32_t*>(locked.pBits), 0xFF112233u);
    EXPECT_EQ(lockable->LockRect(&locked, nullptr, 0), D3DERR_INVALIDCALL);  // already locked
    EXPECT_EQ(lockable->UnlockRect(), S_OK);
    EXPECT_EQ(lockable->UnlockRect(), D3DERR_INVALIDCALL);
    const RECT part{2, 1, 4, 3};
    ASSERT_EQ(lockable->LockRect(&locked, &part, 0), S_OK);
    static_cast<uint32_t*>(locked.pBits)[0] = 0xFFABCDEFu;
    lockable->UnlockRect();
    EXPECT_EQ(ReadBack(device.get(), lockable.get())[1 * 8 + 2], 0xFFABCDEFu);

    // GetRenderTargetData wants a system-memory surface of the same size and format.
    device->SetRenderTarget(0, hidden.get());
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF445566u, 1.0f, 0);
    EXPECT_EQ(ReadBack(device.get(), hidden.get())[0], 0xFF445566u);
    IDirect3DSurface9* raw = nullptr;
    ASSERT_EQ(
        device->CreateOffscreenPlainSurface(8, 4, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT, &raw, nullptr),
        S_OK);
    Ref<IDirect3DSurface9> videoMemory(raw);
    EXPECT_EQ(device->GetRenderTargetData(hidden.get(), raw), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateOffscreenPlainSurface(4, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &raw,
                                                  nullptr),
              S_OK);
    Ref<IDirect3DSurface9> wrongSize(raw);
    EXPECT_EQ(device->GetRenderTargetData(hidden.get(), raw), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 4, D3DFMT_A8R8G8B8, D3DPOOL_SYSTEMMEM, &raw,
                                                  nullptr),
              S_OK);
    Ref<IDirect3DSurface9> wrongFormat(raw);
    EXPECT_EQ(device->GetRenderTargetData(hidden.get(), raw), D3DERR_INVALIDCALL);
    ASSERT_EQ(device->CreateRenderTarget(8, 4, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_4_SAMPLES, 0, FALSE,
                                         &raw, nullptr),
              S_OK);
    Ref<IDirect3DSurface9> multisampled(raw);
    ASSERT_EQ(device->CreateOffscreenPlainSurface(8, 4, D3DFMT_X8R8G8B8, D3DPOOL_SYSTEMMEM, &raw,
                                                  nullptr),
              S_OK);
    Ref<IDirect3DSurface9> copy(raw);
    EXPECT_EQ(device->GetRenderTargetData(multisampled.get(), copy.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(ReadPixels(hidden.get()), ReadBack(device.get(), hidden.get()));
}

TEST_F(SoftD3D9DeviceTest, TexturesLockAsTheirPoolAndUsageAllow) {
    auto device = MakeDevice();
    struct Case {
        DWORD usage;
        D3DPOOL pool;
        HRESULT lock;
    };
    for (const Case c :
         {Case{D3DUSAGE_DYNAMIC, D3DPOOL_DEFAULT, S_OK}, Case{0, D3DPOOL_MANAGED, S_OK},
          Case{0, D3DPOOL_DEFAULT, D3DERR_INVALIDCALL},
          Case{D3DUSAGE_RENDERTARGET, D3DPOOL_DEFAULT, D3DERR_INVALIDCALL}}) {
        SCOPED_TRACE(testing::Message() << "usage " << c.usage << " pool " << c.pool);
        IDirect3DTexture9* raw = nullptr;
        ASSERT_EQ(device->CreateTexture(16, 8, 1, c.usage, D3DFMT_X8R8G8B8, c.pool, &raw, nullptr),
                  S_OK);
        Ref<IDirect3DTexture9> texture(raw);
        D3DLOCKED_RECT locked{};
        // D3DLOCK_DISCARD is taken on managed textures too, as the display locks them.
        EXPECT_EQ(texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD), c.lock);
        if (c.lock == S_OK) {
            EXPECT_EQ(locked.Pitch, 64);
            EXPECT_EQ(texture->UnlockRect(0), S_OK);
        }
        D3DSURFACE_DESC desc{};
        EXPECT_EQ(texture->GetLevelDesc(0, &desc), S_OK);
        EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
        EXPECT_EQ(desc.Width, 16u);
        EXPECT_EQ(desc.Pool, c.pool);
        EXPECT_EQ(texture->GetLevelDesc(1, &desc), D3DERR_INVALIDCALL);
    }
}

TEST_F(SoftD3D9DeviceTest, LostDevicesReportItAndNewDevicesStartHealthy) {
    auto plain = MakeDevice(false);
    auto extended = MakeDevice(true);
    Ref<IDirect3DDevice9Ex> extendedEx(AsEx(extended.get()));
    EXPECT_EQ(plain->TestCooperativeLevel(), S_OK);
    EXPECT_EQ(extendedEx->CheckDeviceState(nullptr), S_OK);

    SetDeviceState(S_PRESENT_OCCLUDED);  // a status, not a failure
    EXPECT_EQ(extendedEx->CheckDeviceState(nullptr), S_PRESENT_OCCLUDED);
    EXPECT_EQ(extended->TestCooperativeLevel(), S_OK);

    LoseDevices();
    EXPECT_EQ(plain->TestCooperativeLevel(), D3DERR_DEVICELOST);
    EXPECT_EQ(extendedEx->CheckDeviceState(nullptr), D3DERR_DEVICELOST);
    auto fresh = MakeDevice(true);
    Ref<IDirect3DDevice9Ex> freshEx(AsEx(fresh.get()));
    EXPECT_EQ(freshEx->CheckDeviceState(nullptr), S_OK);
    EXPECT_EQ(plain->TestCooperativeLevel(), D3DERR_DEVICELOST);
}

TEST_F(SoftD3D9DeviceTest, InjectedFailuresHitTheNamedCallsOnly) {
    auto device = MakeDevice();
    IDirect3DTexture9* raw = nullptr;
    FailNextCall("CreateTexture", E_OUTOFMEMORY);
    EXPECT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &raw, nullptr),
              E_OUTOFMEMORY);
    EXPECT_EQ(raw, nullptr);
    EXPECT_TRUE(CreatedTextures().empty());
    ASSERT_EQ(device->CreateTexture(8, 8, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &raw, nullptr),
              S_OK);
    Ref<IDirect3DTexture9> texture(raw);
    EXPECT_EQ(CallCount("CreateTexture"), 2u);
    EXPECT_EQ(CallCount("IDirect3DDevice9::CreateTexture"), 2u);

    // A qualified name singles out one interface's method of that name.
    auto target = MakeTarget(device.get(), 8, 8, D3DFMT_X8R8G8B8, TRUE);
    FailNextCall("IDirect3DTexture9::LockRect", D3DERR_WASSTILLDRAWING);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(target->LockRect(&locked, nullptr, 0), S_OK);
    target->UnlockRect();
    EXPECT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3DERR_WASSTILLDRAWING);
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), S_OK);
    texture->UnlockRect(0);

    // Queued failures come one after another; a negative count lasts until Reset.
    FailNextCall("BeginScene", E_FAIL, 2);
    FailNextCall("BeginScene", D3DERR_DEVICELOST);
    EXPECT_EQ(device->BeginScene(), E_FAIL);
    EXPECT_EQ(device->BeginScene(), E_FAIL);
    EXPECT_EQ(device->BeginScene(), D3DERR_DEVICELOST);
    EXPECT_EQ(device->BeginScene(), S_OK);
    EXPECT_EQ(device->EndScene(), S_OK);
    FailNextCall("Direct3DCreate9", E_FAIL, -1);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    EXPECT_EQ(Direct3DCreate9(D3D_SDK_VERSION), nullptr);
    Reset();
    Ref<IDirect3D9> d3d(Direct3DCreate9(D3D_SDK_VERSION));
    EXPECT_NE(d3d, nullptr);
}

TEST_F(SoftD3D9DeviceTest, SceneAndDrawCallsAreCheckedLikeTheRealRuntime) {
    auto device = MakeDevice();
    auto target = MakeTarget(device.get(), 8, 8);
    EXPECT_EQ(device->EndScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2),
              D3DERR_INVALIDCALL);  // outside a scene
    ASSERT_EQ(device->BeginScene(), S_OK);
    EXPECT_EQ(device->BeginScene(), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2),
              D3DERR_INVALIDCALL);  // no stream source
    IDirect3DVertexBuffer9* raw = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(96, 0, kVertexFormat, D3DPOOL_DEFAULT, &raw, nullptr),
              S_OK);
    Ref<IDirect3DVertexBuffer9> buffer(raw);
    device->SetStreamSource(0, raw, 0, sizeof(Vertex));
    device->SetFVF(kVertexFormat);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2),
              D3DERR_INVALIDCALL);  // beyond the buffer
    EXPECT_EQ(device->SetRenderTarget(1, target.get()), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->SetRenderTarget(0, nullptr), D3DERR_INVALIDCALL);
    EXPECT_EQ(device->EndScene(), S_OK);
    device->SetStreamSource(0, nullptr, 0, 0);
}

TEST_F(SoftD3D9DeviceTest, ReferencesFollowTheRealRuntime) {
    auto device = MakeDevice();
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device->CreateTexture(8, 8, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                                    &texture, nullptr),
              S_OK);
    const size_t withTexture = LiveObjects();

    // Resources hold their device, and a surface level holds its texture.
    device->AddRef();
    EXPECT_EQ(device->Release(), 2u);
    IDirect3DSurface9* level = nullptr;
    ASSERT_EQ(texture->GetSurfaceLevel(0, &level), S_OK);
    EXPECT_EQ(texture->AddRef(), 3u);
    texture->Release();
    IDirect3DTexture9* container = nullptr;
    ASSERT_EQ(level->GetContainer(IID_IDirect3DTexture9, reinterpret_cast<void**>(&container)),
              S_OK);
    EXPECT_EQ(container, texture);
    container->Release();
    EXPECT_EQ(level->Release(), 1u);

    // Bound, a released texture keeps its memory (not its count) until it is unbound.
    device->SetTexture(0, texture);
    EXPECT_EQ(texture->Release(), 0u);
    EXPECT_EQ(LiveObjects(), withTexture);
    device->SetTexture(0, nullptr);
    EXPECT_EQ(LiveObjects(), withTexture - 1);

    // Releasing the device while a render target is bound and still held: the target keeps the
    // device, and everything goes with the last reference, in whatever order.
    auto target = MakeTarget(device.get(), 8, 8);
    IDirect3D9* d3d = nullptr;
    ASSERT_EQ(device->GetDirect3D(&d3d), S_OK);
    EXPECT_GT(d3d->Release(), 0u);
    EXPECT_GT(device.release()->Release(), 0u);
    EXPECT_GT(LiveObjects(), 0u);
    target.reset();
    EXPECT_EQ(LiveObjects(), 0u) << DescribeLiveObjects();
}

TEST_F(SoftD3D9DeviceTest, FocusWindowClassRegistersOnceUntilItIsDestroyed) {
    EXPECT_TRUE(platform::RegisterFocusWindowClass());
    EXPECT_TRUE(WindowClassRegistered());
    EXPECT_FALSE(platform::RegisterFocusWindowClass());  // the class exists already
    HWND window = platform::CreateFocusWindow();
    EXPECT_NE(window, nullptr);
    EXPECT_EQ(LiveWindows(), 1u);
    platform::DestroyFocusWindow(window);
    EXPECT_EQ(LiveWindows(), 0u);
    EXPECT_FALSE(WindowClassRegistered());
    EXPECT_EQ(platform::CreateFocusWindow(), nullptr);  // no class, no window

    FailWindowClassRegistration(true);
    EXPECT_FALSE(platform::RegisterFocusWindowClass());
    FailWindowClassRegistration(false);
    FailNextCall("RegisterClass", E_FAIL);
    EXPECT_FALSE(platform::RegisterFocusWindowClass());
    EXPECT_TRUE(platform::RegisterFocusWindowClass());
    FailNextCall("CreateWindow", E_FAIL);
    EXPECT_EQ(platform::CreateFocusWindow(), nullptr);
    platform::DestroyFocusWindow(nullptr);
}

TEST_F(SoftD3D9DeviceTest, UploadAndDrawOnTwoThreadsUnderOneLock) {
    // The display's pattern: a worker thread fills the texture while the host thread draws, both
    // under the display's mutex, and switches flip meanwhile. ThreadSanitizer checks the rest.
    constexpr UINT kSize = 64;
    auto device = MakeDevice();
    auto target = MakeTarget(device.get(), kSize, kSize);
    IDirect3DTexture9* raw = nullptr;
    ASSERT_EQ(device->CreateTexture(kSize, kSize, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8,
                                    D3DPOOL_DEFAULT, &raw, nullptr),
              S_OK);
    Ref<IDirect3DTexture9> texture(raw);
    IDirect3DVertexBuffer9* buffer = nullptr;
    ASSERT_EQ(device->CreateVertexBuffer(sizeof(Vertex) * 4, 0, kVertexFormat, D3DPOOL_DEFAULT,
                                         &buffer, nullptr),
              S_OK);
    Ref<IDirect3DVertexBuffer9> ownedBuffer(buffer);
    Vertex quad[4];
    Quad(quad, -1, 1, 1, -1);
    void* bytes = nullptr;
    ASSERT_EQ(buffer->Lock(0, 0, &bytes, 0), S_OK);
    std::memcpy(bytes, quad, sizeof quad);
    buffer->Unlock();
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
    device->SetFVF(kVertexFormat);
    device->SetTexture(0, raw);

    std::mutex displayLock;
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        for (uint32_t frame = 1; frame <= 50; ++frame) {
            std::lock_guard<std::mutex> lock(displayLock);
            D3DLOCKED_RECT locked{};
            if (raw->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD) != S_OK) {
                ADD_FAILURE() << "LockRect failed";
                break;
            }
            std::fill_n(static_cast<uint32_t*>(locked.pBits), kSize * kSize, frame);
            raw->UnlockRect(0);
        }
        stop = true;
    });
    std::thread switches([&] {
        while (!stop) {
            SetCaps(true, true, false);
            CallCount("DrawPrimitive");
        }
    });
    while (!stop) {
        std::lock_guard<std::mutex> lock(displayLock);
        EXPECT_EQ(device->BeginScene(), S_OK);
        EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), S_OK);
        EXPECT_EQ(device->EndScene(), S_OK);
    }
    worker.join();
    switches.join();
    device->BeginScene();
    device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device->EndScene();
    EXPECT_EQ(ReadBack(device.get(), target.get())[kSize + 1], 0xFF000032u);  // frame 50
    device->SetTexture(0, nullptr);
    device->SetStreamSource(0, nullptr, 0, 0);
}

}  // namespace
}  // namespace kesto::soft_d3d9::test
