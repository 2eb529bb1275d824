// Triangle rasterization of the software Direct3D 9: clipping in homogeneous space, Direct3D 9's
// viewport mapping, pixel-centre and fill rules, and the default texture stage (point sampling,
// wrap addressing, texture colour modulated by the diffuse colour).
#pragma once

#include <cstdint>

namespace kesto::soft_d3d9::internal {

// A 32-bit-per-pixel image (A8R8G8B8 or X8R8G8B8 as little-endian 32-bit values).
struct PixelTarget {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;          // in pixels
    bool hasAlpha = false;  // A8R8G8B8; X8R8G8B8 targets get 0xFF in the unused byte
};

struct TextureSource {
    const uint32_t* texels = nullptr;  // null: no texture set at stage 0
    int width = 0;
    int height = 0;
    int pitch = 0;  // in texels
    bool hasAlpha = false;
};

enum class CullMode { None, Clockwise, CounterClockwise };

// A vertex after the world, view and projection transforms (clip space), with its texture
// coordinates and diffuse colour (channels 0..255).
struct ClipVertex {
    double x, y, z, w;
    double u, v;
    double a, r, g, b;
};

// Clips the triangle to the view volume (0 <= z <= w, and a guard band in x and y), maps it to
// the whole target and fills it.
void DrawClipSpaceTriangle(const PixelTarget& target, const TextureSource& texture, CullMode cull,
                           const ClipVertex& v0, const ClipVertex& v1, const ClipVertex& v2);

// A pre-transformed (D3DFVF_XYZRHW) vertex: x, y in screen pixels, rhw = 1 / w.
struct ScreenSpaceVertex {
    double x, y, z, rhw;
    double u, v;
    double a, r, g, b;
};

void DrawScreenSpaceTriangle(const PixelTarget& target, const TextureSource& texture, CullMode cull,
                             const ScreenSpaceVertex& v0, const ScreenSpaceVertex& v1,
                             const ScreenSpaceVertex& v2);

// Fills the rectangle [left, right) × [top, bottom), clipped to the target.
void FillRect(const PixelTarget& target, int left, int top, int right, int bottom, uint32_t color);

}  // namespace kesto::soft_d3d9::internal
