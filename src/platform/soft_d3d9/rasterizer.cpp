// Pixel rules, as Direct3D 9 defines them (the "Directly Mapping Texels to Pixels" and
// "Rasterization Rules" pages of its documentation):
//
// - The viewport maps normalized device coordinates to x_s = (x + 1) / 2 · W and
//   y_s = (1 − y) / 2 · H, so the full [−1, 1] square spans [0, W] × [0, H].
// - Pixel (i, j) is sampled at the point (i, j) of that space: Direct3D 9 puts pixel centres at
//   integer coordinates (Direct3D 10 moved them to i + 0.5). A quad covering the whole target
//   therefore has its left and top edges through the centres of the first column and row, and
//   a texel centre (i + 0.5) / W lands half-way between pixel centres; each pixel samples the
//   texture exactly on a texel boundary, u = i / W. This is the half-pixel offset that Direct3D 9
//   code corrects by moving pre-transformed vertices by −0.5.
// - A pixel is covered when its sample point is inside the triangle, or on a top or a left edge
//   (top-left fill rule), so triangles sharing an edge never both cover a pixel.
// - Point sampling takes texel floor(u · W). Hardware resolves texture coordinates to a fixed
//   sub-texel grid first (8 fractional bits); that rounding is what makes the boundary samples
//   above land on texel i rather than on i − 1 by a rounding error, and it is done here too.
// - Vertex positions are snapped to 1/256 pixel, so coverage is decided with exact integer edge
//   functions; attributes are interpolated perspective-correctly (through 1/w) in double
//   precision, with an affine fixed-point inner loop when w is the same at all three vertices.
#include "platform/soft_d3d9/rasterizer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace kesto::soft_d3d9::internal {
namespace {

constexpr int kSubpixelBits = 8;
constexpr int64_t kSubpixelOne = int64_t{1} << kSubpixelBits;
// Texture coordinates resolve to 1/256 texel: rounding to that grid before the floor of point
// sampling is the same as adding half a step.
constexpr double kTexelBias = 1.0 / 512.0;
constexpr int64_t kFixedOne = int64_t{1} << 32;
constexpr int64_t kFixedTexelBias = kFixedOne / 512;
// Clip-space guard band: triangles are clipped at 8 times the viewport in x and y, far outside
// the target, so clipping never moves a visible edge while screen coordinates stay small enough
// for exact 64-bit edge functions.
constexpr double kGuardBand = 8.0;
// Pre-transformed vertices are not clipped; triangles reaching beyond this are dropped.
constexpr double kMaxScreenCoordinate = 1 << 20;

struct Prepared {
    int64_t fx, fy;  // position in 1/256 pixel
    double x, y;     // the same in pixels
    double invW;
    double u, v, a, r, g, b;  // as given, for affine interpolation
};

int64_t FloorDiv(int64_t numerator, int64_t denominator) {  // denominator > 0
    int64_t quotient = numerator / denominator;
    if (numerator % denominator != 0 && numerator < 0) --quotient;
    return quotient;
}

int64_t CeilDiv(int64_t numerator, int64_t denominator) {
    return -FloorDiv(-numerator, denominator);
}

// An attribute as a linear function of the screen position.
struct Plane {
    double base = 0, dx = 0, dy = 0;
    double At(double x, double y) const { return base + dx * x + dy * y; }
};

Plane MakePlane(const Prepared& p0, const Prepared& p1, const Prepared& p2, double a0, double a1,
                double a2) {
    const double e1x = p1.x - p0.x, e1y = p1.y - p0.y;
    const double e2x = p2.x - p0.x, e2y = p2.y - p0.y;
    const double det = e1x * e2y - e2x * e1y;
    Plane plane;
    plane.dx = ((a1 - a0) * e2y - (a2 - a0) * e1y) / det;
    plane.dy = ((a2 - a0) * e1x - (a1 - a0) * e2x) / det;
    plane.base = a0 - plane.dx * p0.x - plane.dy * p0.y;
    return plane;
}

uint32_t Pack(double a, double r, double g, double b) {
    auto channel = [](double value) {
        return static_cast<uint32_t>(std::lround(std::clamp(value, 0.0, 255.0)));
    };
    return channel(a) << 24 | channel(r) << 16 | channel(g) << 8 | channel(b);
}

// The default stage 0: colour = texture colour × diffuse colour; alpha = texture alpha
// (D3DTSS_ALPHAOP defaults to SELECTARG1 of D3DTA_TEXTURE). X8 textures read alpha as 1.
uint32_t ModulateChannel(uint32_t texel, uint32_t diffuse, int shift) {
    const uint32_t product = ((texel >> shift) & 0xFF) * ((diffuse >> shift) & 0xFF) + 128;
    return ((product + (product >> 8)) >> 8) << shift;
}

uint32_t Modulate(uint32_t texel, uint32_t diffuse) {
    return (texel & 0xFF000000u) | ModulateChannel(texel, diffuse, 16) |
           ModulateChannel(texel, diffuse, 8) | ModulateChannel(texel, diffuse, 0);
}

// The alpha forced into every written pixel: 0xFF unless both texture and target carry alpha.
uint32_t AlphaMask(const PixelTarget& target, const TextureSource& texture) {
    return (target.hasAlpha && texture.texels != nullptr && texture.hasAlpha) ? 0u : 0xFF000000u;
}

int64_t WrapIndex(int64_t index, int64_t size) {
    index %= size;
    return index < 0 ? index + size : index;
}

// Walks the rows of a triangle (vertices in clockwise screen order) and calls span(y, x0, x1) for
// every run of covered pixels, both ends included.
template <class SpanFunction>
void ForEachSpan(const PixelTarget& target, const Prepared& v0, const Prepared& v1,
                 const Prepared& v2, SpanFunction&& span) {
    struct Edge {
        int64_t dx, dy, ax, ay, threshold;
    };
    const Prepared* vertices[3] = {&v0, &v1, &v2};
    Edge edges[3];
    for (int i = 0; i < 3; ++i) {
        const Prepared& a = *vertices[i];
        const Prepared& b = *vertices[(i + 1) % 3];
        Edge& edge = edges[i];
        edge.dx = b.fx - a.fx;
        edge.dy = b.fy - a.fy;
        edge.ax = a.fx;
        edge.ay = a.fy;
        // With y down and clockwise order, an edge going up is a left edge and a horizontal
        // edge going right is a top edge; samples exactly on them are inside.
        const bool topLeft = edge.dy < 0 || (edge.dy == 0 && edge.dx > 0);
        edge.threshold = topLeft ? 0 : 1;
    }
    const int64_t minFx = std::min({v0.fx, v1.fx, v2.fx}), maxFx = std::max({v0.fx, v1.fx, v2.fx});
    const int64_t minFy = std::min({v0.fy, v1.fy, v2.fy}), maxFy = std::max({v0.fy, v1.fy, v2.fy});
    const int64_t minX = std::max<int64_t>(0, CeilDiv(minFx, kSubpixelOne));
    const int64_t maxX = std::min<int64_t>(target.width - 1, FloorDiv(maxFx, kSubpixelOne));
    const int64_t minY = std::max<int64_t>(0, CeilDiv(minFy, kSubpixelOne));
    const int64_t maxY = std::min<int64_t>(target.height - 1, FloorDiv(maxFy, kSubpixelOne));
    for (int64_t y = minY; y <= maxY; ++y) {
        int64_t left = minX, right = maxX;
        const int64_t sampleY = y * kSubpixelOne;
        for (const Edge& edge : edges) {
            // Edge function at sample (x, y): E = C − dy · 256 · x; covered when E >= threshold.
            const int64_t c = edge.dx * (sampleY - edge.ay) + edge.dy * edge.ax;
            if (edge.dy == 0) {
                if (c < edge.threshold) right = left - 1;
            } else if (edge.dy > 0) {
                right = std::min(right, FloorDiv(c - edge.threshold, edge.dy * kSubpixelOne));
            } else {
                left = std::max(left, CeilDiv(edge.threshold - c, -edge.dy * kSubpixelOne));
            }
        }
        if (left <= right)
            span(static_cast<int>(y), static_cast<int>(left), static_cast<int>(right));
    }
}

int64_t ToWrappedFixed(double texels, int size) {
    const double wrapped = texels - std::floor(texels / size) * size;
    int64_t fixed = std::llround(wrapped * static_cast<double>(kFixedOne)) + kFixedTexelBias;
    const int64_t limit = static_cast<int64_t>(size) * kFixedOne;
    while (fixed >= limit) fixed -= limit;
    while (fixed < 0) fixed += limit;
    return fixed;
}

// How many positions, counting `position` itself, lie inside [0, limit) when stepping by
// `step` (position is inside); at least 1, capped to an int.
int StepsBeforeWrap(int64_t position, int64_t step, int64_t limit) {
    constexpr int64_t kMany = int64_t{1} << 30;
    int64_t steps = kMany;
    if (step > 0) steps = (limit - 1 - position) / step + 1;
    if (step < 0) steps = position / -step + 1;
    return static_cast<int>(std::min(steps, kMany));
}

// Texture with one diffuse colour and the same w at every vertex: the texture position is
// affine in screen space and advances by a fixed-point step per pixel, wrapped by one compare.
template <bool kWhiteDiffuse>
void FillAffineTextured(const PixelTarget& target, const TextureSource& texture, const Prepared& v0,
                        const Prepared& v1, const Prepared& v2, const Plane& uPlane,
                        const Plane& vPlane, uint32_t diffuse) {
    const uint32_t alphaMask = AlphaMask(target, texture);
    const int64_t uLimit = static_cast<int64_t>(texture.width) * kFixedOne;
    const int64_t vLimit = static_cast<int64_t>(texture.height) * kFixedOne;
    const int64_t uStep = std::llround(uPlane.dx * static_cast<double>(kFixedOne));
    const int64_t vStep = std::llround(vPlane.dx * static_cast<double>(kFixedOne));
    ForEachSpan(target, v0, v1, v2, [&](int y, int left, int right) {
        int64_t u = ToWrappedFixed(uPlane.At(left, y), texture.width);
        int64_t v = ToWrappedFixed(vPlane.At(left, y), texture.height);
        uint32_t* out = target.pixels + static_cast<ptrdiff_t>(y) * target.pitch;
        const uint32_t* texels = texture.texels;
        const ptrdiff_t pitch = texture.pitch;
        for (int x = left; x <= right; ++x) {
            // Runs of pixels that cannot wrap go through a loop with no wrap tests: the tests
            // chain every step to the one before and made this the slowest part of a draw
            // (a whole-target textured square took 2.4 ms instead of under 1).
            const int run = std::min(right - x + 1, std::min(StepsBeforeWrap(u, uStep, uLimit),
                                                             StepsBeforeWrap(v, vStep, vLimit)));
            for (const int end = x + run - 1; x < end; ++x) {
                const uint32_t texel = texels[(v >> 32) * pitch + (u >> 32)];
                out[x] = (kWhiteDiffuse ? texel : Modulate(texel, diffuse)) | alphaMask;
                u += uStep;
                v += vStep;
            }
            const uint32_t texel = texels[(v >> 32) * pitch + (u >> 32)];
            out[x] = (kWhiteDiffuse ? texel : Modulate(texel, diffuse)) | alphaMask;
            u += uStep;
            if (u >= uLimit) {
                u -= uLimit;
            } else if (u < 0) {
                u += uLimit;
            }
            v += vStep;
            if (v >= vLimit) {
                v -= vLimit;
            } else if (v < 0) {
                v += vLimit;
            }
        }
    });
}

void FillSolid(const PixelTarget& target, const Prepared& v0, const Prepared& v1,
               const Prepared& v2, uint32_t color) {
    ForEachSpan(target, v0, v1, v2, [&](int y, int left, int right) {
        uint32_t* out = target.pixels + static_cast<ptrdiff_t>(y) * target.pitch;
        std::fill(out + left, out + right + 1, color);
    });
}

// Everything else: per-pixel perspective division, interpolated colour.
void FillGeneral(const PixelTarget& target, const TextureSource& texture, const Prepared& v0,
                 const Prepared& v1, const Prepared& v2) {
    const uint32_t alphaMask = AlphaMask(target, texture);
    auto plane = [&](auto member) {
        return MakePlane(v0, v1, v2, v0.*member * v0.invW, v1.*member * v1.invW,
                         v2.*member * v2.invW);
    };
    const Plane invW = MakePlane(v0, v1, v2, v0.invW, v1.invW, v2.invW);
    const Plane uW = plane(&Prepared::u), vW = plane(&Prepared::v);
    const Plane aW = plane(&Prepared::a), rW = plane(&Prepared::r), gW = plane(&Prepared::g),
                bW = plane(&Prepared::b);
    ForEachSpan(target, v0, v1, v2, [&](int y, int left, int right) {
        uint32_t* out = target.pixels + static_cast<ptrdiff_t>(y) * target.pitch;
        for (int x = left; x <= right; ++x) {
            const double w = 1.0 / invW.At(x, y);
            const uint32_t diffuse =
                Pack(aW.At(x, y) * w, rW.At(x, y) * w, gW.At(x, y) * w, bW.At(x, y) * w);
            uint32_t texel = 0xFFFFFFFFu;
            if (texture.texels != nullptr) {
                const double tu = std::floor(uW.At(x, y) * w * texture.width + kTexelBias);
                const double tv = std::floor(vW.At(x, y) * w * texture.height + kTexelBias);
                if (!std::isfinite(tu) || !std::isfinite(tv)) continue;
                const int64_t column =
                    WrapIndex(static_cast<int64_t>(std::fmod(tu, texture.width)), texture.width);
                const int64_t row =
                    WrapIndex(static_cast<int64_t>(std::fmod(tv, texture.height)), texture.height);
                texel = texture.texels[row * texture.pitch + column];
            }
            out[x] = Modulate(texel, diffuse) | alphaMask;
        }
    });
}

void Rasterize(const PixelTarget& target, const TextureSource& texture, CullMode cull,
               const Prepared& p0, const Prepared& p1, const Prepared& p2, bool constantDiffuse) {
    // Twice the signed area; positive for clockwise order on screen (y down).
    const int64_t area = (p1.fx - p0.fx) * (p2.fy - p0.fy) - (p1.fy - p0.fy) * (p2.fx - p0.fx);
    if (area == 0) return;
    // Direct3D culls by the winding seen on screen: D3DCULL_CCW (the default) drops
    // counter-clockwise triangles.
    if (cull == CullMode::CounterClockwise && area < 0) return;
    if (cull == CullMode::Clockwise && area > 0) return;
    const Prepared& a = p0;
    const Prepared& b = area > 0 ? p1 : p2;
    const Prepared& c = area > 0 ? p2 : p1;

    const uint32_t diffuse = Pack(a.a, a.r, a.g, a.b);
    if (texture.texels == nullptr && constantDiffuse) {
        // An unset texture reads as opaque white, so the diffuse colour is drawn.
        FillSolid(target, a, b, c, (diffuse & 0x00FFFFFFu) | 0xFF000000u);
        return;
    }
    const bool affine = a.invW == b.invW && a.invW == c.invW;
    if (texture.texels != nullptr && constantDiffuse && affine) {
        const Plane uPlane =
            MakePlane(a, b, c, a.u * texture.width, b.u * texture.width, c.u * texture.width);
        const Plane vPlane =
            MakePlane(a, b, c, a.v * texture.height, b.v * texture.height, c.v * texture.height);
        // One wrap per step needs steps shorter than the texture.
        if (std::fabs(uPlane.dx) < texture.width && std::fabs(vPlane.dx) < texture.height) {
            if ((diffuse | 0xFF000000u) == 0xFFFFFFFFu) {
                FillAffineTextured<true>(target, texture, a, b, c, uPlane, vPlane, diffuse);
            } else {
                FillAffineTextured<false>(target, texture, a, b, c, uPlane, vPlane, diffuse);
            }
            return;
        }
    }
    FillGeneral(target, texture, a, b, c);
}

Prepared PrepareScreen(double x, double y, double invW, double u, double v, double a, double r,
                       double g, double b) {
    Prepared p;
    p.fx = std::llround(x * kSubpixelOne);
    p.fy = std::llround(y * kSubpixelOne);
    p.x = static_cast<double>(p.fx) / kSubpixelOne;
    p.y = static_cast<double>(p.fy) / kSubpixelOne;
    p.invW = invW;
    p.u = u;
    p.v = v;
    p.a = a;
    p.r = r;
    p.g = g;
    p.b = b;
    return p;
}

ClipVertex Lerp(const ClipVertex& from, const ClipVertex& to, double t) {
    auto mix = [t](double p, double q) { return p + (q - p) * t; };
    return ClipVertex{mix(from.x, to.x), mix(from.y, to.y), mix(from.z, to.z), mix(from.w, to.w),
                      mix(from.u, to.u), mix(from.v, to.v), mix(from.a, to.a), mix(from.r, to.r),
                      mix(from.g, to.g), mix(from.b, to.b)};
}

// Signed distance to clip plane `plane`; inside when >= 0.
double PlaneDistance(const ClipVertex& vertex, int plane) {
    switch (plane) {
        case 0:
            return vertex.z;
        case 1:
            return vertex.w - vertex.z;
        case 2:
            return vertex.x + kGuardBand * vertex.w;
        case 3:
            return kGuardBand * vertex.w - vertex.x;
        case 4:
            return vertex.y + kGuardBand * vertex.w;
        default:
            return kGuardBand * vertex.w - vertex.y;
    }
}

constexpr int kClipPlanes = 6;
constexpr int kMaxClipped = 3 + kClipPlanes;

}  // namespace

