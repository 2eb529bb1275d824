// One textured draw of the software Direct3D 9 into a 1024 × 1024 render target: the identity
// mapping of a target-sized texture, and the display's own draw (its camera, a turned square
// scaled by √2 · zoom).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>

#include "display/d3dx_math.h"
#include "platform/d3d9_api.h"

namespace {

struct Vertex {
    float x, y, z;
    DWORD diffuse;
    float u, v;
};

struct Scene {
    IDirect3DDevice9Ex* device = nullptr;
    IDirect3DSurface9* target = nullptr;
    IDirect3DTexture9* texture = nullptr;
    IDirect3DVertexBuffer9* buffer = nullptr;

    explicit Scene(UINT size) {
        IDirect3D9Ex* d3d = nullptr;
        Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d);
        D3DPRESENT_PARAMETERS parameters{};
        parameters.BackBufferWidth = parameters.BackBufferHeight = 1;
        parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
        parameters.Windowed = TRUE;
        d3d->CreateDeviceEx(0, D3DDEVTYPE_HAL, reinterpret_cast<HWND>(1), 0x46, &parameters,
                            nullptr, &device);
        d3d->Release();
        device->CreateRenderTarget(size, size, D3DFMT_X8R8G8B8, D3DMULTISAMPLE_NONE, 0, FALSE,
                                   &target, nullptr);
        device->SetRenderTarget(0, target);
        device->CreateTexture(size, size, 1, D3DUSAGE_DYNAMIC, D3DFMT_X8R8G8B8, D3DPOOL_DEFAULT,
                              &texture, nullptr);
        D3DLOCKED_RECT locked{};
        texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
        auto* texels = static_cast<uint32_t*>(locked.pBits);
        for (UINT i = 0; i < size * size; ++i) texels[i] = i * 2654435761u;
        texture->UnlockRect(0);
        const Vertex quad[4] = {{-1, 1, 0, 0xFFFFFFFFu, 0, 0},
                                {1, 1, 0, 0xFFFFFFFFu, 1, 0},
                                {-1, -1, 0, 0xFFFFFFFFu, 0, 1},
                                {1, -1, 0, 0xFFFFFFFFu, 1, 1}};
        device->CreateVertexBuffer(sizeof quad, 0, 0x142, D3DPOOL_DEFAULT, &buffer, nullptr);
        void* bytes = nullptr;
        buffer->Lock(0, sizeof quad, &bytes, 0);
        std::memcpy(bytes, quad, sizeof quad);
        buffer->Unlock();
        device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
        device->SetFVF(0x142);
        device->SetTexture(0, texture);
    }

    ~Scene() {
        device->SetTexture(0, nullptr);
        device->SetStreamSource(0, nullptr, 0, 0);
        buffer->Release();
        texture->Release();
        device->Release();
        target->Release();
    }

    void UseDisplayCamera(float angle, float zoom) {
        D3DMATRIX rotation, scaling, world, view, projection;
        const D3DVECTOR eye{0, 0, static_cast<float>(-1.0 / std::tan(0.39269909262657166))},
            at{0, 0, 0}, up{0, 1, 0};
        kesto::MatrixLookAtLH(&view, &eye, &at, &up);
        kesto::MatrixPerspectiveFovLH(&projection, 0.7853982f, 1.0f, 1.0f, 100.0f);
        const float s = std::sqrt(2.0f) * zoom;
        kesto::MatrixRotationZ(&rotation, angle);
        kesto::MatrixScaling(&scaling, s, -s, s);
        kesto::MatrixMultiply(&world, &rotation, &scaling);
        device->SetTransform(D3DTS_WORLD, &world);
        device->SetTransform(D3DTS_VIEW, &view);
        device->SetTransform(D3DTS_PROJECTION, &projection);
    }

    void Draw() {
        device->BeginScene();
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0x80000080u, 1.0f, 0);
        device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
        device->EndScene();
    }
};

void BM_IdentityTexturedDraw1024(benchmark::State& state) {
    Scene scene(1024);
    for (auto _ : state) scene.Draw();
    state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}
BENCHMARK(BM_IdentityTexturedDraw1024)->Unit(benchmark::kMillisecond);

void BM_DisplayDraw1024(benchmark::State& state) {
    Scene scene(1024);
    scene.UseDisplayCamera(static_cast<float>(state.range(0)) / 100.0f, 1.0f);
    for (auto _ : state) scene.Draw();
    state.SetItemsProcessed(state.iterations() * 1024 * 1024);
}
BENCHMARK(BM_DisplayDraw1024)->Arg(0)->Arg(157)->Arg(50)->Unit(benchmark::kMillisecond);

// One LockRect/UnlockRect pair of the frame texture, as every upload makes: the cost of a call
// into the device without the pixels.
void BM_LockUnlockRect(benchmark::State& state) {
    Scene scene(64);
    D3DLOCKED_RECT locked{};
    for (auto _ : state) {
        scene.texture->LockRect(0, &locked, nullptr, D3DLOCK_DISCARD);
        scene.texture->UnlockRect(0);
    }
}
BENCHMARK(BM_LockUnlockRect);

}  // namespace

BENCHMARK_MAIN();
