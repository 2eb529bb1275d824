// What the Windows display tests share: the system's Direct3D 9 probed independently of the
// library, render targets read back, the answer Windows gives to the library's surface check
// where Wine's differs, and a stream session whose frames the test makes.
#pragma once

#include <d3d9.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "loopback_server.h"
#include "pictures.h"
#include "test_decoder_control.h"

namespace kesto::test {

// Releases a COM pointer at the end of the scope.
template <typename T>
struct Held {
    T* p = nullptr;
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    ~Held() {
        if (p != nullptr) p->Release();
    }
    T** operator&() { return &p; }
    T* operator->() const { return p; }
};

D3DSURFACE_DESC SurfaceDesc(IDirect3DSurface9* surface);

// The surface's pixels row by row, read back into system memory (render targets of an
// extended device are not lockable).
std::vector<uint32_t> ReadBack(IDirect3DSurface9* surface);

// What this system's Direct3D offers for the library's render-target surfaces.
enum class Direct3DHere {
    None,                   // no Direct3D object (under Wine: no X display)
    RefusesDynamicTargets,  // refuses D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC, takes the rest
    Usable,
};
Direct3DHere ProbeDirect3D();

// While alive, IDirect3D9::CheckDeviceFormat answers a render-target surface query that
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
// creates after this; the destructor puts the entry back. The library must be without a
// Direct3D object when this is made and destroyed (DestroyD3D first).
class WindowsSurfaceUsageAnswer {
  public:
    WindowsSurfaceUsageAnswer();
    ~WindowsSurfaceUsageAnswer();
    WindowsSurfaceUsageAnswer(const WindowsSurfaceUsageAnswer&) = delete;
    WindowsSurfaceUsageAnswer& operator=(const WindowsSurfaceUsageAnswer&) = delete;

    // Dynamic render-target queries answered without the flag since construction.
    static unsigned Answered();

  private:
    void* const* table = nullptr;
};

// A stream session on the test decoder whose frames the test makes: Show queues one frame
// (after an azimuth record, when given) in the test decoder, has the loopback server send one
// chunk, and waits until the library has put the frame into the texture (its FrameReady).
// Needs the decoder setting pointed at the test decoder (DECODER_SETTING tests).
class FrameFeed {
  public:
    explicit FrameFeed(const char* decoderPath);
    ~FrameFeed();
    FrameFeed(const FrameFeed&) = delete;
    FrameFeed& operator=(const FrameFeed&) = delete;

    // False when the frame did not arrive within the time-out.
    bool Show(const std::vector<uint8_t>& frame);
    bool Show(const std::vector<uint8_t>& frame, float azimuth);

  private:
    bool Send();

    TestDecoderControl decoder;
    std::mutex lock;
    std::condition_variable wake;
    unsigned chunksAsked = 0;  // guarded by lock
    bool ended = false;        // guarded by lock
    std::size_t framesShown = 0;
    LoopbackServer server;  // last: its session uses the fields above until it is joined
};

}  // namespace kesto::test
