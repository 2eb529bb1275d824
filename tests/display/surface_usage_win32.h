// Wine's one answer that differs from Windows', given Windows' answer for this process: used by
// every Windows test program that makes the display's surfaces.
#pragma once

#include <windows.h>

#include <d3d9.h>

namespace kesto::test {

// While `on`, IDirect3D9::CheckDeviceFormat answers a render-target surface query that
// carries D3DUSAGE_DYNAMIC as it answers the same query without that flag.
//
// GetBackBufferNoRef asks for render-target surfaces with D3DUSAGE_DYNAMIC before it makes
// any, as the host's D3DImage requires, and gives E_FAIL when the answer is no. Windows'
// runtime passes the usage to the driver, which accepts it. Wine's wined3d checks surfaces
// (render targets not bound as shader resources) against a usage table that lacks
// D3DUSAGE_DYNAMIC and answers D3DERR_NOTAVAILABLE, although the surface the library then
// makes with CreateRenderTarget carries no usage flag at all and wined3d creates and draws it
// correctly. So under Wine the tests give that one query Windows' answer and leave every
// other call, the surfaces, the drawing and the read-back to the real runtime.
//
// Every IDirect3D9 and IDirect3D9Ex object of d3d9.dll shares one method table (COM objects
// of one class do), so replacing its CheckDeviceFormat entry reaches the objects the library
// creates after this; turning it off puts the entry back. The library must be without a
// Direct3D object at either call (DestroyD3D first).
void AnswerSurfaceUsageAsWindows(bool on);

// Whether the runtime accepts render-target surfaces with `usage`.
bool AcceptsRenderTargets(IDirect3D9Ex* d3d, DWORD usage);

}  // namespace kesto::test