void DrawClipSpaceTriangle(const PixelTarget& target, const TextureSource& texture, CullMode cull,
                           const ClipVertex& v0, const ClipVertex& v1, const ClipVertex& v2) {
    ClipVertex polygon[kMaxClipped] = {v0, v1, v2};
    int count = 3;
    for (int plane = 0; plane < kClipPlanes && count > 0; ++plane) {
        const bool allInside = std::all_of(polygon, polygon + count, [plane](const ClipVertex& v) {
            return PlaneDistance(v, plane) >= 0;
        });
        if (allInside) continue;
        ClipVertex clipped[kMaxClipped];
        int clippedCount = 0;
        for (int i = 0; i < count; ++i) {
            const ClipVertex& current = polygon[i];
            const ClipVertex& next = polygon[(i + 1) % count];
            const double dCurrent = PlaneDistance(current, plane),
                         dNext = PlaneDistance(next, plane);
            if (dCurrent >= 0) clipped[clippedCount++] = current;
            if ((dCurrent >= 0) != (dNext >= 0) && clippedCount < kMaxClipped) {
                clipped[clippedCount++] = Lerp(current, next, dCurrent / (dCurrent - dNext));
            }
        }
        std::copy(clipped, clipped + clippedCount, polygon);
        count = clippedCount;
    }
    if (count < 3) return;

    const bool constantDiffuse = v0.a == v1.a && v0.a == v2.a && v0.r == v1.r && v0.r == v2.r &&
                                 v0.g == v1.g && v0.g == v2.g && v0.b == v1.b && v0.b == v2.b;
    Prepared prepared[kMaxClipped];
    for (int i = 0; i < count; ++i) {
        const ClipVertex& v = polygon[i];
        if (!(v.w > 0)) return;
        const double invW = 1.0 / v.w;
        const double x = (v.x * invW + 1.0) * 0.5 * target.width;
        const double y = (1.0 - v.y * invW) * 0.5 * target.height;
        prepared[i] = PrepareScreen(x, y, invW, v.u, v.v, v.a, v.r, v.g, v.b);
    }
    for (int i = 1; i + 1 < count; ++i) {
        Rasterize(target, texture, cull, prepared[0], prepared[i], prepared[i + 1],
                  constantDiffuse);
    }
}

