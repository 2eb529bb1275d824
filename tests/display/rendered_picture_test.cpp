// The picture on the render target, through the real exports and the software Direct3D:
// orientation, angle, zoom, NaN azimuths, and frames whose side is neither the initial
// texture's nor the display state's.
#include <cmath>
#include <limits>

#include "display/display_manager.h"
#include "display/stream_renderer.h"
#include "display_fixture.h"
#include "kesto/video_client.h"
#include "message_log.h"
#include "platform/soft_d3d9/soft_d3d9_control.h"
#include "test_decoder_control.h"

namespace kesto::test {
namespace {

constexpr unsigned kTarget = 64;

// Red and green carry the frame row and column (side up to 256).
// Target pixels whose colour differs from expected(row, column).
int Mismatches(const std::vector<uint32_t>& pixels,
               const std::function<uint32_t(unsigned, unsigned)>& expected) {
    int count = 0;
    for (unsigned row = 0; row < kTarget; ++row) {
        for (unsigned column = 0; column < kTarget; ++column) {
            if (Rgb(pixels[row * kTarget + column]) != expected(row, column)) ++count;
        }
    }
    return count;
}

uint32_t RedIfLeft(unsigned, unsigned column) {
    return column < kTarget / 2 ? kRed : kBlack;
}

class RenderedPicture : public DisplayTest {
  protected:
    void SetUp() override {
        DisplayTest::SetUp();
        SetSize(kTarget, kTarget);
        Surface();
    }
};

TEST_F(RenderedPicture, ShowsTheFrameTransposed) {
    Deliver(MakeFrame(32, [](unsigned row, unsigned) { return row < 16 ? kRed : kBlack; }), 0.0);
    EXPECT_EQ(Mismatches(RenderAndRead(), RedIfLeft), 0);

    Deliver(MakeFrame(32, [](unsigned, unsigned column) { return column < 16 ? kRed : kBlack; }),
            0.0);
    EXPECT_EQ(Mismatches(RenderAndRead(),
                         [](unsigned row, unsigned) { return row < kTarget / 2 ? kRed : kBlack; }),
              0);
}

TEST_F(RenderedPicture, AzimuthAndAnEqualRotationOffsetCancel) {
    const auto frame = MakeFrame(32, Coordinates);
    Deliver(frame, 0.0);
    const auto straight = RenderAndRead();
    Deliver(frame, 0.1);
    EXPECT_NE(RenderAndRead(), straight);
    SetRotationOffset(0.1);
    Deliver(frame, 0.1);
    EXPECT_EQ(RenderAndRead(), straight);
}

TEST_F(RenderedPicture, ZoomShowsTheCentralPartOfTheFrame) {
    const auto frame = MakeFrame(256, Coordinates);
    for (double zoom : {1.0, 2.0}) {
        SetCurrentZoomFactor(zoom);
        Deliver(frame, 0.0);
        ExpectZoomedCentre(RenderAndRead(), kTarget, zoom);
    }
}

TEST_F(RenderedPicture, ANaNAzimuthCopiesThePixelsAndKeepsTheAzimuth) {
    const auto frame = MakeFrame(32, Coordinates);
    const auto other = MakeFrame(32, [](unsigned row, unsigned) { return row * 0x0101u; });
    Deliver(frame, 0.5);
    const auto turned = RenderAndRead();
    Deliver(other, 0.5);
    EXPECT_NE(RenderAndRead(), turned);
    Deliver(frame, std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(RenderAndRead(), turned);
}

// 300 is neither the first texture's side (1024) nor the display state's first frame size
// (512); each frame below is exactly 300 * 300 * 4 bytes.
TEST_F(RenderedPicture, AnyFrameSideIsDrawnWholeFromTheFirstFrame) {
    TestDecoderControl decoder(TEST_DECODER_PATH);
    decoder.QueueFrame(300 * 300 * 4, 0x40);
    const uint8_t chunk[1] = {0};
    Sink().processData(chunk, 1);
    EXPECT_EQ(CountCode(KESTO_MESSAGE_FRAME_READY), 1u);
    EXPECT_EQ(Mismatches(RenderAndRead(), [](unsigned, unsigned) { return 0x404040u; }), 0);

    const auto halfRed =
        MakeFrame(300, [](unsigned row, unsigned) { return row < 150 ? kRed : kBlack; });
    Deliver(halfRed, 0.0);
    EXPECT_EQ(Mismatches(RenderAndRead(), RedIfLeft), 0);

    // Renderers made anew after a device loss start from a 1024 texture again.
    soft_d3d9::LoseDevices();
    Surface();
    Deliver(halfRed, 0.0);
    EXPECT_EQ(Mismatches(RenderAndRead(), RedIfLeft), 0);

    // A display made anew while the stream runs: the sink announced 300 to the old one only.
    DestroyD3D();
    SetSize(kTarget, kTarget);
    Surface();
    Deliver(halfRed, 0.0);
    EXPECT_EQ(GetDisplayManager()->frameWidth, 512u);
    EXPECT_EQ(Mismatches(RenderAndRead(), RedIfLeft), 0);
}

}  // namespace
}  // namespace kesto::test
