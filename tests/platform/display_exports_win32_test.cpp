// The display exports on the system's own Direct3D 9 (wined3d over Mesa under Wine): what the
// host gets from GetBackBufferNoRef, the multisample fallback against what the device really
// offers, a frame from the decoder drawn into the surface and read back, and the failure when
// the device refuses the surfaces. Skipped where no Direct3D object can be made (under Wine
// without an X display Direct3DCreate9Ex fails with D3DERR_NOTAVAILABLE; the test script runs
// these under Xvfb).
#include <gtest/gtest.h>

#include <d3d9.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "kesto/video_client.h"
#include "loopback_server.h"
#include "message_log.h"
#include "test_decoder_control.h"
#include "test_platform.h"

namespace kesto::test {
namespace {

// Releases a COM pointer at the end of the scope.
template <typename T>
struct Held {
    T* p = nullptr;
    ~Held() {
        if (p != nullptr) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

D3DSURFACE_DESC SurfaceDesc(IDirect3DSurface9* surface) {
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(surface->GetDesc(&desc), D3D_OK);
    return desc;
}

// The surface's pixels, read back into system memory (render targets of an extended device
// are not lockable).
std::vector<uint32_t> ReadBack(IDirect3DSurface9* surface) {
    const D3DSURFACE_DESC desc = SurfaceDesc(surface);
    Held<IDirect3DDevice9> device;
    EXPECT_EQ(surface->GetDevice(&device), D3D_OK);
    Held<IDirect3DSurface9> copy;
    EXPECT_EQ(device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format,
                                                  D3DPOOL_SYSTEMMEM, &copy, nullptr),
              D3D_OK);
    EXPECT_EQ(device->GetRenderTargetData(surface, copy.p), D3D_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_EQ(copy->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    std::vector<uint32_t> pixels(static_cast<std::size_t>(desc.Width) * desc.Height);
    for (UINT y = 0; y < desc.Height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(
            static_cast<const uint8_t*>(locked.pBits) + static_cast<std::size_t>(y) * locked.Pitch);
        for (UINT x = 0; x < desc.Width; ++x) pixels[y * desc.Width + x] = row[x];
    }
    copy->UnlockRect();
    return pixels;
}

enum class Direct3DHere { None, RefusesDynamicTargets, Usable };

// What this system's Direct3D offers, asked independently of the library. GetBackBufferNoRef
// first checks for render-target surfaces with D3DUSAGE_DYNAMIC, as WPF's D3DImage asks;
// Windows' runtime accepts that, but Wine 8's wined3d answers D3DERR_NOTAVAILABLE, so under
// Wine the display hands out no surface at all.
Direct3DHere Probe() {
    Held<IDirect3D9Ex> d3d;
    if (FAILED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d)) || d3d.p == nullptr) {
        return Direct3DHere::None;
    }
    const HRESULT dynamicTargets = d3d->CheckDeviceFormat(
        D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8,
        D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC, D3DRTYPE_SURFACE, D3DFMT_X8R8G8B8);
    return FAILED(dynamicTargets) ? Direct3DHere::RefusesDynamicTargets : Direct3DHere::Usable;
}

constexpr const char* kRefused =
    "this Direct3D refuses dynamic render-target surfaces (Wine's wined3d): "
    "GetBackBufferNoRef gives no surface";

class DisplayOnDirect3D : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallRecordingCallbacks();
        ClearLog();
        here = Probe();
        if (here == Direct3DHere::None) {
            GTEST_SKIP() << "no Direct3D here (under Wine: no X display)";
        }
    }
    void TearDown() override {
        DestroyClient();
        DestroyD3D();
    }

    // GTEST_SKIP only leaves the function it is in, so tests call this in their own body.
    bool SurfacesRefused() const { return here == Direct3DHere::RefusesDynamicTargets; }

    IDirect3DSurface9* Surface() {
        IDirect3DSurface9* surface = nullptr;
        EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_S_OK);
        EXPECT_NE(surface, nullptr);
        return surface;
    }

