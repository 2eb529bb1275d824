#include "display_win32_support.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <cstring>

#include "kesto/video_client.h"
#include "message_log.h"
#include "test_platform.h"

namespace kesto::test {

D3DSURFACE_DESC SurfaceDesc(IDirect3DSurface9* surface) {
    D3DSURFACE_DESC desc{};
    EXPECT_EQ(surface->GetDesc(&desc), D3D_OK);
    return desc;
}

std::vector<uint32_t> ReadBack(IDirect3DSurface9* surface) {
    const D3DSURFACE_DESC desc = SurfaceDesc(surface);
    std::vector<uint32_t> pixels(static_cast<std::size_t>(desc.Width) * desc.Height);
    Held<IDirect3DDevice9> device;
    Held<IDirect3DSurface9> copy;
    D3DLOCKED_RECT locked{};
    if (surface->GetDevice(&device) != D3D_OK ||
        device->CreateOffscreenPlainSurface(desc.Width, desc.Height, desc.Format, D3DPOOL_SYSTEMMEM,
                                            &copy, nullptr) != D3D_OK ||
        device->GetRenderTargetData(surface, copy.p) != D3D_OK ||
        copy->LockRect(&locked, nullptr, D3DLOCK_READONLY) != D3D_OK) {
        ADD_FAILURE() << "reading the render target back failed";
        return pixels;
    }
    for (UINT y = 0; y < desc.Height; ++y) {
        std::memcpy(
            &pixels[static_cast<std::size_t>(y) * desc.Width],
            static_cast<const uint8_t*>(locked.pBits) + static_cast<std::size_t>(y) * locked.Pitch,
            static_cast<std::size_t>(desc.Width) * 4);
    }
    copy->UnlockRect();
    return pixels;
}

Direct3DHere ProbeDirect3D() {
    Held<IDirect3D9Ex> d3d;
    if (FAILED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d)) || d3d.p == nullptr) {
        return Direct3DHere::None;
    }
    auto check = [&](DWORD usage) {
        return SUCCEEDED(d3d->CheckDeviceFormat(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, D3DFMT_X8R8G8B8,
                                                usage, D3DRTYPE_SURFACE, D3DFMT_X8R8G8B8));
    };
    if (check(D3DUSAGE_RENDERTARGET | D3DUSAGE_DYNAMIC)) return Direct3DHere::Usable;
    return check(D3DUSAGE_RENDERTARGET) ? Direct3DHere::RefusesDynamicTargets : Direct3DHere::None;
}

// ---------------------------------------------------------------------------------------------

namespace {

using CheckDeviceFormatMethod = HRESULT(STDMETHODCALLTYPE*)(IDirect3D9*, UINT, D3DDEVTYPE,
                                                            D3DFORMAT, DWORD, D3DRESOURCETYPE,
                                                            D3DFORMAT);

// The COM method order of IDirect3D9: IUnknown's three, RegisterSoftwareDevice,
// GetAdapterCount, GetAdapterIdentifier, GetAdapterModeCount, EnumAdapterModes,
// GetAdapterDisplayMode, CheckDeviceType, then CheckDeviceFormat. IDirect3D9Ex extends the
// same table.
constexpr std::size_t kCheckDeviceFormatSlot = 10;

CheckDeviceFormatMethod runtimeCheckDeviceFormat = nullptr;
unsigned answered = 0;

HRESULT STDMETHODCALLTYPE CheckDeviceFormatAsWindows(IDirect3D9* self, UINT adapter,
                                                     D3DDEVTYPE type, D3DFORMAT adapterFormat,
                                                     DWORD usage, D3DRESOURCETYPE resource,
                                                     D3DFORMAT format) {
    if (resource == D3DRTYPE_SURFACE && (usage & D3DUSAGE_RENDERTARGET) != 0 &&
        (usage & D3DUSAGE_DYNAMIC) != 0) {
        usage &= ~static_cast<DWORD>(D3DUSAGE_DYNAMIC);
        ++answered;
    }
    return runtimeCheckDeviceFormat(self, adapter, type, adapterFormat, usage, resource, format);
}

void** MethodSlot(void* const* table) {
    return const_cast<void**>(table) + kCheckDeviceFormatSlot;
}

bool WriteSlot(void** slot, void* method) {
    DWORD previous = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return false;
    *slot = method;
    VirtualProtect(slot, sizeof *slot, previous, &previous);
    return true;
}

}  // namespace

