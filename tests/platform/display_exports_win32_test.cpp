// The display exports on the system's own Direct3D 9 (wined3d over Mesa under Wine): what the
// host gets from GetBackBufferNoRef, the multisample fallback against what the device really
// offers, and the failure when the runtime refuses the surfaces. Skipped where no Direct3D
// object can be made (under Wine without an X display Direct3DCreate9Ex fails with
// D3DERR_NOTAVAILABLE; the test script runs these under Xvfb).
#include <gtest/gtest.h>

#include <d3d9.h>

#include <memory>

#include "display_win32_support.h"
#include "kesto/video_client.h"
#include "message_log.h"

namespace kesto::test {
namespace {

class DisplayOnDirect3D : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallRecordingCallbacks();
        ClearLog();
        here = ProbeDirect3D();
        if (here == Direct3DHere::None)
            GTEST_SKIP() << "no Direct3D here (under Wine: no X display)";
    }
    void TearDown() override {
        DestroyD3D();
        answer.reset();
    }

    // Under Wine: the surface check answered as Windows answers it (see the class).
    void AnswerAsWindows() {
        if (here == Direct3DHere::RefusesDynamicTargets)
            answer = std::make_unique<WindowsSurfaceUsageAnswer>();
    }

    IDirect3DSurface9* Surface() {
        IDirect3DSurface9* surface = nullptr;
        EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_S_OK);
        EXPECT_NE(surface, nullptr);
        return surface;
    }

    Direct3DHere here = Direct3DHere::None;
    std::unique_ptr<WindowsSurfaceUsageAnswer> answer;
};

// What a runtime that refuses the surface usage gets: no surface, and the same on every try,
// with nothing made that a later call would have to clean up.
TEST_F(DisplayOnDirect3D, RefusedSurfaceUsageGivesEFailAndNoSurfaceEveryTime) {
    if (here != Direct3DHere::RefusesDynamicTargets) {
        GTEST_SKIP() << "this Direct3D accepts dynamic render-target surfaces";
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        IDirect3DSurface9* surface = reinterpret_cast<IDirect3DSurface9*>(1);
        EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_E_FAIL);
        EXPECT_EQ(surface, nullptr);
        EXPECT_EQ(Render(), KESTO_S_OK);
    }
}

TEST_F(DisplayOnDirect3D, SurfacesFollowSizeAndAlphaAndAreKeptWhileNothingChanges) {
    AnswerAsWindows();
    IDirect3DSurface9* first = Surface();
    if (answer) {
        EXPECT_GT(WindowsSurfaceUsageAnswer::Answered(), 0u);
    }
    D3DSURFACE_DESC desc = SurfaceDesc(first);
    EXPECT_EQ(desc.Width, 1024u);
    EXPECT_EQ(desc.Height, 1024u);
    EXPECT_EQ(desc.Format, D3DFMT_X8R8G8B8);
    EXPECT_EQ(desc.Type, D3DRTYPE_SURFACE);
    EXPECT_NE(desc.Usage & D3DUSAGE_RENDERTARGET, 0u);
    EXPECT_EQ(desc.MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(desc.Pool, D3DPOOL_DEFAULT);
    // Made on the extended device, which shares it with the compositor and does not lock it.
    Held<IDirect3DDevice9> device;
    ASSERT_EQ(first->GetDevice(&device), D3D_OK);
    Held<IDirect3DDevice9Ex> extended;
    EXPECT_EQ(device->QueryInterface(IID_IDirect3DDevice9Ex, reinterpret_cast<void**>(&extended)),
              S_OK);
    D3DLOCKED_RECT locked{};
    EXPECT_NE(first->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    EXPECT_EQ(Surface(), first);

    EXPECT_EQ(SetAlpha(1), KESTO_S_OK);
    EXPECT_EQ(SetSize(320, 200), KESTO_S_OK);
    desc = SurfaceDesc(Surface());
    EXPECT_EQ(desc.Format, D3DFMT_A8R8G8B8);
    EXPECT_EQ(desc.Width, 320u);
    EXPECT_EQ(desc.Height, 200u);
}

TEST_F(DisplayOnDirect3D, MultisampleCountsTheDeviceLacksBecomeNone) {
    AnswerAsWindows();
    // What the adapter offers, asked independently of the library.
    Held<IDirect3D9Ex> d3d;
    ASSERT_EQ(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d), D3D_OK);
    int offeredCount = 0;
    for (const DWORD samples : {2u, 3u, 4u, 8u, 16u}) {
        SCOPED_TRACE(samples);
        const auto type = static_cast<D3DMULTISAMPLE_TYPE>(samples);
        const bool offered = SUCCEEDED(d3d->CheckDeviceMultiSampleType(
            D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8, TRUE, type, nullptr));
        offeredCount += offered ? 1 : 0;
        EXPECT_EQ(SetNumDesiredSamples(samples), KESTO_S_OK);
        EXPECT_EQ(SurfaceDesc(Surface()).MultiSampleType, offered ? type : D3DMULTISAMPLE_NONE);
    }
    // Both ways taken: some counts offered, some not.
    EXPECT_GT(offeredCount, 0);
    EXPECT_LT(offeredCount, 5);
}

}  // namespace
}  // namespace kesto::test