    Direct3DHere here = Direct3DHere::None;
};

TEST_F(DisplayOnDirect3D, RefusedSurfaceUsageGivesEFailAndNoSurfaceEveryTime) {
    if (here != Direct3DHere::RefusesDynamicTargets) {
        GTEST_SKIP() << "this Direct3D accepts dynamic render-target surfaces";
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        IDirect3DSurface9* surface = reinterpret_cast<IDirect3DSurface9*>(1);
        EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_E_FAIL);
        EXPECT_EQ(surface, nullptr);
    }
}

TEST_F(DisplayOnDirect3D, SurfacesFollowSizeAndAlphaAndAreKeptWhileNothingChanges) {
    if (SurfacesRefused()) GTEST_SKIP() << kRefused;
    IDirect3DSurface9* first = Surface();
    D3DSURFACE_DESC desc = SurfaceDesc(first);
    EXPECT_EQ(desc.Width, 1024u);
    EXPECT_EQ(desc.Height, 1024u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.Type, D3DRTYPE_SURFACE);
    EXPECT_NE(desc.Usage & D3DUSAGE_RENDERTARGET, 0u);
    EXPECT_EQ(desc.MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(Surface(), first);

    EXPECT_EQ(SetAlpha(1), KESTO_S_OK);
    EXPECT_EQ(SetSize(320, 200), KESTO_S_OK);
    desc = SurfaceDesc(Surface());
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Width, 320u);
    EXPECT_EQ(desc.Height, 200u);
}

TEST_F(DisplayOnDirect3D, MultisampleCountsTheDeviceLacksBecomeNone) {
    if (SurfacesRefused()) GTEST_SKIP() << kRefused;
    // What the adapter offers, asked independently of the library.
    Held<IDirect3D9Ex> d3d;
    ASSERT_EQ(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d), D3D_OK);
    for (const DWORD samples : {2u, 3u, 4u, 8u, 16u}) {
        SCOPED_TRACE(samples);
        const auto type = static_cast<D3DMULTISAMPLE_TYPE>(samples);
        const bool offered = SUCCEEDED(d3d->CheckDeviceMultiSampleType(
            D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE, type, nullptr));
        EXPECT_EQ(SetNumDesiredSamples(samples), KESTO_S_OK);
        EXPECT_EQ(SurfaceDesc(Surface()).MultiSampleType, offered ? type : D3DMULTISAMPLE_NONE);
    }
}

TEST_F(DisplayOnDirect3D, DecodedFrameIsDrawnIntoTheSurface) {
    if (SurfacesRefused()) GTEST_SKIP() << kRefused;
    SetSize(256, 256);
    IDirect3DSurface9* surface = Surface();
    SetDecoderLibrarySetting(TEST_DECODER_PATH);
    TestDecoderControl decoder(TEST_DECODER_PATH);
    decoder.QueueFrame(64 * 64 * 4, 0x5A);  // every byte 0x5A: a grey frame
    LoopbackServer server;
    server.Serve([](LoopbackServer::Socket socket) {
        const uint8_t chunk[8] = {0, 0, 0, 1, 9, 0xF0};
        LoopbackServer::SendAll(socket, chunk, sizeof chunk);
    });
    ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
    ASSERT_TRUE(WaitFor([](const std::vector<LoggedMessage>&) {
        return CountCode(KESTO_MESSAGE_FRAME_READY) >= 1;
    })) << Describe();
    ASSERT_EQ(Render(), KESTO_S_OK);

    const std::vector<uint32_t> pixels = ReadBack(surface);
    // The frame fills the square surface at zoom 1 without rotation: the middle half is the
    // frame's grey whatever the edge rule.
    for (unsigned y = 64; y < 192; y += 16) {
        for (unsigned x = 64; x < 192; x += 16) {
            EXPECT_EQ(pixels[y * 256 + x] & 0xFFFFFFu, 0x5A5A5Au) << x << "," << y;
        }
    }
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    SetDecoderLibrarySetting(nullptr);
}

}  // namespace
}  // namespace kesto::test
