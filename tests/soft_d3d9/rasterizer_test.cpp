// Pixel rules of the software Direct3D 9 that the display's pictures do not pin down: where
// texel edges and pixel centres fall. (The camera, turns and zoom: the display's picture tests.)
#include "soft_d3d9_fixture.h"

namespace kesto::soft_d3d9::test {
namespace {

using SoftD3D9RasterizerTest = SoftD3D9Test;

uint32_t UniqueTexel(UINT column, UINT row) {
    return (row << 12) | column;
}

// A full-target textured quad: each pixel samples exactly on the boundary between two texels
// (Direct3D 9 puts pixel centres on integer coordinates), and the sub-texel resolution must
// still pick texel i. An untextured quad from screen x 0.75 to 4.25 and y 0.75 to 3.25 covers
// the pixel centres 1..4 across and 1..3 down; centres at i + 0.5 would give 1..3 and 1..2.
TEST_F(SoftD3D9RasterizerTest, TexelsAndPixelCentresLieOnIntegerScreenCoordinates) {
    const struct {
        UINT width, height;
        bool textured;
        double left, top, right, bottom;  // screen pixels
    } cases[] = {{64, 64, true, 0, 0, 64, 64},
                 {40, 24, true, 0, 0, 40, 24},
                 {1024, 1024, true, 0, 0, 1024, 1024},
                 {16, 16, false, 0.75, 0.75, 4.25, 3.25}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        auto device = MakeDevice();
        auto target = MakeTarget(device.get(), c.width, c.height);
        auto texture = MakeTexture(device.get(), c.width, c.height);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        auto x = [&](double screen) { return static_cast<float>(screen / c.width * 2 - 1); };
        auto y = [&](double screen) { return static_cast<float>(1 - screen / c.height * 2); };
        DrawQuad(device.get(), x(c.left), y(c.top), x(c.right), y(c.bottom),
                 c.textured ? texture.get() : nullptr);
        const auto pixels = ReadBack(device.get(), target.get());
        int mismatches = 0;
        for (UINT row = 0; row < c.height; ++row) {
            for (UINT column = 0; column < c.width; ++column) {
                const bool inside =
                    c.textured || (column >= 1 && column <= 4 && row >= 1 && row <= 3);
                const uint32_t expected = 0xFF000000u | (!inside      ? 0
                                                         : c.textured ? UniqueTexel(column, row)
                                                                      : 0xFFFFFFu);
                if (pixels[row * c.width + column] != expected && ++mismatches <= 5) {
                    ADD_FAILURE() << "pixel (" << column << ", " << row << "): " << std::hex
                                  << pixels[row * c.width + column] << " expected " << expected;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
}

}  // namespace
}  // namespace kesto::soft_d3d9::test
