// Soak: many start/stop cycles, alternating a TCP stream and a recording's playback, with
// segment and snapshot requests in flight at the moment of each stop, while four host threads
// call the setters, the statistics and the display. Under ASan/LSan it must end without a
// leak, under TSan without a race, and everywhere without a hang or an exception.
//
// Cycle counts: CI's short run by default; KESTO_SOAK_CYCLES=full for 1,000 TCP and 200 file
// cycles, or KESTO_SOAK_CYCLES=<tcp>,<file> for any other. A file stop always takes about two
// seconds (the playback's start delay cannot be cut short), so file cycles dominate the time.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <tuple>
#include <utility>

#include "message_log.h"
#include "streamgen.h"

#if defined(_WIN32)
#include "surface_usage_win32.h"
#endif

namespace kesto::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

class SoakTest : public ClientTest {
  protected:
    SoakTest() : ClientTest(nullptr) {}  // the FFmpeg decoder: real frames reach the display
    void TearDown() override {
        ClientTest::TearDown();
        DestroyD3D();
    }

    // One stream's life. `cycle` varies the moment of the stop and what is in flight.
    void RunCycle(int cycle, bool file, Clock::duration& slowestStop) {
        LoopbackServer server;
        if (!file) server.ServeLoop(packets, 2);
        const std::string uri = file ? "file://" + recording : server.Uri();
        const char* name = file ? "soak-file" : "soak-tcp";
        ASSERT_EQ(StartServerStream(name, uri.c_str()), KESTO_S_OK) << Describe();

        const std::string segment = dir + "soak_segment_" + std::to_string(cycle % 3) + ".bin";
        SaveVideoSegmentRawToDisk(segment.c_str(), cycle % 4 == 0 ? -1 : 60000);
        SaveVideoFrameRawToDisk((dir + (cycle % 2 == 0 ? "soak.bmp" : "soak.png")).c_str());
        if (!file && cycle % 3 == 1) {  // stop once this stream delivers frames
            const double before = GetStreamStat(name, "frames_received");
            PollUntil([&] { return GetStreamStat(name, "frames_received") > before; },
                      milliseconds(2000));
        } else if (!file && cycle % 3 == 2) {
            std::this_thread::sleep_for(milliseconds(30));
        }  // else: stopped while connecting or starting the decoder
        const auto start = Clock::now();
        ASSERT_EQ(StopServerStream(name), KESTO_S_OK);
        slowestStop = std::max(slowestStop, Clock::now() - start);
        ASSERT_EQ(CheckRecordingPair(segment), "") << "cycle " << cycle;
    }

    const std::vector<Packet> packets = GeneratePackets(16);
    const std::string dir = ::testing::TempDir();
    const std::string recording = dir + "soak_recording.bin";
};

// One of the host threads is the display's UI thread (surface, Render, DestroyD3D), so frames
// are uploaded and snapshots written while the streams stop.
TEST_F(SoakTest, StartStopCyclesWithRequestsInFlightAndHostThreadsCalling) {
#if defined(_WIN32)
    AnswerSurfaceUsageAsWindows(true);  // Wine's one differing answer, see there
#endif
    streamgen::WriteRecording(recording, packets);
    std::atomic<bool> done{false}, surfaceMade{false};
    std::atomic<long> calls{0};
    std::vector<std::thread> hosts;
    for (int t = 0; t < 4; ++t) {
        hosts.emplace_back([&, t] {
            const std::string snapshot = dir + "soak_thread_" + std::to_string(t) + ".bmp";
            IDirect3DSurface9* surface = nullptr;
            if (t == 0)
                surfaceMade = GetBackBufferNoRef(&surface) == KESTO_S_OK && surface != nullptr;
            for (long i = 0; !done.load(); ++i) {
                SetRotationOffset(0.01 * static_cast<double>((i + t) % 628));
                SetCurrentZoomFactor(1.0 + static_cast<double>((i * (t + 1)) % 90) / 10.0);
                if (i % 16 == 0) SaveVideoFrameRawToDisk(snapshot.c_str());
                GetStreamStat("soak-tcp", i % 2 == 0 ? "fps" : "frames_received");
                GetStreamStat("soak-file", "bps");
                if (t == 0) Render();
                calls.fetch_add(1);
                std::this_thread::sleep_for(milliseconds(1));
            }
            if (t == 0) DestroyD3D();
        });
    }

    int tcpCycles = 200, fileCycles = 20;  // KESTO_SOAK_CYCLES: "full" or "<tcp>,<file>"
    if (const char* setting = std::getenv("KESTO_SOAK_CYCLES")) {
        if (std::string(setting) == "full")
            std::tie(tcpCycles, fileCycles) = std::make_pair(1000, 200);
        std::sscanf(setting, "%d,%d", &tcpCycles, &fileCycles);
    }
    Clock::duration slowestTcpStop{}, slowestFileStop{};
    const int every = fileCycles > 0 ? std::max(1, tcpCycles / fileCycles) : 0;
    int fileRun = 0;
    for (int i = 0; i < tcpCycles && !HasFailure(); ++i) {
        RunCycle(i, false, slowestTcpStop);
        if (every > 0 && (i + 1) % every == 0 && fileRun < fileCycles) {
            RunCycle(i, true, slowestFileStop);
            ++fileRun;
        }
        if (i % 50 == 49) ClearLog();
    }
    done.store(true);
    for (auto& host : hosts) host.join();
    DestroyClient();

    EXPECT_TRUE(surfaceMade) << "no display surface (under Wine: no X display?)";
    EXPECT_GT(calls.load(), 100);
    // A stop waits for the frame the worker is handing over, and with it for the display lock,
    // which the four host threads take over and over (Render, snapshots): about 100 ms at
    // full speed; under TSan on two loaded cores up to 18 s was seen. Only a hang fails here;
    // the fault matrix holds stops without a display to 500 ms.
#if defined(__SANITIZE_THREAD__)
    const milliseconds hang(60000);
#else
    const milliseconds hang(10000);
#endif
    EXPECT_LT(slowestTcpStop, hang);
    EXPECT_LT(slowestFileStop, hang + milliseconds(2000));
    EXPECT_EQ(CountCode(KESTO_MESSAGE_EXCEPTION), 0u) << Describe();
    RecordProperty("cycles", tcpCycles + fileRun);
}

}  // namespace
}  // namespace kesto::test
