#include "display/d3dx_math.h"

#include <cmath>

namespace kesto {
namespace {

D3DVECTOR Subtract(const D3DVECTOR& a, const D3DVECTOR& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

D3DVECTOR Cross(const D3DVECTOR& a, const D3DVECTOR& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Dot(const D3DVECTOR& a, const D3DVECTOR& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

// D3DX leaves a zero vector as it is rather than producing NaNs.
D3DVECTOR Normalize(const D3DVECTOR& v) {
    const float length = std::sqrt(Dot(v, v));
    if (length == 0.0f) return v;
    return {v.x / length, v.y / length, v.z / length};
}

}  // namespace

D3DMATRIX* MatrixIdentity(D3DMATRIX* out) {
    *out = D3DMATRIX{};
    out->_11 = out->_22 = out->_33 = out->_44 = 1.0f;
    return out;
}

D3DMATRIX* MatrixRotationZ(D3DMATRIX* out, float angle) {
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    MatrixIdentity(out);
    out->_11 = c;
    out->_12 = s;
    out->_21 = -s;
    out->_22 = c;
    return out;
}

D3DMATRIX* MatrixScaling(D3DMATRIX* out, float sx, float sy, float sz) {
    MatrixIdentity(out);
    out->_11 = sx;
    out->_22 = sy;
    out->_33 = sz;
    return out;
}

D3DMATRIX* MatrixMultiply(D3DMATRIX* out, const D3DMATRIX* m1, const D3DMATRIX* m2) {
    D3DMATRIX product;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            product.m[row][column] =
                m1->m[row][0] * m2->m[0][column] + m1->m[row][1] * m2->m[1][column] +
                m1->m[row][2] * m2->m[2][column] + m1->m[row][3] * m2->m[3][column];
        }
    }
    *out = product;
    return out;
}

D3DMATRIX* MatrixLookAtLH(D3DMATRIX* out, const D3DVECTOR* eye, const D3DVECTOR* at,
                          const D3DVECTOR* up) {
    const D3DVECTOR zAxis = Normalize(Subtract(*at, *eye));
    const D3DVECTOR xAxis = Normalize(Cross(*up, zAxis));
    const D3DVECTOR yAxis = Cross(zAxis, xAxis);
    MatrixIdentity(out);
    out->_11 = xAxis.x;
    out->_21 = xAxis.y;
    out->_31 = xAxis.z;
    out->_12 = yAxis.x;
    out->_22 = yAxis.y;
    out->_32 = yAxis.z;
    out->_13 = zAxis.x;
    out->_23 = zAxis.y;
    out->_33 = zAxis.z;
    out->_41 = -Dot(xAxis, *eye);
    out->_42 = -Dot(yAxis, *eye);
    out->_43 = -Dot(zAxis, *eye);
    return out;
}

D3DMATRIX* MatrixPerspectiveFovLH(D3DMATRIX* out, float fovY, float aspect, float zNear,
                                  float zFar) {
    const float yScale = 1.0f / std::tan(fovY / 2.0f);
    *out = D3DMATRIX{};
    out->_11 = yScale / aspect;
    out->_22 = yScale;
    out->_33 = zFar / (zFar - zNear);
    out->_34 = 1.0f;
    out->_43 = zNear * zFar / (zNear - zFar);
    return out;
}

}  // namespace kesto
