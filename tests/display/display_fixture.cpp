#include "display_fixture.h"

#include <cmath>
#include <cstring>
#include <string>

#include "display/display_manager.h"
#include "kesto/video_client.h"
#include "message_log.h"
#include "test_platform.h"

#if !defined(_WIN32)
#include "platform/soft_d3d9/soft_d3d9_control.h"
#endif

namespace kesto::test {

::testing::AssertionResult Shows(const std::vector<uint32_t>& pixels,
                                 const std::function<uint32_t(unsigned, unsigned)>& expected) {
    const auto side = static_cast<unsigned>(std::lround(std::sqrt(pixels.size())));
    int count = 0;
    std::string first;
    for (unsigned i = 0; i < pixels.size(); ++i) {
        if (Rgb(pixels[i]) != expected(i / side, i % side) && ++count <= 4) {
            first += " (" + std::to_string(i / side) + "," + std::to_string(i % side) +
                     ")=" + std::to_string(Rgb(pixels[i]));
        }
    }
    if (count == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << count << " pixels differ, first:" << first;
}

D3DSURFACE_DESC SurfaceDesc(IDirect3DSurface9* surface) {
    D3DSURFACE_DESC description = {};
    EXPECT_EQ(surface->GetDesc(&description), D3D_OK);
    return description;
}

std::vector<uint32_t> ReadBack(IDirect3DSurface9* surface) {
    const D3DSURFACE_DESC description = SurfaceDesc(surface);
    std::vector<uint32_t> pixels(static_cast<std::size_t>(description.Width) * description.Height);
    IDirect3DDevice9* device = nullptr;
    IDirect3DSurface9* copy = nullptr;
    D3DLOCKED_RECT locked = {};
    if (surface->GetDevice(&device) == D3D_OK &&
        device->CreateOffscreenPlainSurface(description.Width, description.Height,
                                            description.Format, D3DPOOL_SYSTEMMEM, &copy,
                                            nullptr) == D3D_OK &&
        device->GetRenderTargetData(surface, copy) == D3D_OK &&
        copy->LockRect(&locked, nullptr, D3DLOCK_READONLY) == D3D_OK) {
        for (UINT row = 0; row < description.Height; ++row) {
            std::memcpy(&pixels[static_cast<std::size_t>(row) * description.Width],
                        static_cast<const uint8_t*>(locked.pBits) +
                            static_cast<std::size_t>(row) * locked.Pitch,
                        static_cast<std::size_t>(description.Width) * 4);
        }
        copy->UnlockRect();
    } else {
        ADD_FAILURE() << "reading the render target back failed";
    }
    if (copy != nullptr) copy->Release();
    if (device != nullptr) device->Release();
    return pixels;
}

IDirect3DSurface9* DisplayTest::Surface() {
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_S_OK);
    EXPECT_NE(surface, nullptr);
    return surface;
}

std::vector<uint32_t> DisplayTest::RenderAndRead() {
    EXPECT_EQ(Render(), KESTO_S_OK);
    return ReadBack(Surface());
}

void DisplayTest::SetUp() {
#if defined(_WIN32)
    IDirect3D9Ex* d3d = nullptr;
    if (FAILED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d)) || d3d == nullptr) {
        GTEST_SKIP() << "no Direct3D here (under Wine: no X display)";
    }
    // Under Wine: the surface check answered as Windows answers it (see the header).
    const bool asWindows = AcceptsRenderTargets(d3d, D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC);
    const bool usable = AcceptsRenderTargets(d3d, D3DUSAGE_RENDERTARGET);
    d3d->Release();
    if (!usable) GTEST_SKIP() << "no render-target surfaces here";
    answering = !asWindows;
    if (answering) AnswerSurfaceUsageAsWindows(true);
#else
    soft_d3d9::Reset();
#endif
    SetDecoderLibrarySetting(TEST_DECODER_PATH);
    InstallRecordingCallbacks();
    ClearLog();
}

void DisplayTest::TearDown() {
    sink.reset();
    DestroyD3D();
#if defined(_WIN32)
    if (answering) AnswerSurfaceUsageAsWindows(false);
#else
    EXPECT_EQ(soft_d3d9::LiveObjects(), 0u) << soft_d3d9::DescribeLiveObjects();
    EXPECT_EQ(soft_d3d9::LiveWindows(), 0u);
    EXPECT_FALSE(soft_d3d9::WindowClassRegistered());
#endif
    SetDecoderLibrarySetting(nullptr);
    SetCallbackFunc(nullptr);
}

DecoderSink& DisplayTest::Sink() {
    if (!sink) sink = std::make_unique<DecoderSink>("display");
    return *sink;
}

// As the decoder sink hands a frame over: the frame-size update, then DeliverFrame.
void DisplayTest::Deliver(const std::vector<uint8_t>& frame, float azimuth) {
    const unsigned side = Sink().updateFrameSize(static_cast<int>(frame.size()));
    GetDisplayManager()->DeliverFrame(frame.data(), side, azimuth);
}

}  // namespace kesto::test
