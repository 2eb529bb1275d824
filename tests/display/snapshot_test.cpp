// Frame snapshots on the software Direct3D: the BMP blend as a pure function, and requests made
// before there are renderers or while they are made anew. (The picture in the file, formats and
// failures on both targets: picture_test.)
#include <filesystem>
#include <vector>

#include "display/snapshot.h"
#include "display_fixture.h"
#include "kesto/video_client.h"
#include "platform/soft_d3d9/soft_d3d9_control.h"

namespace kesto::test {
namespace {

namespace fs = std::filesystem;

TEST(SnapshotConversion, BmpPixelsAreBlendedOverMagentaByTheFourthByte) {
    const uint8_t rgba[] = {0x30, 0x20, 0x10, 0xFF, 0x30, 0x20, 0x10, 0x00, 0x00, 0xFF, 0x00, 0x80};
    uint8_t rgb[9] = {};
    BlendOverMagenta(rgba, 3, rgb);
    const uint8_t expected[] = {0x30, 0x20, 0x10, 0xFF, 0x00, 0xFF, 0x7F, 0x80, 0x7F};
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 9), std::vector<uint8_t>(expected, expected + 9));
}

using Snapshot = DisplayTest;

// Taken from the texture made for the frame's size, before the frame went in; renderers made
// anew after a device loss take the frame size with the next frame too.
TEST_F(Snapshot, ARequestBeforeAnyRendererWaitsForTheFirstFrameAfterThem) {
    ImageFolder folder;
    const auto frame = MakeFrame(16, [](unsigned, unsigned) { return 0u; });
    SaveVideoFrameRawToDisk(folder.Path("early.png").c_str());
    Deliver(frame, 0.0f);  // no renderers: the frame is dropped, the request waits
    EXPECT_FALSE(fs::exists(folder.Path("early.png")));
    Surface();
    Deliver(frame, 0.0f);
    EXPECT_EQ(ReadImageFile(folder.Path("early.png")).width, 16);
    soft_d3d9::LoseDevices();
    Surface();
    SaveVideoFrameRawToDisk(folder.Path("rebuilt.png").c_str());
    Deliver(frame, 0.0f);
    EXPECT_EQ(ReadImageFile(folder.Path("rebuilt.png")).width, 16);
}

}  // namespace
}  // namespace kesto::test
