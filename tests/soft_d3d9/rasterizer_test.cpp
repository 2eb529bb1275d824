// Pixel rules of the software Direct3D 9 that the display's pictures do not pin down: where
// texel edges and pixel centres fall. (The camera, turns and zoom: the display's picture tests.)
#include "soft_d3d9_fixture.h"

namespace kesto::soft_d3d9::test {
namespace {

using SoftD3D9RasterizerTest = SoftD3D9Test;

uint32_t UniqueTexel(UINT column, UINT row) {
    return (row << 12) | column;
}

// Normalized device coordinate of a screen position (pixels) on a target of `size` pixels.
float NdcX(double screen, int size) {
    return static_cast<float>(screen / size * 2 - 1);
}
float NdcY(double screen, int size) {
    return static_cast<float>(1 - screen / size * 2);
}

TEST_F(SoftD3D9RasterizerTest, FullTargetQuadMapsEachTexelOntoOnePixel) {
    // Each pixel samples exactly on the boundary between two texels (Direct3D 9 puts pixel
    // centres on integer coordinates); the sub-texel resolution must still pick texel i.
    struct Size {
        UINT width, height;
    };
    for (const Size size : {Size{64, 64}, Size{40, 24}, Size{1024, 1024}}) {
        SCOPED_TRACE(testing::Message() << size.width << "x" << size.height);
        auto device = MakeDevice();
        auto target = MakeTarget(device.get(), size.width, size.height);
        auto texture = MakeTexture(device.get(), size.width, size.height, UniqueTexel);
        Vertex quad[4];
        Quad(quad, -1, 1, 1, -1);
        DrawStrip(device.get(), quad, kVertexFormat, texture.get());
        const auto pixels = ReadBack(device.get(), target.get());
        int mismatches = 0;
        for (UINT row = 0; row < size.height; ++row) {
            for (UINT column = 0; column < size.width; ++column) {
                const uint32_t got = pixels[row * size.width + column];
                const uint32_t expected = UniqueTexel(column, row) | 0xFF000000u;
                if (got != expected && ++mismatches <= 5) {
                    ADD_FAILURE() << "pixel (" << column << ", " << row << "): " << std::hex << got
                                  << " expected " << expected;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_F(SoftD3D9RasterizerTest, PixelCentresLieOnIntegerScreenCoordinates) {
    // A quad from screen x 0.75 to 4.25 and y 0.75 to 3.25 covers the pixel centres 1..4 across
    // and 1..3 down under Direct3D 9's rule; centres at i + 0.5 would give 1..3 and 1..2.
    auto device = MakeDevice();
    auto target = MakeTarget(device.get(), 16, 16);
    device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
    Vertex quad[4];
    Quad(quad, NdcX(0.75, 16), NdcY(0.75, 16), NdcX(4.25, 16), NdcY(3.25, 16));
    DrawStrip(device.get(), quad, kVertexFormat, nullptr);
    const auto pixels = ReadBack(device.get(), target.get());
    for (int row = 0; row < 16; ++row) {
        for (int column = 0; column < 16; ++column) {
            const bool inside = column >= 1 && column <= 4 && row >= 1 && row <= 3;
            EXPECT_EQ(pixels[row * 16 + column], inside ? 0xFFFFFFFFu : 0xFF000000u)
                << "pixel (" << column << ", " << row << ")";
        }
    }
}

}  // namespace
}  // namespace kesto::soft_d3d9::test
