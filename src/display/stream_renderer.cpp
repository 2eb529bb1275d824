#include "display/stream_renderer.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "display/d3dx_math.h"
#include "display/snapshot.h"
#include "messages/message_channel.h"

namespace kesto {

namespace {

constexpr DWORD kSquareFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1;

struct SquareVertex {
    float x, y, z;
    D3DCOLOR diffuse;
    float u, v;
};
static_assert(sizeof(SquareVertex) == 24, "the FVF 0x142 vertex is 24 bytes");

// Texture row 0 (v = 0) at the top of the world square; Render's negative y scale then
// mirrors it, which together with the quarter turn shows the frame transposed.
constexpr SquareVertex kSquare[4] = {
    {-1.0f, 1.0f, 0.0f, 0xFFFFFFFFu, 0.0f, 0.0f},
    {1.0f, 1.0f, 0.0f, 0xFFFFFFFFu, 1.0f, 0.0f},
    {-1.0f, -1.0f, 0.0f, 0xFFFFFFFFu, 0.0f, 1.0f},
    {1.0f, -1.0f, 0.0f, 0xFFFFFFFFu, 1.0f, 1.0f},
};

constexpr float kQuarterPi = 0.7853982f;
constexpr double kHalfPi = 1.5707963267948966;
constexpr unsigned kInitialTextureSide = 1024;
// Alpha 0x80 over blue 0x80: never visible at the zoom factors a renderer receives, but it
// marks an undrawn target unmistakably.
constexpr D3DCOLOR kClearColour = 0x80000080u;

// A locked level whose rows hold `width` pixels; anything else is not touched.
bool LevelHolds(const D3DLOCKED_RECT& locked, unsigned width) {
    return locked.pBits != nullptr && locked.Pitch >= 0 &&
           static_cast<std::size_t>(locked.Pitch) >= static_cast<std::size_t>(width) * 4;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// CStreamRenderer: set-up

CStreamRenderer::~CStreamRenderer() {
    ReleaseInterface(vertexBuffer);
    ReleaseInterface(texture);
}

HRESULT CStreamRenderer::Initialize(IDirect3D9* d3d, IDirect3D9Ex* d3dEx, HWND window,
                                    unsigned adapter) {
    HRESULT hr = CRenderer::Initialize(d3d, d3dEx, window, adapter);
    if (FAILED(hr)) return hr;
    hr = CreateSquare();
    if (FAILED(hr)) return hr;
    hr = SetFixedState();
    if (FAILED(hr)) return hr;
    return ResizeTexture(kInitialTextureSide, kInitialTextureSide);
}

HRESULT CStreamRenderer::CreateSquare() {
    HRESULT hr = device->CreateVertexBuffer(sizeof kSquare, 0, kSquareFvf, D3DPOOL_DEFAULT,
                                            &vertexBuffer, nullptr);
    if (FAILED(hr)) return hr;
    void* data = nullptr;
    hr = vertexBuffer->Lock(0, sizeof kSquare, &data, 0);
    if (FAILED(hr)) return hr;
    std::memcpy(data, kSquare, sizeof kSquare);
    vertexBuffer->Unlock();
    return S_OK;
}

// Everything the drawing relies on that does not change between pictures. Nobody else draws
// on this device, so it is set once; Render replaces only the world transform.
HRESULT CStreamRenderer::SetFixedState() {
    // A placeholder world transform until the first Render sets the real one.
    D3DMATRIX world;
    MatrixRotationZ(&world, kQuarterPi);
    HRESULT hr = device->SetTransform(D3DTS_WORLD, &world);
    if (FAILED(hr)) return hr;

    // The camera looks at the plane z = 0 from the distance at which a 45-degree field of
    // view sees exactly -1 .. 1: world (x, y, 0) lands at device position (x, y).
    const D3DVECTOR eye = {0.0f, 0.0f, static_cast<float>(-1.0 / std::tan(0.39269909262657166))};
    const D3DVECTOR at = {0.0f, 0.0f, 0.0f};
    const D3DVECTOR up = {0.0f, 1.0f, 0.0f};
    D3DMATRIX view;
    MatrixLookAtLH(&view, &eye, &at, &up);
    hr = device->SetTransform(D3DTS_VIEW, &view);
    if (FAILED(hr)) return hr;

    D3DMATRIX projection;
    MatrixPerspectiveFovLH(&projection, kQuarterPi, 1.0f, 1.0f, 100.0f);
    hr = device->SetTransform(D3DTS_PROJECTION, &projection);
    if (FAILED(hr)) return hr;

    // The mirrored world transform turns the square's winding around: no culling. The
    // vertices carry no normals: no lighting, the diffuse white passes the texture through.
    hr = device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    if (FAILED(hr)) return hr;
    hr = device->SetRenderState(D3DRS_LIGHTING, FALSE);
    if (FAILED(hr)) return hr;

    hr = device->SetStreamSource(0, vertexBuffer, 0, sizeof(SquareVertex));
    if (FAILED(hr)) return hr;
    return device->SetFVF(kSquareFvf);
}

// ---------------------------------------------------------------------------------------------
// CStreamRenderer: the texture

HRESULT CStreamRenderer::ResizeTexture(unsigned width, unsigned height) {
    D3DCAPS9 caps = {};
    device->GetDeviceCaps(&caps);
    dynamicTextures = (caps.Caps2 & D3DCAPS2_DYNAMICTEXTURES) != 0;
    // Frames have any side; a device that only takes powers of two cannot show them.
    if ((caps.TextureCaps & D3DPTEXTURECAPS_POW2) != 0) return E_FAIL;

    ReleaseInterface(texture);
    textureWidth = 0;
    textureHeight = 0;
    HRESULT hr = CreateTexture(width, height);
    if (FAILED(hr)) return hr;

    D3DFORMAT format = D3DFMT_UNKNOWN;
    hr = TextureLevelFormat(format);
    if (FAILED(hr)) return hr;
    // The upload copies frame pixels verbatim: any other layout would show garbage.
    if (format != D3DFMT_X8R8G8B8) return E_INVALIDARG;
    textureWidth = width;
    textureHeight = height;
    return S_OK;
}

// A dynamic texture in the default pool takes a whole frame per discard-lock without a copy
// in system memory; where the driver refuses one, a managed texture does the same job
// slower.
HRESULT CStreamRenderer::CreateTexture(unsigned width, unsigned height) {
    if (dynamicTextures) {
        const HRESULT hr =
            device->CreateTexture(width, height, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8,
                                  D3DPOOL_DEFAULT, &texture, nullptr);
        if (SUCCEEDED(hr)) {
            textureIsDynamic = true;
            return hr;
        }
        dynamicTextures = false;
    }
    textureIsDynamic = false;
    return device->CreateTexture(width, height, 1, 0, D3DFMT_X8R8G8B8, D3DPOOL_MANAGED, &texture,
                                 nullptr);
}

// Some drivers fail GetDesc on a level surface they created lazily; the texture's own level
// description is the fallback.
HRESULT CStreamRenderer::TextureLevelFormat(D3DFORMAT& format) {
    D3DSURFACE_DESC description = {};
    IDirect3DSurface9* level = nullptr;
    HRESULT hr = texture->GetSurfaceLevel(0, &level);
    if (SUCCEEDED(hr)) {
        hr = level->GetDesc(&description);
        level->Release();
    }
    if (FAILED(hr)) {
        hr = texture->GetLevelDesc(0, &description);
        if (FAILED(hr)) return hr;
    }
    format = description.Format;
    return S_OK;
}

// ---------------------------------------------------------------------------------------------
// CStreamRenderer: frames

void CStreamRenderer::UploadFrame(const uint8_t* pixels, unsigned side, double frameAzimuth) {
    if (texture == nullptr) return;

    // Discarding is only allowed on dynamic textures; the managed fallback is locked plainly.
    D3DLOCKED_RECT locked = {};
    const DWORD flags = textureIsDynamic ? D3DLOCK_DISCARD : 0;
    if (texture->LockRect(0, &locked, nullptr, flags) != D3D_OK) return;
    if (!std::isnan(frameAzimuth)) azimuth = frameAzimuth;
    if (LevelHolds(locked, textureWidth)) {
        CopyFrameToLevel(pixels, side, static_cast<uint8_t*>(locked.pBits),
                         static_cast<std::size_t>(locked.Pitch), textureWidth, textureHeight);
    }
    if (SUCCEEDED(texture->UnlockRect(0))) {
        ReportMessage(MessageCode::FrameReady, static_cast<const char*>(nullptr));
    }
}

void CopyFrameToLevel(const uint8_t* pixels, unsigned side, uint8_t* bits, std::size_t pitch,
                      unsigned width, unsigned height) {
    const std::size_t levelRow = static_cast<std::size_t>(width) * 4;
    const std::size_t frameRow = static_cast<std::size_t>(side) * 4;
    if (side == width && side == height && pitch == levelRow) {
        std::memcpy(bits, pixels, levelRow * height);
        return;
    }
    const unsigned rows = std::min(side, height);
    const std::size_t copied = std::min(frameRow, levelRow);
    for (unsigned row = 0; row < height; ++row) {
        uint8_t* target = bits + row * pitch;
        if (row < rows) {
            std::memcpy(target, pixels + row * frameRow, copied);
            std::memset(target + copied, 0, levelRow - copied);
        } else {
            std::memset(target, 0, levelRow);
        }
    }
}

void CStreamRenderer::SaveSnapshot(platform::HostPath path) {
    if (texture == nullptr || textureWidth == 0 || textureHeight == 0) return;
    D3DLOCKED_RECT locked = {};
    if (texture->LockRect(0, &locked, nullptr, D3DLOCK_READONLY) != D3D_OK) return;
    // The image buffer's allocation may throw out of here; the level must not stay locked.
    struct LevelUnlock {
        IDirect3DTexture9* texture;
        ~LevelUnlock() { texture->UnlockRect(0); }
    } unlock{texture};
    if (!LevelHolds(locked, textureWidth)) return;
    WriteSnapshot(static_cast<const uint8_t*>(locked.pBits), static_cast<std::size_t>(locked.Pitch),
                  textureWidth, textureHeight, path);
}

// ---------------------------------------------------------------------------------------------
// CStreamRenderer: drawing

HRESULT CStreamRenderer::Render() {
    // sqrt(2) makes the square's inscribed circle pass through the target's corners, so the
    // picture covers the target at every angle.
    const float scale = static_cast<float>(static_cast<double>(std::sqrt(2.0f)) * zoomFactor);

    HRESULT hr = device->BeginScene();
    if (FAILED(hr)) return hr;
    // A failing step returns at once, EndScene included: the scene then stays open and later
    // BeginScene calls fail until the device is made anew.
    hr = DrawScene(scale, static_cast<float>(kHalfPi - azimuth + rotationOffset));
    if (FAILED(hr)) return hr;
    return device->EndScene();
}

HRESULT CStreamRenderer::DrawScene(float scale, float angle) {
    HRESULT hr = device->Clear(0, nullptr, D3DCLEAR_TARGET, kClearColour, 1.0f, 0);
    if (FAILED(hr)) return hr;

    // Row vectors: a vertex is turned first, then scaled; the negative y scale mirrors the
    // picture top to bottom.
    D3DMATRIX rotation;
    D3DMATRIX scaling;
    D3DMATRIX world;
    MatrixRotationZ(&rotation, angle);
    MatrixScaling(&scaling, scale, -scale, scale);
    MatrixMultiply(&world, &rotation, &scaling);
    hr = device->SetTransform(D3DTS_WORLD, &world);
    if (FAILED(hr)) return hr;

    hr = device->SetTexture(0, texture);
    if (FAILED(hr)) return hr;
    return device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
}

}  // namespace kesto
