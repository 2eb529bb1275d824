// The picture the library draws on the system's own Direct3D 9, with frames made by the test
// and streamed through the test decoder, read back from the host's surface: orientation, the
// angle from azimuth and rotation offset, zoom, and snapshots of the frame on display. The
// same pictures the tests against the software Direct3D expect on Linux.
#include <gtest/gtest.h>

#include <d3d9.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "display_win32_support.h"
#include "kesto/video_client.h"
#include "message_log.h"
#include "test_platform.h"

namespace kesto::test {
namespace {

constexpr unsigned kTarget = 64;
constexpr uint32_t kRed = 0xFF0000u;
constexpr uint32_t kBlack = 0x000000u;

// Red and green carry the frame row and column (side up to 256).
// Whether every target pixel's colour (the fourth byte left out) is expected(row, column);
// on failure, how many differ and the first few.
::testing::AssertionResult Shows(const std::vector<uint32_t>& pixels,
                                 const std::function<uint32_t(unsigned, unsigned)>& expected) {
    int count = 0;
    std::string first;
    for (unsigned row = 0; row < kTarget; ++row) {
        for (unsigned column = 0; column < kTarget; ++column) {
            const uint32_t shown = pixels[row * kTarget + column] & 0xFFFFFFu;
            if (shown == expected(row, column)) continue;
            if (++count <= 4) {
                first += " (" + std::to_string(row) + "," + std::to_string(column) +
                         ")=" + std::to_string(shown);
            }
        }
    }
    if (count == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << count << " pixels differ, first:" << first;
}

// Halves that are not halves: where the edge between two texels falls exactly on a pixel
// centre, which of the two that pixel shows is up to rounding inside the runtime, and wined3d
// on llvmpipe rounds otherwise than the software Direct3D does (a frame split in the middle
// puts its edge on the target's middle pixel column). The first kEdge rows or columns of a
// kSide frame end at `kEdgeOnTarget` on the target (x = 2c / kTarget - 1 at pixel column c, y
// = 1 - 2r / kTarget at pixel row r), a third of a pixel from the nearest pixel centre.
constexpr unsigned kSide = 32;
constexpr unsigned kEdge = 12;
const double kEdgeOnTarget = std::sqrt(2.0) * (2.0 * kEdge / kSide - 1.0);

// Frame rows run from left to right on the target, frame columns from top to bottom.
uint32_t RedLeftOfTheEdge(unsigned, unsigned column) {
    return 2.0 * column / kTarget - 1.0 < kEdgeOnTarget ? kRed : kBlack;
}
uint32_t RedAboveTheEdge(unsigned row, unsigned) {
    return 1.0 - 2.0 * row / kTarget > -kEdgeOnTarget ? kRed : kBlack;
}

class PictureOnDirect3D : public ::testing::Test {
  protected:
    void SetUp() override {
        const Direct3DHere here = ProbeDirect3D();
        if (here == Direct3DHere::None)
            GTEST_SKIP() << "no Direct3D here (under Wine: no X display)";
        if (here == Direct3DHere::RefusesDynamicTargets)
            answer = std::make_unique<WindowsSurfaceUsageAnswer>();
        SetDecoderLibrarySetting(TEST_DECODER_PATH);
        InstallRecordingCallbacks();
        ClearLog();
        SetSize(kTarget, kTarget);
        ASSERT_EQ(GetBackBufferNoRef(&surface), KESTO_S_OK);
        ASSERT_NE(surface, nullptr);
        feed = std::make_unique<FrameFeed>(TEST_DECODER_PATH);
    }
    void TearDown() override {
        feed.reset();
        DestroyClient();
        DestroyD3D();
        answer.reset();
        SetDecoderLibrarySetting(nullptr);
    }

    void Show(const std::vector<uint8_t>& frame) { ASSERT_TRUE(feed->Show(frame)) << Describe(); }
    void Show(const std::vector<uint8_t>& frame, float azimuth) {
        ASSERT_TRUE(feed->Show(frame, azimuth)) << Describe();
    }
    std::vector<uint32_t> RenderAndRead() {
        EXPECT_EQ(Render(), KESTO_S_OK);
        return ReadBack(surface);
    }

    std::unique_ptr<WindowsSurfaceUsageAnswer> answer;
    IDirect3DSurface9* surface = nullptr;
    std::unique_ptr<FrameFeed> feed;
};

TEST_F(PictureOnDirect3D, ShowsTheFrameTransposed) {
    Show(MakeFrame(kSide, [](unsigned row, unsigned) { return row < kEdge ? kRed : kBlack; }));
    EXPECT_TRUE(Shows(RenderAndRead(), RedLeftOfTheEdge));

    Show(
        MakeFrame(kSide, [](unsigned, unsigned column) { return column < kEdge ? kRed : kBlack; }));
    EXPECT_TRUE(Shows(RenderAndRead(), RedAboveTheEdge));
}

// Also: a NaN azimuth record leaves the picture turned as before, with the new pixels.
TEST_F(PictureOnDirect3D, AzimuthTurnsThePictureAndAnEqualRotationOffsetCancelsIt) {
    const auto frame = MakeFrame(32, Coordinates);
    const auto other = MakeFrame(32, [](unsigned row, unsigned) { return row * 0x0101u; });
    Show(frame, 0.0f);
    const auto straight = RenderAndRead();
    Show(frame, 0.1f);
    const auto turned = RenderAndRead();
    EXPECT_NE(turned, straight);
    Show(other, 0.1f);
    EXPECT_NE(RenderAndRead(), turned);
    Show(frame, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(RenderAndRead(), turned);

    // The record carries the azimuth as a float; the offset is the same number.
    SetRotationOffset(0.1f);
    Show(frame, 0.1f);
    EXPECT_EQ(RenderAndRead(), straight);
}

TEST_F(PictureOnDirect3D, ZoomShowsTheCentralPartOfTheFrame) {
    const auto frame = MakeFrame(256, Coordinates);
    for (double zoom : {1.0, 2.0}) {
        SetCurrentZoomFactor(zoom);
        Show(frame, 0.0f);
        ExpectZoomedCentre(RenderAndRead(), kTarget, zoom);
    }
}

class SnapshotOnDirect3D : public PictureOnDirect3D {
  protected:
    std::string Path(const std::string& name) const { return folder.Path(name); }

    ImageFolder folder;
};

// The snapshot is taken from the texture (read back by locking it) before the next frame
// goes in: the frame on display, transposed as on the surface, the fourth byte kept in PNG.
TEST_F(SnapshotOnDirect3D, ShowsTheFrameOnDisplayTransposedInPngAndBmp) {
    constexpr unsigned side = 16;
    const auto blank = MakeFrame(side, [](unsigned, unsigned) { return 0u; });
    for (uint32_t fourth : {0x40u, 0xFFu}) {
        // Texture row 0, column 5 and, to tell the two apart, row 5, column 0.
        Show(MakeFrame(side, [&](unsigned row, unsigned column) -> uint32_t {
            if (row == 0 && column == 5) return fourth << 24 | 0x302010u;
            if (row == 5 && column == 0) return 0xFF0A0B0Cu;
            return 0xFF000000u;
        }));
        const std::string path = Path(fourth == 0xFF ? "frame.bmp" : "frame.png");
        SaveVideoFrameRawToDisk(path.c_str());
        Show(blank);
        const Image image = ReadImageFile(path);
        ASSERT_EQ(image.width, static_cast<int>(side));
        ASSERT_EQ(image.height, static_cast<int>(side));
        const uint8_t* shown = image.At(5, 0);
        EXPECT_EQ(std::vector<uint8_t>(shown, shown + 4),
                  (std::vector<uint8_t>{0x30, 0x20, 0x10, static_cast<uint8_t>(fourth)}))
            << path;
        EXPECT_EQ(image.At(0, 5)[0], 0x0A) << path;
    }
    EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), 0u) << Describe();
}

}  // namespace
}  // namespace kesto::test