void DrawScreenSpaceTriangle(const PixelTarget& target, const TextureSource& texture, CullMode cull,
                             const ScreenSpaceVertex& v0, const ScreenSpaceVertex& v1,
                             const ScreenSpaceVertex& v2) {
    const ScreenSpaceVertex* vertices[3] = {&v0, &v1, &v2};
    Prepared prepared[3];
    for (int i = 0; i < 3; ++i) {
        const ScreenSpaceVertex& v = *vertices[i];
        if (!(std::fabs(v.x) < kMaxScreenCoordinate) || !(std::fabs(v.y) < kMaxScreenCoordinate) ||
            !(v.rhw > 0)) {
            return;
        }
        prepared[i] = PrepareScreen(v.x, v.y, v.rhw, v.u, v.v, v.a, v.r, v.g, v.b);
    }
    const bool constantDiffuse = v0.a == v1.a && v0.a == v2.a && v0.r == v1.r && v0.r == v2.r &&
                                 v0.g == v1.g && v0.g == v2.g && v0.b == v1.b && v0.b == v2.b;
    Rasterize(target, texture, cull, prepared[0], prepared[1], prepared[2], constantDiffuse);
}

void FillRect(const PixelTarget& target, int left, int top, int right, int bottom, uint32_t color) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, target.width);
    bottom = std::min(bottom, target.height);
    for (int y = top; y < bottom; ++y) {
        uint32_t* row = target.pixels + static_cast<ptrdiff_t>(y) * target.pitch;
        std::fill(row + left, row + right, color);
    }
}

}  // namespace kesto::soft_d3d9::internal
