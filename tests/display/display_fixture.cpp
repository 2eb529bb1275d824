#include "display_fixture.h"

#include <cstdlib>
#include <cstring>

#include "display/display_manager.h"
#include "kesto/video_client.h"
#include "message_log.h"
#include "platform/soft_d3d9/soft_d3d9_control.h"

namespace kesto::test {

std::vector<uint32_t> ReadBack(IDirect3DSurface9* surface) {
    D3DSURFACE_DESC description = {};
    EXPECT_EQ(surface->GetDesc(&description), D3D_OK);
    IDirect3DDevice9* device = nullptr;
    EXPECT_EQ(surface->GetDevice(&device), D3D_OK);
    IDirect3DSurface9* copy = nullptr;
    EXPECT_EQ(
        device->CreateOffscreenPlainSurface(description.Width, description.Height,
                                            description.Format, D3DPOOL_SYSTEMMEM, &copy, nullptr),
        D3D_OK);
    std::vector<uint32_t> pixels(static_cast<std::size_t>(description.Width) * description.Height);
    D3DLOCKED_RECT locked = {};
    if (device->GetRenderTargetData(surface, copy) == D3D_OK &&
        copy->LockRect(&locked, nullptr, D3DLOCK_READONLY) == D3D_OK) {
        for (UINT row = 0; row < description.Height; ++row) {
            std::memcpy(&pixels[static_cast<std::size_t>(row) * description.Width],
                        static_cast<const uint8_t*>(locked.pBits) + row * locked.Pitch,
                        description.Width * 4);
        }
        copy->UnlockRect();
    } else {
        ADD_FAILURE() << "reading the render target back failed";
    }
    copy->Release();
    device->Release();
    return pixels;
}

void DisplayTest::SetUp() {
    soft_d3d9::Reset();
    setenv("KESTO_DECODER_LIB", TEST_DECODER_PATH, 1);
    InstallRecordingCallbacks();
    ClearLog();
}

void DisplayTest::TearDown() {
    sink.reset();
    DestroyD3D();
    EXPECT_EQ(soft_d3d9::LiveObjects(), 0u) << soft_d3d9::DescribeLiveObjects();
    EXPECT_EQ(soft_d3d9::LiveWindows(), 0u);
    EXPECT_FALSE(soft_d3d9::WindowClassRegistered());
    SetCallbackFunc(nullptr);
}

IDirect3DSurface9* DisplayTest::Surface() {
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_S_OK);
    EXPECT_NE(surface, nullptr);
    return surface;
}

DecoderSink& DisplayTest::Sink() {
    if (!sink) sink = std::make_unique<DecoderSink>("display");
    return *sink;
}

void DisplayTest::Deliver(const std::vector<uint8_t>& frame, double azimuth) {
    const unsigned side = Sink().updateFrameSize(static_cast<int>(frame.size()));
    GetDisplayManager()->DeliverFrame(frame.data(), side, azimuth);
}

std::vector<uint32_t> DisplayTest::RenderAndRead() {
    EXPECT_EQ(Render(), KESTO_S_OK);
    return ReadBack(Surface());
}

}  // namespace kesto::test
