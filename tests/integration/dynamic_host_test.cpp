// A plain host: it loads the client library at run time, binds the exports by name and
// unloads it again, and links neither the client library nor Direct3D. Each case runs in a
// process of its own, so that whatever the library leaves behind when it is unloaded, or when
// the process exits, shows up there (a crash, a hang, a callback, a leak).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kesto/video_client.h"
#include "loopback_server.h"
#include "streamgen.h"
#include "test_platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kesto::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr const char* kDecoderInstantiated = "After decoder instantiation";

// What the host saw: messages, and every callback that came after the unload had returned.
std::mutex logLock;
std::vector<std::string> messages;
int frameNotices = 0;
std::atomic<bool> unloaded{false};
std::atomic<int> callbacksAfterUnload{0};

void KESTO_CALL OnMessage(int32_t code, const char* text, int64_t) {
    if (unloaded.load()) ++callbacksAfterUnload;
    std::lock_guard<std::mutex> guard(logLock);
    if (code == KESTO_MESSAGE_FRAME_READY) ++frameNotices;
    if (text != nullptr) messages.emplace_back(text);
}

void KESTO_CALL OnAzimuth(double) {
    if (unloaded.load()) ++callbacksAfterUnload;
}

std::size_t CountMessages(const std::string& text) {
    std::lock_guard<std::mutex> guard(logLock);
    std::size_t count = 0;
    for (const std::string& message : messages) count += message == text ? 1 : 0;
    return count;
}

bool Eventually(const std::function<bool()>& done, milliseconds timeout = milliseconds(10000)) {
    for (const auto end = Clock::now() + timeout; Clock::now() < end;) {
        if (done()) return true;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return done();
}

bool Direct3DLoaded() {
#if defined(_WIN32)
    return GetModuleHandleW(L"d3d9.dll") != nullptr;
#else
    return false;  // the software Direct3D lives inside the client library
#endif
}

class DynamicHost : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDecoderLibrarySetting(nullptr);
        ASSERT_FALSE(Direct3DLoaded()) << "this host must not hold d3d9.dll itself";
        library = std::make_unique<LoadedLibrary>(CLIENT_LIBRARY_PATH);
        ASSERT_TRUE(library->Loaded()) << library->Error();
        Bind(SetCallbackFunc, "SetCallbackFunc");
        Bind(SetAzCallbackFunc, "SetAzCallbackFunc");
        Bind(StartServerStream, "StartServerStream");
        Bind(StopServerStream, "StopServerStream");
        Bind(DestroyClient, "DestroyClient");
        Bind(GetStreamStat, "GetStreamStat");
        Bind(SetSize, "SetSize");
        Bind(SetAdapter, "SetAdapter");
        Bind(GetBackBufferNoRef, "GetBackBufferNoRef");
        Bind(Render, "Render");
        Bind(DestroyD3D, "DestroyD3D");
        SetCallbackFunc(&OnMessage);
        SetAzCallbackFunc(&OnAzimuth);
    }

    template <typename Function>
    void Bind(Function& function, const char* name) {
        function = reinterpret_cast<Function>(library->Symbol(name));
        ASSERT_NE(function, nullptr) << name;
    }

    // Unloads the library; how long that took. A hang is the CTest time-out.
    double Unload() {
        const auto start = Clock::now();
        library.reset();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        unloaded.store(true);
        std::printf("unload took %.3f s\n", seconds);
        return seconds;
    }

    // Generated pictures (options the Windows build keeps pre-encoded).
    static std::vector<std::vector<uint8_t>> Pictures(int count) {
        streamgen::GeneratorOptions options;
        options.side = 128;
        options.gop = 10;
        streamgen::StreamGenerator generator(options);
        std::vector<std::vector<uint8_t>> packets;
        for (int i = 0; i < count; ++i) packets.push_back(generator.NextFrame(0.01f * i));
        return packets;
    }

    // A live stream of generated pictures at about 30 per second until the test ends.
    void ServeLive(LoopbackServer& server) {
        const std::vector<std::vector<uint8_t>> packets = Pictures(30);
        server.Serve([&server, packets](LoopbackServer::Socket socket) {
            while (server.SendPackets(socket, packets, 33)) {
            }
        });
    }

    std::string WriteRecording(const std::string& name) {
        const std::string raw = ::testing::TempDir() + "dynamic_host_" + name + ".bin";
        streamgen::WriteRecording(raw, Pictures(10));
        return "file://" + raw;
    }

    bool FramesArrive() {
        return Eventually([&] { return GetStreamStat("cam", "frames_received") >= 3; });
    }

    std::unique_ptr<LoadedLibrary> library;
    decltype(&::SetCallbackFunc) SetCallbackFunc = nullptr;
    decltype(&::SetAzCallbackFunc) SetAzCallbackFunc = nullptr;
    decltype(&::StartServerStream) StartServerStream = nullptr;
    decltype(&::StopServerStream) StopServerStream = nullptr;
    decltype(&::DestroyClient) DestroyClient = nullptr;
    decltype(&::GetStreamStat) GetStreamStat = nullptr;
    decltype(&::SetSize) SetSize = nullptr;
    decltype(&::SetAdapter) SetAdapter = nullptr;
    decltype(&::GetBackBufferNoRef) GetBackBufferNoRef = nullptr;
    decltype(&::Render) Render = nullptr;
    decltype(&::DestroyD3D) DestroyD3D = nullptr;
};

