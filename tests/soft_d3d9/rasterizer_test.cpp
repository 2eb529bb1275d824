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

TEST_F(SoftD3D9RasterizerTest, EdgesThroughPixelCentresFollowTheTopLeftRule) {
    auto device = MakeDevice();
    auto target = MakeTarget(device.get(), 16, 16);
    Vertex quad[4];
    // Right half green, then left half red: the shared edge at x = 8 runs through the centres of
    // column 8, which belongs to the right quad (its left edge) and not to the left one.
    Quad(quad, 0, 1, 1, -1, 0xFF00FF00u);
    DrawStrip(device.get(), quad, kVertexFormat, nullptr);
    Quad(quad, -1, 1, 0, -1, 0xFFFF0000u);
    DrawStrip(device.get(), quad, kVertexFormat, nullptr);
    auto pixels = ReadBack(device.get(), target.get());
    for (int column = 0; column < 16; ++column) {
        EXPECT_EQ(pixels[5 * 16 + column], column < 8 ? 0xFFFF0000u : 0xFF00FF00u)
            << "column " << column;
    }
    // Bottom half blue, then top half yellow: row 8 belongs to the bottom quad (its top edge).
    Quad(quad, -1, 0, 1, -1, 0xFF0000FFu);
    DrawStrip(device.get(), quad, kVertexFormat, nullptr);
    Quad(quad, -1, 1, 1, 0, 0xFFFFFF00u);
    DrawStrip(device.get(), quad, kVertexFormat, nullptr);
    pixels = ReadBack(device.get(), target.get());
    for (int row = 0; row < 16; ++row) {
        EXPECT_EQ(pixels[row * 16 + 5], row < 8 ? 0xFFFFFF00u : 0xFF0000FFu) << "row " << row;
    }
}

TEST_F(SoftD3D9RasterizerTest, PretransformedQuadShowsTheHalfPixelOffset) {
    constexpr UINT kWidth = 32, kHeight = 16;
    auto device = MakeDevice();
    auto target = MakeTarget(device.get(), kWidth, kHeight);
    auto texture = MakeTexture(device.get(), kWidth, kHeight, UniqueTexel);
    auto draw = [&](float shift) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0, 1.0f, 0);
        const float right = kWidth + shift, bottom = kHeight + shift;
        const ScreenVertex quad[4] = {{shift, shift, 0, 1, 0xFFFFFFFFu, 0, 0},
                                      {right, shift, 0, 1, 0xFFFFFFFFu, 1, 0},
                                      {shift, bottom, 0, 1, 0xFFFFFFFFu, 0, 1},
                                      {right, bottom, 0, 1, 0xFFFFFFFFu, 1, 1}};
        DrawStrip(device.get(), quad, kScreenVertexFormat, texture.get());
        return ReadBack(device.get(), target.get());
    };
    // The documented correction, vertices moved by −0.5: texel centres land on pixel centres.
    auto pixels = draw(-0.5f);
    for (UINT row = 0; row < kHeight; ++row) {
        for (UINT column = 0; column < kWidth; ++column) {
            ASSERT_EQ(pixels[row * kWidth + column], UniqueTexel(column, row) | 0xFF000000u)
                << "pixel (" << column << ", " << row << ")";
        }
    }
    // Moved by +0.5 instead, the quad misses the first row and column and every pixel shows the
    // texel up and to the left of it.
    pixels = draw(0.5f);
    EXPECT_EQ(pixels[0], 0xFF000000u);
    EXPECT_EQ(pixels[5], 0xFF000000u);
    EXPECT_EQ(pixels[5 * kWidth], 0xFF000000u);
    for (UINT row = 1; row < kHeight; ++row) {
        for (UINT column = 1; column < kWidth; ++column) {
            ASSERT_EQ(pixels[row * kWidth + column], UniqueTexel(column - 1, row - 1) | 0xFF000000u)
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

TEST_F(SoftD3D9RasterizerTest, PointSamplingTakesTheTexelUnderThePixelCentreAndWraps) {
    auto device = MakeDevice();
    auto target = MakeTarget(device.get(), 16, 16);
    Vertex quad[4];
    Quad(quad, -1, 1, 1, -1);
    struct Case {
        UINT textureSize;
        float repeat;
        UINT (*texelOf)(UINT pixel);
    };
    const Case cases[] = {
        {4, 1, [](UINT pixel) { return pixel / 4; }},   // magnified: blocks, no blending
        {32, 1, [](UINT pixel) { return pixel * 2; }},  // minified: every other texel, level 0 only
        {8, 2, [](UINT pixel) { return pixel % 8; }},   // coordinates 0..2 repeat the texture
        // Coordinates a hair short of 1 put every sample a hair short of its texel boundary;
        // resolved to 1/256 texel first, as hardware does, they still land on texel i.
        {16, std::nextafter(1.0f, 0.0f), [](UINT pixel) { return pixel; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "texture " << c.textureSize << " repeat " << c.repeat);
        auto texture = MakeTexture(device.get(), c.textureSize, c.textureSize, UniqueTexel);
        for (Vertex& vertex : quad) {
            vertex.u = vertex.u > 0 ? c.repeat : 0;
            vertex.v = vertex.v > 0 ? c.repeat : 0;
        }
        DrawStrip(device.get(), quad, kVertexFormat, texture.get());
        const auto pixels = ReadBack(device.get(), target.get());
        for (UINT row = 0; row < 16; ++row) {
            for (UINT column = 0; column < 16; ++column) {
                ASSERT_EQ(pixels[row * 16 + column],
                          UniqueTexel(c.texelOf(column), c.texelOf(row)) | 0xFF000000u)
                    << "pixel (" << column << ", " << row << ")";
            }
        }
    }
}

TEST_F(SoftD3D9RasterizerTest, TextureCoordinatesAreInterpolatedPerspectiveCorrectly) {
    // Left edge at w = 1, right edge at w = 4: across the quad u grows as t / (4 − 3t), not t.
    constexpr UINT kWidth = 64;
    auto device = MakeDevice();
    auto target = MakeTarget(device.get(), kWidth, 4);
    auto texture = MakeTexture(device.get(), kWidth, 1, [](UINT column, UINT) { return column; });
    const ScreenVertex quad[4] = {{0, 0, 0, 1.0f, 0xFFFFFFFFu, 0, 0},
                                  {kWidth, 0, 0, 0.25f, 0xFFFFFFFFu, 1, 0},
                                  {0, 4, 0, 1.0f, 0xFFFFFFFFu, 0, 0},
                                  {kWidth, 4, 0, 0.25f, 0xFFFFFFFFu, 1, 0}};
    DrawStrip(device.get(), quad, kScreenVertexFormat, texture.get());
    const auto pixels = ReadBack(device.get(), target.get());
    for (UINT column = 0; column < kWidth; ++column) {
        const double t = static_cast<double>(column) / kWidth;
        const double u = t / (4 - 3 * t) * kWidth;
        if (std::fabs(u - std::round(u)) < 0.01) continue;
        EXPECT_EQ(pixels[2 * kWidth + column], static_cast<uint32_t>(u) | 0xFF000000u)
            << "column " << column;
    }
    EXPECT_EQ(pixels[2 * kWidth + kWidth / 2], 12u | 0xFF000000u);  // u = 0.2 half-way across
}

TEST_F(SoftD3D9RasterizerTest, ClearFillsTheTargetWithAlphaKeptOnlyByAlphaFormats) {
    auto device = MakeDevice();
    auto opaque = MakeTarget(device.get(), 8, 8, D3DFMT_X8R8G8B8);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80000080u, 1.0f, 0), S_OK);
    for (uint32_t pixel : ReadBack(device.get(), opaque.get())) ASSERT_EQ(pixel, 0xFF000080u);

    auto withAlpha = MakeTarget(device.get(), 8, 8, D3DFMT_A8R8G8B8);
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80000080u, 1.0f, 0), S_OK);
    const D3DRECT corner{2, 3, 4, 5};
    EXPECT_EQ(device->Clear(1, &corner, D3DCLEAR_TARGET, 0x12345678u, 1.0f, 0), S_OK);
    const auto pixels = ReadBack(device.get(), withAlpha.get());
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 8; ++column) {
            const bool inCorner = column >= 2 && column < 4 && row >= 3 && row < 5;
            EXPECT_EQ(pixels[row * 8 + column], inCorner ? 0x12345678u : 0x80000080u);
        }
    }
    // There is no depth buffer to clear.
    EXPECT_EQ(device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0, 1.0f, 0),
              D3DERR_INVALIDCALL);
}

