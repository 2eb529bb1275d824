// A plain host: it loads the client library at run time, binds the exports by name and
// unloads it again, and links neither the client library nor Direct3D. Each case runs in a
// process of its own, so that whatever the library leaves behind when it is unloaded, or when
// the process exits, shows up there (a crash, a hang, a callback, a leak).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kesto/video_client.h"
#include "loopback_server.h"
#include "recordings.h"
#include "streamgen.h"
#include "test_platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kesto::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// What the host saw; every callback after the unload had returned is a failure.
std::atomic<int> frameNotices{0}, decodersMade{0}, callbacksAfterUnload{0};
std::atomic<bool> unloaded{false};

// Once the host's exit has begun, the library's workers may run on until the system ends them,
// but nothing of the library may run on the host's own thread: that would be teardown, which on
// Windows calls into modules already detached and waits on locks of threads already gone. Such
// a call ends the process with a failing status, as a crash or a hang at exit fails the test.
std::atomic<bool> exitBegun{false};
std::thread::id hostThread;
void FailOnTeardownAtExit() {
    if (!exitBegun || std::this_thread::get_id() != hostThread) return;
    std::fputs("the library ran on the host's thread after its exit had begun\n", stderr);
#if defined(_WIN32)
    TerminateProcess(GetCurrentProcess(), 3);
#endif
    std::_Exit(3);
}

void KESTO_CALL OnMessage(int32_t code, const char* text, int64_t) {
    FailOnTeardownAtExit();
    callbacksAfterUnload += unloaded ? 1 : 0;
    frameNotices += code == KESTO_MESSAGE_FRAME_READY ? 1 : 0;
    decodersMade += text != nullptr && std::strcmp(text, "After decoder instantiation") == 0;
}
// Checked and counted as any callback is; -1 is no message code.
void KESTO_CALL OnAzimuth(double) {
    OnMessage(-1, nullptr, 0);
}

#if defined(_WIN32)
// Watches the display's hidden window: destroying it at exit would be teardown.
WNDPROC focusWindowProc = nullptr;
LRESULT CALLBACK WatchFocusWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    FailOnTeardownAtExit();
    return CallWindowProcW(focusWindowProc, window, message, wParam, lParam);
}
#endif

bool Direct3DLoaded() {
#if defined(_WIN32)
    return GetModuleHandleW(L"d3d9.dll") != nullptr;
#else
    return false;  // the software Direct3D lives inside the client library
#endif
}

std::string Recording(const std::string& name) {
    const std::string raw = ::testing::TempDir() + "dynamic_host_" + name + ".bin";
    streamgen::WriteRecording(raw, GeneratePackets(10, 128, 10));  // pre-encoded on Windows
    return "file://" + raw;
}

#define KESTO_EXPORT_FIELD(name) decltype(&::name) name = Bind<decltype(&::name)>(#name)

class DynamicHost : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library->Loaded()) << library->Error();
        ASSERT_EQ(unbound, "");
        ASSERT_FALSE(Direct3DLoaded()) << "this host must not hold d3d9.dll itself";
        SetCallbackFunc(&OnMessage);
        SetAzCallbackFunc(&OnAzimuth);
    }

    template <typename Function>
    Function Bind(const char* name) {
        auto function = reinterpret_cast<Function>(library->Symbol(name));
        if (function == nullptr) unbound += std::string(name) + " ";
        return function;
    }

    // Unloads the library; how long that took. A hang is the CTest time-out.
    double Unload() {
        const auto start = Clock::now();
        library.reset();
        unloaded = true;
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    // A live stream of generated pictures at about 30 per second until the test ends.
    void StartLive(LoopbackServer& server) {
        server.ServeLoop(GeneratePackets(30, 128, 10), 33);
        ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
    }
    bool FramesArrive() {
        return PollUntil([&] { return GetStreamStat("cam", "frames_received") >= 3; });
    }

    const int decoderSetting = (SetDecoderLibrarySetting(nullptr), 0);
    std::unique_ptr<LoadedLibrary> library = std::make_unique<LoadedLibrary>(CLIENT_LIBRARY_PATH);
    std::string unbound;
    KESTO_EXPORT_FIELD(SetCallbackFunc);
    KESTO_EXPORT_FIELD(SetAzCallbackFunc);
    KESTO_EXPORT_FIELD(StartServerStream);
    KESTO_EXPORT_FIELD(StopServerStream);
    KESTO_EXPORT_FIELD(DestroyClient);
    KESTO_EXPORT_FIELD(GetStreamStat);
    KESTO_EXPORT_FIELD(SetSize);
    KESTO_EXPORT_FIELD(SetAdapter);
    KESTO_EXPORT_FIELD(GetBackBufferNoRef);
    KESTO_EXPORT_FIELD(Render);
    KESTO_EXPORT_FIELD(DestroyD3D);
};