// S_OK; or, under Wine, E_FAIL without a surface: wined3d refuses the dynamic render-target
// usage that the surface check asks for, once the Direct3D object and the devices are made.
void ExpectSurfaceOrWineRefusal(int32_t result, IDirect3DSurface9* surface) {
    if (result != KESTO_S_OK) {
        EXPECT_EQ(result, KESTO_E_FAIL);
        EXPECT_EQ(surface, nullptr);
    }
}

// The display's Direct3D objects live in the library alone: the runtime module must stay
// loaded as long as they do, and go with the last of them.
TEST_F(DynamicHost, DisplayWithoutDirect3DInTheHost) {
    IDirect3DSurface9* surface = nullptr;
    EXPECT_EQ(SetSize(512, 512), KESTO_S_OK);
    ExpectSurfaceOrWineRefusal(GetBackBufferNoRef(&surface), surface);
    EXPECT_EQ(Render(), KESTO_S_OK);
    EXPECT_EQ(SetAdapter(KestoPoint{0, 0}), KESTO_S_OK);
    DestroyD3D();
    EXPECT_FALSE(Direct3DLoaded());

    LoopbackServer server;
    ServeLive(server);
    ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
    ASSERT_TRUE(FramesArrive());
    ExpectSurfaceOrWineRefusal(GetBackBufferNoRef(&surface), surface);
    EXPECT_TRUE(Eventually([] {
        std::lock_guard<std::mutex> guard(logLock);
        return frameNotices >= 3;
    }));
    EXPECT_EQ(Render(), KESTO_S_OK);
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    DestroyD3D();
    DestroyClient();
    SetCallbackFunc(nullptr);
    SetAzCallbackFunc(nullptr);
    Unload();
    EXPECT_FALSE(Direct3DLoaded());
}

// The host unloads the library without DestroyClient, with its stream in each state.
enum class Running { Live, StalledServer, Connecting, FileStartDelay, FilePlaying };

class UnloadWithStream : public DynamicHost, public ::testing::WithParamInterface<Running> {};

TEST_P(UnloadWithStream, ReturnsAtOnceAndNothingFollows) {
    LoopbackServer server(0);
    switch (GetParam()) {
        case Running::Live:
            ServeLive(server);
            ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
            ASSERT_TRUE(FramesArrive());
            break;
        case Running::StalledServer:
            server.Serve([&](LoopbackServer::Socket) {
                Eventually([&] { return server.Stopping(); }, milliseconds(30000));
            });
            ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
            ASSERT_TRUE(Eventually([] { return CountMessages(kDecoderInstantiated) == 1; }));
            break;
        case Running::Connecting: {
            // Nobody accepts: each stream's connection fills the listener's queue until the
            // next one's connect is left unanswered.
            bool connecting = false;
            for (std::size_t attempt = 0; attempt < 6 && !connecting; ++attempt) {
                ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
                connecting =
                    !Eventually([&] { return CountMessages(kDecoderInstantiated) > attempt; },
                                milliseconds(500));
            }
            ASSERT_TRUE(connecting);
            break;
        }
        case Running::FileStartDelay:
            ASSERT_EQ(StartServerStream("cam", WriteRecording("delay").c_str()), KESTO_S_OK);
            std::this_thread::sleep_for(milliseconds(500));
            break;
        case Running::FilePlaying:
            ASSERT_EQ(StartServerStream("cam", WriteRecording("playing").c_str()), KESTO_S_OK);
            ASSERT_TRUE(FramesArrive());
            break;
    }
    // Returning, not hanging, is the point; the library itself bounds its wait below a second.
    EXPECT_LT(Unload(), 3.0);
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_EQ(callbacksAfterUnload.load(), 0);
}

std::string StateName(const ::testing::TestParamInfo<Running>& state) {
    const char* const names[] = {"Live", "StalledServer", "Connecting", "FileStartDelay",
                                 "FilePlaying"};
    return names[state.index];
}

INSTANTIATE_TEST_SUITE_P(States, UnloadWithStream,
                         ::testing::Values(Running::Live, Running::StalledServer,
                                           Running::Connecting, Running::FileStartDelay,
                                           Running::FilePlaying),
                         StateName);

// A host that exits with the library loaded and its stream playing.
TEST_F(DynamicHost, ProcessExitWithStreamPlaying) {
    ASSERT_EQ(StartServerStream("cam", WriteRecording("exit").c_str()), KESTO_S_OK);
    ASSERT_TRUE(FramesArrive());
    static LoadedLibrary* const kept = library.release();
    static_cast<void>(kept);
}

}  // namespace
}  // namespace kesto::test
