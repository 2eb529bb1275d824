// What only the system's Direct3D 9 shows (wined3d over Mesa under Wine): the multisample
// fallback against what the device really offers, and the failure when the runtime refuses
// the surfaces.
#include "display_fixture.h"
#include "kesto/video_client.h"

namespace kesto::test {
namespace {

using DisplayOnDirect3D = DisplayTest;

// What a runtime that refuses the surface usage gets: no surface, and the same on every try,
// with nothing made that a later call would have to clean up.
TEST_F(DisplayOnDirect3D, RefusedSurfaceUsageGivesEFailAndNoSurfaceEveryTime) {
    if (here != Direct3DHere::RefusesDynamicTargets) {
        GTEST_SKIP() << "this Direct3D accepts dynamic render-target surfaces";
    }
    answer.reset();
    for (int attempt = 0; attempt < 2; ++attempt) {
        IDirect3DSurface9* surface = reinterpret_cast<IDirect3DSurface9*>(1);
        EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_E_FAIL);
        EXPECT_EQ(surface, nullptr);
        EXPECT_EQ(Render(), KESTO_S_OK);
    }
}

TEST_F(DisplayOnDirect3D, MultisampleCountsTheDeviceLacksBecomeNone) {
    // What the adapter offers, asked independently of the library.
    IDirect3D9Ex* d3d = nullptr;
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
    d3d->Release();
    // Both ways taken: some counts offered, some not.
    EXPECT_GT(offeredCount, 0);
    EXPECT_LT(offeredCount, 5);
}

}  // namespace
}  // namespace kesto::test