TEST_F(SoftD3D9RasterizerTest, StageZeroModulatesTheTextureByTheDiffuseColour) {
    auto device = MakeDevice();
    auto target = MakeTarget(device.get(), 4, 4, D3DFMT_A8R8G8B8);
    auto texture = MakeTexture(
        device.get(), 4, 4, [](UINT, UINT) { return 0x40FF8040u; }, D3DFMT_A8R8G8B8);
    Vertex quad[4];
    Quad(quad, -1, 1, 1, -1, 0xFF808080u);
    DrawStrip(device.get(), quad, kVertexFormat, texture.get());
    // Colour: texel × diffuse per channel; alpha: the texel's (SELECTARG1 of the texture).
    EXPECT_EQ(ReadBack(device.get(), target.get())[5], 0x40804020u);

    // Without a texture the diffuse colour itself is drawn, opaque.
    Quad(quad, -1, 1, 1, -1, 0x20123456u);
    DrawStrip(device.get(), quad, kVertexFormat, nullptr);
    EXPECT_EQ(ReadBack(device.get(), target.get())[5], 0xFF123456u);

    // An alpha texel drawn into an X8R8G8B8 target reads back opaque.
    auto opaque = MakeTarget(device.get(), 4, 4, D3DFMT_X8R8G8B8);
    Quad(quad, -1, 1, 1, -1);
    DrawStrip(device.get(), quad, kVertexFormat, texture.get());
    EXPECT_EQ(ReadBack(device.get(), opaque.get())[5], 0xFFFF8040u);
}

TEST_F(SoftD3D9RasterizerTest, DeviceDefaultsCullCounterClockwiseTrianglesAndLightThemBlack) {
    auto device = MakeDevice();
    auto target = MakeTarget(device.get(), 8, 8);
    auto texture = MakeTexture(device.get(), 8, 8, [](UINT, UINT) { return 0xFFFFFFFFu; });
    auto draw = [&](float top, float bottom, bool displayStates) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF0000FFu, 1.0f, 0);
        Vertex quad[4];
        Quad(quad, -1, top, 1, bottom);
        DrawStrip(device.get(), quad, kVertexFormat, texture.get(), displayStates);
        return ReadBack(device.get(), target.get())[4 * 8 + 4];
    };
    // Mirrored top to bottom (as the display's negative y scale does) the strip turns
    // counter-clockwise on screen, which D3DCULL_CCW, the default, drops.
    EXPECT_EQ(draw(-1, 1, false), 0xFF0000FFu);
    // Facing the default way it is drawn, but lit: no lights and a black default material.
    EXPECT_EQ(draw(1, -1, false), 0xFF000000u);
    // The display's states: no culling, no lighting.
    EXPECT_EQ(draw(-1, 1, true), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace kesto::soft_d3d9::test
