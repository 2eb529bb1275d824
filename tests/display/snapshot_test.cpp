// Frame snapshots on the software Direct3D: the BMP blend as a pure function, and requests made
// before there are renderers or while they are made anew. (The picture in the file, formats and
// failures on both targets: picture_test.)
#include <filesystem>
#include <string>
#include <vector>

#include "display/snapshot.h"
#include "display_fixture.h"
#include "kesto/video_client.h"
#include "message_log.h"
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

class Snapshot : public DisplayTest {
  protected:
    std::string Path(const std::string& name) const { return folder.Path(name); }
    // Requests a snapshot and delivers the frame that writes it (from the texture as it was).
    void Snap(const std::string& name) {
        SaveVideoFrameRawToDisk(Path(name).c_str());
        Deliver(MakeFrame(16, [](unsigned, unsigned) { return 0u; }), 0.0f);
    }
    ImageFolder folder;
};

// Taken from the texture made for the frame's size, before the frame went in; renderers made
// anew after a device loss take the frame size with the next frame too.
TEST_F(Snapshot, ARequestBeforeAnyRendererWaitsForTheFirstFrameAfterThem) {
    Snap("early.png");  // no renderers: the frame is dropped, the request waits
    EXPECT_FALSE(fs::exists(Path("early.png")));
    Surface();
    Deliver(MakeFrame(16, [](unsigned, unsigned) { return 0u; }), 0.0f);
    EXPECT_EQ(ReadImageFile(Path("early.png")).width, 16);
    soft_d3d9::LoseDevices();
    Surface();
    Snap("rebuilt.png");
    EXPECT_EQ(ReadImageFile(Path("rebuilt.png")).width, 16);
}

}  // namespace
}  // namespace kesto::test
