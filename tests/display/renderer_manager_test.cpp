// The renderer manager through the display exports on the software Direct3D: what it makes,
// adapter choice, device loss, injected failures, frames of any side, and the end of the
// display; and through its renderer factory, what the frame hand-off asks of each renderer.
// (Surfaces and pictures on both targets: picture_test.)
#include <string>
#include <vector>

#include "display/display_manager.h"
#include "display_fixture.h"
#include "kesto/video_client.h"
#include "message_log.h"
#include "platform/soft_d3d9/soft_d3d9_control.h"
#include "test_decoder_control.h"

namespace kesto::test {
namespace {

using RendererManager = DisplayTest;

// The first surface: adapter 0's, on the extended object, not lockable, remade only when
// alpha is turned on or off. Multisampling needs the extended object and support.
TEST_F(RendererManager, MultisamplingNeedsTheExtendedObjectAndSupport) {
    Surface();
    SetAlpha(1);
    Surface();
    SetAlpha(2);  // still alpha: nothing to remake
    Surface();
    EXPECT_EQ(soft_d3d9::CallCount("CreateRenderTarget"), 2u);
    const auto devices = soft_d3d9::CreatedDevices();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].adapter, 0u);
    EXPECT_TRUE(devices[0].extended);
    EXPECT_EQ(devices[0].behaviorFlags, 0x46u);
    EXPECT_FALSE(soft_d3d9::CreatedRenderTargets()[0].lockable);
    SetNumDesiredSamples(4);
    EXPECT_EQ(SurfaceDesc(Surface()).MultiSampleType, D3DMULTISAMPLE_4_SAMPLES);

    // Unsupported on the first of two adapters: lowered once, for both, and it stays lowered.
    DestroyD3D();
    soft_d3d9::Reset();
    soft_d3d9::SetAdapterMonitors({{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}});
    SetNumDesiredSamples(8);
    EXPECT_EQ(SurfaceDesc(Surface()).MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(soft_d3d9::CallCount("CheckDeviceMultiSampleType"), 1u);
    const auto targets = soft_d3d9::CreatedRenderTargets();
    ASSERT_EQ(targets.size(), 2u);
    EXPECT_EQ(targets[1].multiSample, D3DMULTISAMPLE_NONE);  // the second adapter's

    // No extended object: plain, lockable surfaces without multisampling.
    DestroyD3D();
    soft_d3d9::Reset();
    soft_d3d9::SetExtendedAvailable(false);
    SetNumDesiredSamples(4);
    EXPECT_EQ(SurfaceDesc(Surface()).MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(soft_d3d9::CallCount("CheckDeviceMultiSampleType"), 0u);
    EXPECT_FALSE(soft_d3d9::CreatedDevices()[0].extended);
    EXPECT_TRUE(soft_d3d9::CreatedRenderTargets()[0].lockable);
    soft_d3d9::LoseDevices();  // noticed on the plain device too
    Surface();
    EXPECT_EQ(soft_d3d9::CreatedDevices().size(), 2u);
}

TEST_F(RendererManager, SetAdapterFollowsTheMonitorUnderThePoint) {
    soft_d3d9::SetAdapterMonitors({{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}});
    IDirect3DSurface9* first = Surface();
    EXPECT_EQ(SetAdapter(KestoPoint{2000, 500}), KESTO_S_OK);
    IDirect3DSurface9* second = Surface();
    EXPECT_NE(second, first);
    EXPECT_EQ(SetAdapter(KestoPoint{-5000, 500}), KESTO_S_OK);  // on no monitor
    EXPECT_EQ(Surface(), second);
    SetAdapter(KestoPoint{100, 100});
    EXPECT_EQ(Surface(), first);
    EXPECT_EQ(soft_d3d9::CallCount("CreateRenderTarget"), 2u);
}

TEST_F(RendererManager, ALostDeviceIsRebuiltByTheCallThatNoticesIt) {
    IDirect3DSurface9* first = Surface();
    soft_d3d9::SetDeviceState(S_PRESENT_OCCLUDED);  // a status, not a loss
    EXPECT_EQ(Surface(), first);
    soft_d3d9::LoseDevices();
    Surface();
    EXPECT_EQ(soft_d3d9::CreatedDevices().size(), 2u);
    EXPECT_EQ(Render(), KESTO_S_OK);

    // While the device cannot be made again: 0 and no surface, then recovery.
    soft_d3d9::LoseDevices();
    soft_d3d9::FailNextCall("CreateDeviceEx", D3DERR_DEVICELOST);
    IDirect3DSurface9* surface = reinterpret_cast<IDirect3DSurface9*>(1);
    EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_S_OK);
    EXPECT_EQ(surface, nullptr);
    Surface();

    // SetAdapter notices a loss too and releases everything; Render then draws nothing.
    soft_d3d9::LoseDevices();
    SetAdapter(KestoPoint{0, 0});
    EXPECT_EQ(soft_d3d9::LiveObjects(), 0u) << soft_d3d9::DescribeLiveObjects();
    EXPECT_EQ(Render(), KESTO_S_OK);
    Surface();
}

// Render passes failures through except a lost device's.
TEST_F(RendererManager, FailuresOnTheWayLeaveARecoverableState) {
    EXPECT_EQ(Render(), KESTO_S_OK);  // before any surface: nothing made, nothing drawn
    EXPECT_EQ(soft_d3d9::LiveObjects(), 0u);
    EXPECT_EQ(soft_d3d9::CallCount("BeginScene"), 0u);
    soft_d3d9::SetCaps(true, true, true);  // power-of-two textures only
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_E_FAIL);
    EXPECT_EQ(surface, nullptr);
    soft_d3d9::SetCaps(true, true, false);
    Surface();
    soft_d3d9::FailNextCall("DrawPrimitive", E_FAIL);
    EXPECT_EQ(Render(), KESTO_E_FAIL);
    soft_d3d9::FailNextCall("BeginScene", D3DERR_DEVICELOST);
    EXPECT_EQ(Render(), KESTO_S_OK);