WindowsSurfaceUsageAnswer::WindowsSurfaceUsageAnswer() {
    Held<IDirect3D9Ex> d3d;
    if (FAILED(Direct3DCreate9Ex(D3D_SDK_VERSION, &d3d)) || d3d.p == nullptr) {
        ADD_FAILURE() << "no Direct3D object to take the method table from";
        return;
    }
    void* const* methods = *reinterpret_cast<void* const* const*>(d3d.p);
    void** slot = MethodSlot(methods);
    if (*slot == reinterpret_cast<void*>(&CheckDeviceFormatAsWindows)) {
        ADD_FAILURE() << "the surface usage answer is installed twice";
        return;
    }
    runtimeCheckDeviceFormat = reinterpret_cast<CheckDeviceFormatMethod>(*slot);
    answered = 0;
    if (!WriteSlot(slot, reinterpret_cast<void*>(&CheckDeviceFormatAsWindows))) {
        ADD_FAILURE() << "cannot write d3d9's method table: " << GetLastError();
        return;
    }
    table = methods;
}

WindowsSurfaceUsageAnswer::~WindowsSurfaceUsageAnswer() {
    if (table == nullptr) return;
    if (!WriteSlot(MethodSlot(table), reinterpret_cast<void*>(runtimeCheckDeviceFormat))) {
        ADD_FAILURE() << "cannot restore d3d9's method table: " << GetLastError();
    }
}

unsigned WindowsSurfaceUsageAnswer::Answered() {
    return answered;
}

// ---------------------------------------------------------------------------------------------

FrameFeed::FrameFeed(const char* decoderPath) : decoder(decoderPath) {
    server.Serve([this](LoopbackServer::Socket socket) {
        unsigned sent = 0;
        // One byte per chunk the test asks for; the test decoder hands out what was queued
        // before it. Waits are short so that a session left waiting notices the server stop.
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock);
                wake.wait_for(guard, std::chrono::milliseconds(50),
                              [&] { return ended || chunksAsked > sent; });
                if (ended) return;
                if (chunksAsked == sent) {
                    if (server.Stopping()) return;
                    continue;
                }
                ++sent;
            }
            const uint8_t chunk = 0;
            if (!LoopbackServer::SendAll(socket, &chunk, 1)) return;
        }
    });
    EXPECT_EQ(StartServerStream("display", server.Uri().c_str()), KESTO_S_OK);
}

FrameFeed::~FrameFeed() {
    {
        std::lock_guard<std::mutex> guard(lock);
        ended = true;
    }
    wake.notify_all();
    StopServerStream("display");
    server.Join();
}

bool FrameFeed::Show(const std::vector<uint8_t>& frame) {
    decoder.QueueFrame(frame);
    return Send();
}

bool FrameFeed::Show(const std::vector<uint8_t>& frame, float azimuth) {
    // The instrument's info record: user data unregistered (type 5), 24 bytes of payload: the
    // identifier, the word 24, the azimuth; all little-endian.
    static const uint8_t identifier[16] = {0x68, 0xA2, 0xDC, 0x40, 0x28, 0xCA, 0x26, 0x41,
                                           0x87, 0x11, 0x2C, 0xE4, 0x2C, 0x15, 0x0B, 0x58};
    std::vector<uint8_t> record{5, 24};
    record.insert(record.end(), identifier, identifier + 16);
    uint32_t bits = 0;
    std::memcpy(&bits, &azimuth, 4);
    for (uint32_t word : {24u, bits}) {
        for (int i = 0; i < 4; ++i) record.push_back(static_cast<uint8_t>(word >> (8 * i)));
    }
    record.push_back(0x80);
    decoder.QueueSei(record.data(), static_cast<int>(record.size()));
    return Show(frame);
}

bool FrameFeed::Send() {
    {
        std::lock_guard<std::mutex> guard(lock);
        ++chunksAsked;
    }
    wake.notify_all();
    ++framesShown;
    const std::size_t expected = framesShown;
    return WaitFor([expected](const std::vector<LoggedMessage>& messages) {
        std::size_t ready = 0;
        for (const LoggedMessage& message : messages) {
            if (message.code == KESTO_MESSAGE_FRAME_READY) ++ready;
        }
        return ready >= expected;
    });
}

}  // namespace kesto::test
