// Frame snapshots on the software Direct3D: the BMP blend as a pure function, the file
// format by extension, failures, and which request a frame writes. (The picture in the
// file on both targets: picture_test.)
#include <filesystem>
#include <fstream>
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
    void Snap(const std::string& path) {
        SaveVideoFrameRawToDisk(path.c_str());
        Deliver(MakeFrame(side, [](unsigned, unsigned) { return 0u; }), 0.0f);
    }

    ImageFolder folder;
    unsigned side = 16;
};

// The extension, in any case, chooses the format; any other extension writes nothing.
TEST_F(Snapshot, TheExtensionChoosesTheFormatOrNothing) {
    Surface();
    Deliver(MakeFrame(side, [](unsigned, unsigned) { return 0xFF102030u; }), 0.0f);
    for (const char* name : {"upper.PNG", "mixed.Bmp", "photo.jpg", "trailing."}) Snap(Path(name));
    std::ifstream png(Path("upper.PNG"), std::ios::binary);
    std::ifstream bmp(Path("mixed.Bmp"), std::ios::binary);
    std::string magic(4, '\0');
    png.read(&magic[0], 4);
    EXPECT_EQ(magic, "\x89PNG");
    bmp.read(&magic[0], 2);
    EXPECT_EQ(magic.substr(0, 2), "BM");
    // A 24-bit BMP with the 40-byte information header.
    std::vector<char> header(28);
    bmp.read(header.data(), 28);
    EXPECT_EQ(header[12], 40);
    EXPECT_EQ(header[26], 24);
    EXPECT_FALSE(fs::exists(Path("photo.jpg")));
    EXPECT_FALSE(fs::exists(Path("trailing.")));
    EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), 0u) << Describe();
}

TEST_F(Snapshot, AFileThatCannotBeWrittenIsReportedWithItsPath) {
    Surface();
    Deliver(MakeFrame(side, [](unsigned, unsigned) { return 0u; }), 0.0f);
    const std::string png = Path("missing/frame.png");
    const std::string bmp = Path("missing/frame.bmp");
    Snap(png);
    Snap(bmp);
    EXPECT_TRUE(HasMessage(KESTO_MESSAGE_ERROR,
                           "Write png format encountered an error. Failed to write to: " + png))
        << Describe();
    EXPECT_TRUE(HasMessage(KESTO_MESSAGE_ERROR,
                           "Write bitmap encountered an error. Failed to write to: " + bmp))
        << Describe();
}

TEST_F(Snapshot, OnlyTheLastRequestBeforeAFrameIsWritten) {
    Surface();
    SaveVideoFrameRawToDisk(Path("first.png").c_str());
    Snap(Path("second.png"));
    EXPECT_FALSE(fs::exists(Path("first.png")));
    EXPECT_TRUE(fs::exists(Path("second.png")));
}

TEST_F(Snapshot, ARequestBeforeAnyRendererWaitsForTheFirstFrameAfterThem) {
    Snap(Path("early.png"));  // no renderers: the frame is dropped, the request waits
    EXPECT_FALSE(fs::exists(Path("early.png")));
    Surface();
    Deliver(MakeFrame(side, [](unsigned, unsigned) { return 0u; }), 0.0f);
    // Taken from the texture made for this frame's size, before the frame went in.
    EXPECT_EQ(ReadImageFile(Path("early.png")).width, static_cast<int>(side));

    // Renderers made anew after a device loss take the frame size with the next frame too.
    soft_d3d9::LoseDevices();
    Surface();
    Snap(Path("rebuilt.png"));
    EXPECT_EQ(ReadImageFile(Path("rebuilt.png")).width, static_cast<int>(side));
}

}  // namespace
}  // namespace kesto::test
