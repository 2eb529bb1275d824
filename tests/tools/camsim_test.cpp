// The simulator as a host meets it: the simulator's server runs in this process, the client
// library connects to it through its exports, and every fault switch must show up as the
// messages a host would see, with StopServerStream returning promptly whatever the server does.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "camsim_server.h"
#include "kesto/video_client.h"
#include "message_log.h"
#include "streamgen.h"

namespace kesto::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr int kSide = 128;

camsim::ServerOptions SmallLive() {
    camsim::ServerOptions options;
    options.port = 0;
    options.side = kSide;
    options.fps = 50;
    options.gop = 10;
    options.azimuthRate = 2.0;
    return options;
}

std::string UriOf(const camsim::Server& server) {
    return "tcp://127.0.0.1:" + std::to_string(server.Port());
}

double FramesReceived() {
    return GetStreamStat("sim", "frames_received");
}

class CamsimTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("KESTO_DECODER_LIB");
        InstallRecordingCallbacks();
        ClearLog();
    }
    void TearDown() override { DestroyClient(); }

    // Stops the stream and checks that it did not have to wait for the server.
    void StopPromptly() {
        const auto start = Clock::now();
        EXPECT_EQ(StopServerStream("sim"), KESTO_S_OK);
        EXPECT_LT(Clock::now() - start, milliseconds(2000)) << Describe();
    }
};

TEST_F(CamsimTest, LiveStreamDeliversFramesAndASweepingAzimuth) {
    camsim::Server server(SmallLive());
    server.Start();
    ASSERT_EQ(StartServerStream("sim", UriOf(server).c_str()), KESTO_S_OK);
    ASSERT_TRUE(WaitFor([](const auto&) { return FramesReceived() >= 20; })) << Describe();
    StopPromptly();
    EXPECT_EQ(GetStreamStat("sim", "stream_width"), kSide);
    EXPECT_EQ(GetStreamStat("sim", "stream_height"), kSide);
    EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), 0u) << Describe();

    // 2 rad/s at 50 fps: each record 0.04 rad on from the one before (float precision).
    const std::vector<double> azimuths = Azimuths();
    ASSERT_GE(azimuths.size(), 20u);
    EXPECT_NEAR(azimuths[0], 0.0, 1e-6);
    for (std::size_t i = 1; i < azimuths.size(); ++i) {
        EXPECT_NEAR(azimuths[i] - azimuths[i - 1], 0.04, 1e-5) << i;
    }
    server.Stop();
    server.Join();
    EXPECT_EQ(server.ConnectionsAccepted(), 1);
}

struct FaultCase {
    const char* name;
    camsim::Faults faults;
    int32_t expectedCode;  // 0: the stream must go on without an end message
    std::string expectedText;
    bool framesExpected;
};

// Names the case in gtest's output instead of a byte dump.
void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

camsim::Faults Fault(int64_t camsim::Faults::*field, int64_t bytes) {
    camsim::Faults faults;
    faults.*field = bytes;
    return faults;
}

class CamsimFaultTest : public CamsimTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CamsimFaultTest, HostSeesTheFaultAndStopsPromptly) {
    const FaultCase& c = GetParam();
    camsim::ServerOptions options = SmallLive();
    options.faults = c.faults;
    camsim::Server server(options);
    server.Start();
    ASSERT_EQ(StartServerStream("sim", UriOf(server).c_str()), KESTO_S_OK);
    if (c.expectedCode != 0) {
        ASSERT_TRUE(WaitForMessage(c.expectedCode, c.expectedText)) << Describe();
    } else {
        // Give the stream time to run into the fault (or through the trickle).
        std::this_thread::sleep_for(milliseconds(1500));
    }
    if (c.framesExpected) {
        ASSERT_TRUE(WaitFor([](const auto&) { return FramesReceived() >= 5; })) << Describe();
    }
    StopPromptly();
    EXPECT_EQ(CountCode(KESTO_MESSAGE_EXCEPTION), 0u) << Describe();
    // A stalled or garbage stream must not be reported as ended by the library.
    if (c.expectedCode == 0) {
        EXPECT_FALSE(HasMessage(KESTO_MESSAGE_STATUS, "Tcp video stream connection closed"))
            << Describe();
    }
    server.Stop();
    const auto start = Clock::now();
    server.Join();
    EXPECT_LT(Clock::now() - start, milliseconds(1000));
}

// The first frames of a 128 x 128 stream are well over 2000 bytes together, so 20000 bytes
// hold several whole frames before a fault fires.
INSTANTIATE_TEST_SUITE_P(
    Switches, CamsimFaultTest,
    ::testing::Values(
        FaultCase{"close", Fault(&camsim::Faults::closeAfter, 20000), KESTO_MESSAGE_STATUS,
                  "Tcp video stream connection closed", true},
        FaultCase{"close_at_once", Fault(&camsim::Faults::closeAfter, 0), KESTO_MESSAGE_STATUS,
                  "Tcp video stream connection closed", false},
        FaultCase{"reset", Fault(&camsim::Faults::resetAfter, 20000), KESTO_MESSAGE_ERROR,
                  "Tcp video stream recv() failed with error " + std::to_string(ECONNRESET), true},
        FaultCase{"stall", Fault(&camsim::Faults::stallAfter, 20000), 0, "", true},
        FaultCase{"stall_at_once", Fault(&camsim::Faults::stallAfter, 0), 0, "", false},
        FaultCase{"garbage", Fault(&camsim::Faults::garbageAfter, 0), 0, "", false},
        FaultCase{"trickle", camsim::Faults{-1, -1, -1, -1, 97, 1}, 0, "", true}),
    [](const ::testing::TestParamInfo<FaultCase>& param) { return param.param.name; });

}  // namespace
}  // namespace kesto::test
