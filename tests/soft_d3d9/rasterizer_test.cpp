// Pixels drawn by the software Direct3D 9, read back through GetRenderTargetData as the viewer
// and the display tests do on real Direct3D.
#include <cmath>

#include "display/d3dx_math.h"
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

// The display's camera (view and projection of the stream renderer) and world transform
// RotationZ(angle) · Scaling(s, −s, s), checked against the mapping worked out analytically:
// every pixel whose texture position is not within a hair of a texel or quad boundary.
TEST_F(SoftD3D9RasterizerTest, RotatedScaledQuadUnderTheDisplayCameraMatchesTheAnalyticMapping) {
    constexpr int kWidth = 128, kHeight = 96, kTexture = 64;
    constexpr uint32_t kClearColor = 0xFF000080u;
    const float eyeZ = static_cast<float>(-1.0 / std::tan(0.39269909262657166));
    D3DMATRIX view, projection;
    const D3DVECTOR eye{0, 0, eyeZ}, at{0, 0, 0}, up{0, 1, 0};
    MatrixLookAtLH(&view, &eye, &at, &up);
    MatrixPerspectiveFovLH(&projection, 0.7853982f, 1.0f, 1.0f, 100.0f);

    struct Case {
        double angle, scale;
    };
    for (const Case c : {Case{0.3, 1.4142135}, Case{1.2, 2.0}, Case{-2.0, 0.6}, Case{3.0, 0.9}}) {
        SCOPED_TRACE(testing::Message() << "angle " << c.angle << " scale " << c.scale);
        auto device = MakeDevice();
        auto target = MakeTarget(device.get(), kWidth, kHeight);
        auto texture = MakeTexture(device.get(), kTexture, kTexture, UniqueTexel);
        D3DMATRIX rotation, scaling, world;
        MatrixRotationZ(&rotation, static_cast<float>(c.angle));
        const float s = static_cast<float>(c.scale);
        MatrixScaling(&scaling, s, -s, s);
        MatrixMultiply(&world, &rotation, &scaling);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device->Clear(0, nullptr, D3DCLEAR_TARGET, kClearColor, 1.0f, 0);
        Vertex quad[4];
        Quad(quad, -1, 1, 1, -1);
        DrawStrip(device.get(), quad, kVertexFormat, texture.get());
        const auto pixels = ReadBack(device.get(), target.get());

        int compared = 0;
        for (int row = 0; row < kHeight; ++row) {
            for (int column = 0; column < kWidth; ++column) {
                // Screen → NDC → the plane z = 0 (w is the eye distance there) → the square.
                const double w = -eyeZ;
                const double worldX = (2.0 * column / kWidth - 1) * w / projection._11;
                const double worldY = (1 - 2.0 * row / kHeight) * w / projection._22;
                const double scaledX = worldX / c.scale, scaledY = worldY / -c.scale;
                const double x = scaledX * std::cos(c.angle) + scaledY * std::sin(c.angle);
                const double y = -scaledX * std::sin(c.angle) + scaledY * std::cos(c.angle);
                const double u = (x + 1) / 2 * kTexture, v = (1 - y) / 2 * kTexture;
                auto nearBoundary = [](double t) { return std::fabs(t - std::round(t)) < 0.01; };
                if (nearBoundary(u) || nearBoundary(v)) continue;
                const bool inside = u > 0 && u < kTexture && v > 0 && v < kTexture;
                const uint32_t expected =
                    inside ? UniqueTexel(static_cast<UINT>(u), static_cast<UINT>(v)) | 0xFF000000u
                           : kClearColor;
                ASSERT_EQ(pixels[row * kWidth + column], expected)
                    << "pixel (" << column << ", " << row << ")";
                ++compared;
            }
        }
        EXPECT_GT(compared, kWidth * kHeight * 8 / 10);
    }
}

}  // namespace
}  // namespace kesto::soft_d3d9::test
