// The display through its exports on both targets, read back from the host's surface: the
// surface and its settings, the picture's orientation, the angle from azimuth and rotation
// offset, zoom, and snapshots of the frame on display.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <tuple>

#include "display/snapshot.h"
#include "display_fixture.h"
#include "kesto/video_client.h"
#include "message_log.h"

namespace kesto::test {
namespace {

constexpr unsigned kTarget = 64;

// Halves that are not halves: where the edge between two texels falls exactly on a pixel
// centre, which of the two that pixel shows is up to rounding inside the runtime (wined3d on
// llvmpipe rounds otherwise than the software Direct3D). The first kEdge rows or columns of a
// kSide frame end at kEdgeOnTarget on the target (x = 2c / kTarget - 1 at pixel column c,
// y = 1 - 2r / kTarget at pixel row r), a third of a pixel from the nearest pixel centre.
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

using Surfaces = DisplayTest;

TEST_F(Surfaces, FollowSizeAndAlphaAndAreKeptWhileNothingChanges) {
    IDirect3DSurface9* first = Surface();
    D3DSURFACE_DESC desc = SurfaceDesc(first);
    EXPECT_EQ(std::make_tuple(desc.Width, desc.Height, desc.Format,
                              desc.Usage & D3DUSAGE_RENDERTARGET, desc.MultiSampleType, desc.Pool),
              std::make_tuple(1024u, 1024u, D3DFMT_X8R8G8B8, DWORD{D3DUSAGE_RENDERTARGET},
                              D3DMULTISAMPLE_NONE, D3DPOOL_DEFAULT));
    // Made on the extended device, which shares it with the compositor and does not lock it.
    D3DLOCKED_RECT locked{};
    EXPECT_NE(first->LockRect(&locked, nullptr, D3DLOCK_READONLY), D3D_OK);
    SetSize(1024, 1024);
    SetAlpha(0);
    SetNumDesiredSamples(0);
    EXPECT_EQ(Surface(), first);

    EXPECT_EQ(SetAlpha(1), KESTO_S_OK);
    EXPECT_EQ(SetSize(320, 200), KESTO_S_OK);
    desc = SurfaceDesc(Surface());
    EXPECT_EQ(std::make_tuple(desc.Format, desc.Width, desc.Height),
              std::make_tuple(D3DFMT_A8R8G8B8, 320u, 200u));
}

class Picture : public DisplayTest {
  protected:
    void SetUp() override {
        DisplayTest::SetUp();
        if (IsSkipped()) return;
        SetSize(kTarget, kTarget);
        Surface();
    }
};

TEST_F(Picture, ShowsTheFrameTransposedAndTurnedByTheAzimuth) {
    const auto redRows =
        MakeFrame(kSide, [](unsigned row, unsigned) { return row < kEdge ? kRed : kBlack; });
    Deliver(redRows, 0.0f);
    EXPECT_TRUE(Shows(RenderAndRead(), RedLeftOfTheEdge));
    Deliver(
        MakeFrame(kSide, [](unsigned, unsigned column) { return column < kEdge ? kRed : kBlack; }),
        0.0f);
    EXPECT_TRUE(Shows(RenderAndRead(), RedAboveTheEdge));
    // A quarter turn counter-clockwise takes the first picture's red from the left to the bottom.
    Deliver(redRows, static_cast<float>(std::acos(0.0)));
    EXPECT_TRUE(Shows(RenderAndRead(), [](unsigned row, unsigned) {
        return 1.0 - 2.0 * row / kTarget < kEdgeOnTarget ? kRed : kBlack;
    }));
}

// Also: a NaN azimuth leaves the picture turned as before, with the new pixels.
TEST_F(Picture, AzimuthTurnsThePictureAndAnEqualRotationOffsetCancelsIt) {
    const auto frame = MakeFrame(32, Coordinates);
    const auto other = MakeFrame(32, [](unsigned row, unsigned) { return row * 0x0101u; });
    Deliver(frame, 0.0f);
    const auto straight = RenderAndRead();
    Deliver(frame, 0.1f);
    const auto turned = RenderAndRead();
    EXPECT_NE(turned, straight);
    Deliver(other, 0.1f);
    EXPECT_NE(RenderAndRead(), turned);
    Deliver(frame, std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(RenderAndRead(), turned);

    SetRotationOffset(0.1f);          // the same number as the azimuth, which comes as a float
    SetRotationOffset(std::nan(""));  // never stored
    Deliver(frame, 0.1f);
    EXPECT_EQ(RenderAndRead(), straight);
}

TEST_F(Picture, ZoomShowsTheCentralPartOfTheFrameAndStaysWithinOneToTen) {
    const auto frame = MakeFrame(256, Coordinates);
    for (double zoom : {1.0, 2.0}) {
        SetCurrentZoomFactor(zoom);
        Deliver(frame, 0.0f);
        ExpectZoomedCentre(RenderAndRead(), kTarget, zoom);
    }
    const double clamped[][2] = {{0.5, 1.0}, {std::nan(""), 1.0}, {50.0, 10.0}, {10.0, 10.0}};
    for (const auto& c : clamped) {  // asked, shown
        SetCurrentZoomFactor(c[1]);
        Deliver(frame, 0.0f);
        const auto expected = RenderAndRead();
        SetCurrentZoomFactor(c[0]);
        Deliver(frame, 0.0f);
        EXPECT_EQ(RenderAndRead(), expected) << c[0];
    }
}

// The snapshot is taken from the texture before the next frame goes in: the frame on display,
// transposed as on the surface, the fourth byte kept in PNG and blended away in a 24-bit BMP.
// The extension, in any case, chooses the format, any other writes nothing; only the last
// request before a frame counts; a file that cannot be written is reported with its path.
TEST_F(Picture, SnapshotShowsTheFrameOnDisplayTransposedInPngAndBmp) {
    ImageFolder folder;
    constexpr unsigned side = 16;
    const auto blank = MakeFrame(side, [](unsigned, unsigned) { return 0u; });
    auto snap = [&](const std::string& name) {
        SaveVideoFrameRawToDisk(folder.Path(name).c_str());
        Deliver(blank, 0.0f);
    };
    for (uint32_t fourth : {0x40u, 0xFFu}) {
        // Texture row 0, column 5 and, to tell the two apart, the last row's column 0.
        Deliver(MakeFrame(side,
                          [&](unsigned row, unsigned column) -> uint32_t {
                              if (row == 0 && column == 5) return fourth << 24 | 0x302010u;
                              if (row == side - 1 && column == 0) return 0xFF0A0B0Cu;
                              return 0xFF000000u;
                          }),
                0.0f);
        // The extension is what follows the last dot, not one in a folder's name.
        const std::string name = fourth == 0xFF ? "frame.Bmp" : "shots.old/frame.PNG";
        std::filesystem::create_directory(folder.Path("shots.old"));
        SaveVideoFrameRawToDisk(folder.Path("replaced.png").c_str());
        snap(name);
        const Image image = ReadImageFile(folder.Path(name));
        ASSERT_EQ(image.width, static_cast<int>(side));
        ASSERT_EQ(image.height, static_cast<int>(side));
        const uint8_t* shown = image.At(5, 0);
        EXPECT_EQ(std::vector<uint8_t>(shown, shown + 4),
                  (std::vector<uint8_t>{0x30, 0x20, 0x10, static_cast<uint8_t>(fourth)}))
            << name;
        EXPECT_EQ(image.At(0, side - 1)[0], 0x0A) << name;
        std::ifstream file(folder.Path(name), std::ios::binary);
        std::string head(30, '\0');
        file.read(&head[0], 30);
        // The BMP's information header is 40 bytes long, its pixels 24 bits.
        EXPECT_EQ(fourth == 0xFF ? head.substr(0, 2) + head[14] + head[28] : head.substr(0, 4),
                  fourth == 0xFF ? "BM\x28\x18" : "\x89PNG");
    }
    for (const char* name : {"photo.jpg", "trailing.", "no/frame.png", "no/frame.bmp"}) snap(name);
    for (const char* name : {"photo.jpg", "trailing.", "replaced.png"})
        EXPECT_FALSE(std::ifstream(folder.Path(name)).good()) << name;
    for (const char* format : {"png format", "bitmap"}) {
        const std::string path = folder.Path(format[0] == 'p' ? "no/frame.png" : "no/frame.bmp");
        EXPECT_TRUE(HasMessage(
            KESTO_MESSAGE_ERROR,
            std::string("Write ") + format + " encountered an error. Failed to write to: " + path));
    }
    EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), 2u) << Describe();

