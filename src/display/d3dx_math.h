// The D3DX matrix functions the display uses, computed by our own code on every target so the
// Windows library does not depend on the optional D3DX runtime (d3dx9_43.dll). Same formulas,
// argument order and single precision as D3DX: row-vector convention (v' = v · M), left-handed
// camera. Like D3DX, each returns `out`, and `out` may alias an input.
#pragma once

#include "platform/d3d9_api.h"

namespace kesto {

D3DMATRIX* MatrixIdentity(D3DMATRIX* out);
// Turns by `angle` radians about z: x toward y (counter-clockwise with y up).
D3DMATRIX* MatrixRotationZ(D3DMATRIX* out, float angle);
D3DMATRIX* MatrixScaling(D3DMATRIX* out, float sx, float sy, float sz);
// out = m1 · m2: with row vectors, m1 applies first.
D3DMATRIX* MatrixMultiply(D3DMATRIX* out, const D3DMATRIX* m1, const D3DMATRIX* m2);
D3DMATRIX* MatrixLookAtLH(D3DMATRIX* out, const D3DVECTOR* eye, const D3DVECTOR* at,
                          const D3DVECTOR* up);
// `fovY` is the vertical field of view in radians, `aspect` width / height.
D3DMATRIX* MatrixPerspectiveFovLH(D3DMATRIX* out, float fovY, float aspect, float zNear,
                                  float zFar);

}  // namespace kesto