// The display's Direct3D objects live in the library alone: the runtime module must stay
// loaded as long as they do, and go with the last of them. The surface: S_OK; or, under Wine,
// E_FAIL without one (wined3d refuses the dynamic render-target usage the surface check asks for).
TEST_F(DynamicHost, DisplayWithoutDirect3DInTheHost) {
    LoopbackServer server;
    const auto expectSurface = [&] {
        IDirect3DSurface9* surface = nullptr;
        const int32_t result = GetBackBufferNoRef(&surface);
        EXPECT_TRUE(result == KESTO_S_OK || (result == KESTO_E_FAIL && surface == nullptr));
        EXPECT_EQ(Render(), KESTO_S_OK);
    };
    EXPECT_EQ(SetSize(512, 512), KESTO_S_OK);
    expectSurface();
    EXPECT_EQ(SetAdapter(KestoPoint{0, 0}), KESTO_S_OK);
    DestroyD3D();
    EXPECT_FALSE(Direct3DLoaded());

    StartLive(server);
    ASSERT_TRUE(FramesArrive());
    expectSurface();
    EXPECT_TRUE(PollUntil([] { return frameNotices >= 3; }));
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    DestroyD3D();
    DestroyClient();
    SetCallbackFunc(nullptr);
    SetAzCallbackFunc(nullptr);
    Unload();
    EXPECT_FALSE(Direct3DLoaded());
}

// The host unloads the library without DestroyClient, with its stream in each state.
class UnloadWithStream : public DynamicHost, public ::testing::WithParamInterface<std::string> {};

TEST_P(UnloadWithStream, ReturnsAtOnceAndNothingFollows) {
    LoopbackServer server;
    FullListener full;
    const std::string state = GetParam();
    if (state == "Live") {
        StartLive(server);
        ASSERT_TRUE(FramesArrive());
    } else if (state == "StalledServer") {
        server.Serve([&](LoopbackServer::Socket) {
            PollUntil([&] { return server.Stopping(); }, milliseconds(30000));
        });
        ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
        ASSERT_TRUE(PollUntil([] { return decodersMade == 1; }));
    } else if (state == "Connecting") {  // nobody accepts: the connect waits
        ASSERT_EQ(StartServerStream("cam", full.Uri().c_str()), KESTO_S_OK);
        ASSERT_FALSE(PollUntil([] { return decodersMade > 0; }, milliseconds(500)));
    } else {
        ASSERT_EQ(StartServerStream("cam", Recording(state).c_str()), KESTO_S_OK);
        // Inside the start delay, or playing.
        std::this_thread::sleep_for(milliseconds(500));
        if (state == "FilePlaying") {
            ASSERT_TRUE(FramesArrive());
        }
    }
    // Returning, not hanging, is the point; the library itself bounds its wait below a second.
    EXPECT_LT(Unload(), 3.0);
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_EQ(callbacksAfterUnload, 0);
}

INSTANTIATE_TEST_SUITE_P(States, UnloadWithStream,
                         ::testing::Values("Live", "StalledServer", "Connecting", "FileStartDelay",
                                           "FilePlaying"),
                         [](const auto& state) { return state.param; });

// A host that exits with the library loaded, its stream playing and its display showing.
TEST_F(DynamicHost, ProcessExitWithStreamPlaying) {
    IDirect3DSurface9* surface = nullptr;
    GetBackBufferNoRef(&surface);  // a surface, or under Wine the devices and window without one
    ASSERT_EQ(StartServerStream("cam", Recording("exit").c_str()), KESTO_S_OK);
    ASSERT_TRUE(FramesArrive());
    ASSERT_TRUE(PollUntil([] { return frameNotices >= 3; }));
#if defined(_WIN32)
    const HWND focusWindow = FindWindowW(L"D3DImageSample", nullptr);
    ASSERT_NE(focusWindow, nullptr);
    focusWindowProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
        focusWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WatchFocusWindow)));
#endif
    hostThread = std::this_thread::get_id();
    std::atexit([] { exitBegun = true; });
    static LoadedLibrary* const kept = library.release();
    static_cast<void>(kept);
}

}  // namespace
}  // namespace kesto::test