    // A folder named outside the ANSI code page (Western: 1252) through the UTF-8 companion.
    const std::string unicode = folder.Path(u8"снимки_写真");
    std::filesystem::create_directory(std::filesystem::u8path(unicode));
    for (const std::string name : {"/frame.png", "/frame.bmp"}) {
        SaveVideoFrameRawToDiskUtf8((unicode + name).c_str());
        Deliver(blank, 0.0f);
        std::ifstream file(std::filesystem::u8path(unicode + name), std::ios::binary);
        std::string head(2, '\0');
        file.read(&head[0], 2);
        EXPECT_EQ(head, name == "/frame.png" ? "\x89P" : "BM") << name;
    }
}

TEST(SnapshotConversion, BmpPixelsAreBlendedOverMagentaByTheFourthByte) {
    const uint8_t rgba[] = {0x30, 0x20, 0x10, 0xFF, 0x30, 0x20, 0x10, 0x00, 0x00, 0xFF, 0x00, 0x80};
    uint8_t rgb[9] = {};
    BlendOverMagenta(rgba, 3, rgb);
    const uint8_t expected[] = {0x30, 0x20, 0x10, 0xFF, 0x00, 0xFF, 0x7F, 0x80, 0x7F};
    EXPECT_EQ(std::vector<uint8_t>(rgb, rgb + 9), std::vector<uint8_t>(expected, expected + 9));
}

}  // namespace
}  // namespace kesto::test
