// The D3DX matrix functions against values worked out by hand, and the display's camera.
#include <gtest/gtest.h>

#include <cmath>

#include "display/d3dx_math.h"

namespace kesto {
namespace {

struct Point4 {
    double x, y, z, w;
};

// Row vector times matrix, as Direct3D transforms.
Point4 Transform(const Point4& p, const D3DMATRIX& m) {
    Point4 out{};
    double* components[4] = {&out.x, &out.y, &out.z, &out.w};
    for (int column = 0; column < 4; ++column) {
        *components[column] = p.x * m.m[0][column] + p.y * m.m[1][column] + p.z * m.m[2][column] +
                              p.w * m.m[3][column];
    }
    return out;
}

void ExpectMatrix(const D3DMATRIX& actual, const float (&expected)[4][4], float tolerance = 1e-6f) {
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            EXPECT_NEAR(actual.m[row][column], expected[row][column], tolerance)
                << "element (" << row + 1 << ", " << column + 1 << ")";
        }
    }
}

const float kEyeZ = static_cast<float>(-1.0 / std::tan(0.39269909262657166));

TEST(D3dxMathTest, DisplayCameraIsATranslationAndTheStandardLeftHandedProjection) {
    D3DMATRIX view, projection;
    const D3DVECTOR eye{0, 0, kEyeZ}, at{0, 0, 0}, up{0, 1, 0};
    MatrixLookAtLH(&view, &eye, &at, &up);
    const float translation[4][4] = {
        {1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 2.4142134f, 1}};
    ExpectMatrix(view, translation, 0);

    MatrixPerspectiveFovLH(&projection, 0.7853982f, 1.0f, 1.0f, 100.0f);
    const float perspective[4][4] = {{2.4142135f, 0, 0, 0},
                                     {0, 2.4142135f, 0, 0},
                                     {0, 0, 100.0f / 99.0f, 1},
                                     {0, 0, -100.0f / 99.0f, 0}};
    ExpectMatrix(projection, perspective);
    // Aspect divides the horizontal scale only.
    MatrixPerspectiveFovLH(&projection, 0.7853982f, 2.0f, 1.0f, 100.0f);
    EXPECT_NEAR(projection._11, 2.4142135f / 2, 1e-6f);
    EXPECT_NEAR(projection._22, 2.4142135f, 1e-6f);

    // Together they put the plane z = 0 onto the target: (x, y, 0) lands at NDC (x, y).
    MatrixPerspectiveFovLH(&projection, 0.7853982f, 1.0f, 1.0f, 100.0f);
    D3DMATRIX camera;
    MatrixMultiply(&camera, &view, &projection);
    for (double x : {-1.0, 0.25, 1.0}) {
        for (double y : {-1.0, 0.5, 1.0}) {
            const Point4 clip = Transform({x, y, 0, 1}, camera);
            EXPECT_NEAR(clip.x / clip.w, x, 1e-6);
            EXPECT_NEAR(clip.y / clip.w, y, 1e-6);
            EXPECT_GT(clip.z, 0);
            EXPECT_LT(clip.z, clip.w);
        }
    }
}

}  // namespace
}  // namespace kesto