    SetAlpha(1);
    soft_d3d9::FailNextCall("CheckDeviceFormat", D3DERR_NOTAVAILABLE);
    EXPECT_EQ(GetBackBufferNoRef(&surface), KESTO_E_FAIL);
    EXPECT_EQ(SurfaceDesc(Surface()).Format, D3DFMT_A8R8G8B8);
}

uint32_t RedIfLeft(unsigned, unsigned column) {
    return column < 32 ? kRed : kBlack;
}

// 300 is neither the first texture's side (1024) nor the display state's first frame size
// (512); each frame below is exactly 300 * 300 * 4 bytes. DestroyD3D ends the display, and a
// new one starts afresh.
TEST_F(RendererManager, AnyFrameSideIsDrawnWholeFromTheFirstFrame) {
    SetSize(64, 64);
    Surface();
    TestDecoderControl decoder(TEST_DECODER_PATH);
    decoder.QueueFrame(300 * 300 * 4, 0x40);
    const uint8_t chunk[1] = {0};
    Sink().processData(chunk, 1);
    EXPECT_EQ(CountCode(KESTO_MESSAGE_FRAME_READY), 1u);
    EXPECT_TRUE(Shows(RenderAndRead(), [](unsigned, unsigned) { return 0x404040u; }));
    const auto halfRed =
        MakeFrame(300, [](unsigned row, unsigned) { return row < 150 ? kRed : kBlack; });
    // Renderers made anew after a device loss start from a 1024 texture again; a display made
    // anew while the stream runs was not told the frame size, which the sink announced to the
    // old one only.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        if (round == 1) soft_d3d9::LoseDevices();
        if (round == 2) {
            SetCurrentZoomFactor(3.0);
            DestroyD3D();
            // The new display starts at the default size and zoom 1.
            EXPECT_EQ(SurfaceDesc(Surface()).Width, 1024u);
        }
        SetSize(64, 64);
        Surface();
        Deliver(halfRed, 0.0f);
        EXPECT_TRUE(Shows(RenderAndRead(), RedIfLeft));
    }
    Deliver(MakeFrame(256, Coordinates), 0.0f);
    ExpectZoomedCentre(RenderAndRead(), 64, 1.0);
}

class RecordingRenderer : public CRenderer {
  public:
    explicit RecordingRenderer(bool fail) : failsToInitialize(fail) {}
    HRESULT Initialize(IDirect3D9* d3d, IDirect3D9Ex* d3dEx, HWND window,
                       unsigned adapter) override {
        return failsToInitialize ? E_FAIL : CRenderer::Initialize(d3d, d3dEx, window, adapter);
    }
    HRESULT Render() override { return S_OK; }
    HRESULT ResizeTexture(unsigned width, unsigned height) override {
        calls.push_back("resize " + std::to_string(width) + "x" + std::to_string(height));
        return S_OK;
    }
    void SaveSnapshot(platform::HostPath path) override {
        calls.push_back("snapshot " + path.text);
    }
    void UploadFrame(const uint8_t* pixels, unsigned side, double azimuth) override {
        calls.push_back("upload " + std::to_string(side) + " " + std::to_string(pixels[0]) + " " +
                        std::to_string(azimuth));
    }
    const bool failsToInitialize;
    std::vector<std::string> calls;
};

// Changes wait for the first frame that every renderer takes (none while a renderer is
// missing): each takes the values and one resize to the latest size, only the active one the
// snapshot.
TEST_F(RendererManager, PendingChangesReachEveryRendererTheSnapshotOnlyTheActiveOne) {
    soft_d3d9::SetAdapterMonitors({{0, 0, 1920, 1080}, {1920, 0, 3840, 1080}});
    std::vector<RecordingRenderer*> renderers;
    CDisplayManager display([&renderers] {
        auto renderer = std::make_unique<RecordingRenderer>(renderers.size() == 1);
        renderers.push_back(renderer.get());
        return renderer;
    });
    const uint8_t pixel[4] = {7, 0, 0, 0};
    display.SetRotationOffset(0.25);
    display.SetZoomFactor(20.0);  // clamped to 10
    display.RequestSnapshot("shot.png");
    display.DeliverFrame(pixel, 300, 0.25);  // no renderers yet: dropped
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(display.GetBackBufferNoRef(&surface), E_FAIL);  // the second renderer fails
    display.DeliverFrame(pixel, 300, 0.25);
    EXPECT_EQ(renderers[0]->calls, (std::vector<std::string>{"resize 300x300"}));
    renderers.assign(2, nullptr);  // the next call starts over
    EXPECT_EQ(display.GetBackBufferNoRef(&surface), S_OK);
    ASSERT_EQ(renderers.size(), 4u);
    display.DeliverFrame(pixel, 1, 0.5);
    display.DeliverFrame(pixel, 1, 0.75);  // nothing pending: just the upload
    EXPECT_EQ(renderers[2]->calls,
              (std::vector<std::string>{"resize 1x1", "snapshot shot.png", "upload 1 7 0.500000",
                                        "upload 1 7 0.750000"}));
    EXPECT_EQ(renderers[3]->calls, (std::vector<std::string>{"resize 1x1"}));
    for (const RecordingRenderer* renderer : {renderers[2], renderers[3]}) {
        EXPECT_EQ(renderer->rotationOffset, 0.25);
        EXPECT_EQ(renderer->zoomFactor, 10.0);
    }
}

}  // namespace
}  // namespace kesto::test
