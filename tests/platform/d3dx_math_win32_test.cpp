// Our D3DX matrix functions (src/display/d3dx_math.*) against the D3DX runtime's own, where a
// d3dx9_43.dll exists (Wine ships one; a Windows machine has it with the DirectX runtime).
#include <gtest/gtest.h>

#include <windows.h>

#include <cmath>

#include "display/d3dx_math.h"

namespace kesto {
namespace {

using RotationZ = D3DMATRIX*(WINAPI*)(D3DMATRIX*, float);
using Scaling = D3DMATRIX*(WINAPI*)(D3DMATRIX*, float, float, float);
using Multiply = D3DMATRIX*(WINAPI*)(D3DMATRIX*, const D3DMATRIX*, const D3DMATRIX*);
using LookAtLH = D3DMATRIX*(WINAPI*)(D3DMATRIX*, const D3DVECTOR*, const D3DVECTOR*,
                                     const D3DVECTOR*);
using PerspectiveFovLH = D3DMATRIX*(WINAPI*)(D3DMATRIX*, float, float, float, float);

template <typename Function>
Function Find(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

::testing::AssertionResult Close(const D3DMATRIX& ours, const D3DMATRIX& theirs) {
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            const float a = ours.m[r][c];
            const float b = theirs.m[r][c];
            if (std::fabs(a - b) > 1e-6f + 1e-6f * std::fabs(b)) {
                return ::testing::AssertionFailure()
                       << "[" << r << "][" << c << "]: ours " << a << ", D3DX " << b;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

class AgainstD3dx : public ::testing::Test {
  protected:
    void SetUp() override {
        module = LoadLibraryA("d3dx9_43.dll");
        if (module == nullptr) GTEST_SKIP() << "no d3dx9_43.dll on this system";
        rotationZ = Find<RotationZ>(module, "D3DXMatrixRotationZ");
        scaling = Find<Scaling>(module, "D3DXMatrixScaling");
        multiply = Find<Multiply>(module, "D3DXMatrixMultiply");
        lookAt = Find<LookAtLH>(module, "D3DXMatrixLookAtLH");
        perspective = Find<PerspectiveFovLH>(module, "D3DXMatrixPerspectiveFovLH");
        ASSERT_TRUE(rotationZ && scaling && multiply && lookAt && perspective);
    }
    void TearDown() override {
        if (module != nullptr) FreeLibrary(module);
    }

    HMODULE module = nullptr;
    RotationZ rotationZ = nullptr;
    Scaling scaling = nullptr;
    Multiply multiply = nullptr;
    LookAtLH lookAt = nullptr;
    PerspectiveFovLH perspective = nullptr;
};

TEST_F(AgainstD3dx, RotationScalingAndTheirProducts) {
    for (const float angle : {0.0f, 0.5f, -1.25f, 3.14159274f, 10.0f}) {
        D3DMATRIX ours, theirs;
        EXPECT_TRUE(Close(*MatrixRotationZ(&ours, angle), *rotationZ(&theirs, angle))) << angle;
    }
    D3DMATRIX ours, theirs;
    EXPECT_TRUE(
        Close(*MatrixScaling(&ours, 2.5f, -1.0f, 0.25f), *scaling(&theirs, 2.5f, -1.0f, 0.25f)));

    D3DMATRIX a, b;
    MatrixRotationZ(&a, 0.7f);
    MatrixScaling(&b, 3.0f, 1.5f, 1.0f);
    EXPECT_TRUE(Close(*MatrixMultiply(&ours, &a, &b), *multiply(&theirs, &a, &b)));
    EXPECT_TRUE(Close(*MatrixMultiply(&ours, &b, &a), *multiply(&theirs, &b, &a)));
    // The output may be one of the inputs.
    D3DMATRIX aliasOurs = a, aliasTheirs = a;
    MatrixMultiply(&aliasOurs, &aliasOurs, &b);
    multiply(&aliasTheirs, &aliasTheirs, &b);
    EXPECT_TRUE(Close(aliasOurs, aliasTheirs));
}

TEST_F(AgainstD3dx, CameraAndProjection) {
    // The first eye and the last projection are the renderer's own camera.
    const D3DVECTOR eyes[] = {{0, 0, -2.4142134f}, {0, 0, -5}, {1, 2, -3}, {-4, 0.5f, 2}};
    const D3DVECTOR at{0, 0, 0};
    const D3DVECTOR up{0, 1, 0};
    for (const D3DVECTOR& eye : eyes) {
        D3DMATRIX ours, theirs;
        EXPECT_TRUE(
            Close(*MatrixLookAtLH(&ours, &eye, &at, &up), *lookAt(&theirs, &eye, &at, &up)));
    }
    for (const float fov : {0.5f, 1.0f, 1.5707964f}) {
        D3DMATRIX ours, theirs;
        EXPECT_TRUE(Close(*MatrixPerspectiveFovLH(&ours, fov, 1.6f, 0.1f, 100.0f),
                          *perspective(&theirs, fov, 1.6f, 0.1f, 100.0f)))
            << fov;
    }
    D3DMATRIX ours, theirs;
    EXPECT_TRUE(Close(*MatrixPerspectiveFovLH(&ours, 0.7853982f, 1.0f, 1.0f, 100.0f),
                      *perspective(&theirs, 0.7853982f, 1.0f, 1.0f, 100.0f)));
}

}  // namespace
}  // namespace kesto
