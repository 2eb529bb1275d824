// The client session exports against the scripted test decoder: argument and URI failures,
// the one stream-manager slot, message time stamps. Calls from inside a callback: host_misuse_test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "kesto/video_client.h"
#include "loopback_server.h"
#include "message_log.h"
#include "test_platform.h"

namespace kesto::test {
namespace {

using std::chrono::milliseconds;

int64_t NowMs() {
    return std::chrono::duration_cast<milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

class ExportsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDecoderLibrarySetting(TEST_DECODER_PATH);
        InstallRecordingCallbacks();
        ClearLog();
    }
    void TearDown() override { DestroyClient(); }

    // Starts a stream against a server that accepts and then sends nothing until the test
    // ends; returns once the worker is connected and waiting for data.
    void StartStalledStream(LoopbackServer& server, const char* name = "cam") {
        server.Serve([&server](LoopbackServer::Socket) {
            while (!server.Stopping()) std::this_thread::sleep_for(milliseconds(5));
        });
        ASSERT_EQ(StartServerStream(name, server.Uri().c_str()), KESTO_S_OK);
        ASSERT_TRUE(WaitForMessage(KESTO_MESSAGE_INFO, "After decoder instantiation"))
            << Describe();
    }
};

TEST_F(ExportsTest, NullArgumentsFailWithTheirOwnTexts) {
    const int64_t before = NowMs();
    EXPECT_EQ(StartServerStream(nullptr, nullptr), KESTO_E_FAIL);
    EXPECT_EQ(StartServerStream("cam", nullptr), KESTO_E_FAIL);
    EXPECT_EQ(StartServerStream(nullptr, "tcp://127.0.0.1"), KESTO_E_FAIL);
    const int64_t after = NowMs();

    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].text, "Error starting stream: uri cannot be null");
    EXPECT_EQ(messages[1].text, "Error starting stream: uri cannot be null");
    EXPECT_EQ(messages[2].text, "Error starting stream: streamName cannot be null");
    for (const auto& m : messages) {
        EXPECT_EQ(m.code, KESTO_MESSAGE_EXCEPTION);
        EXPECT_GE(m.timeMs, before);
        EXPECT_LE(m.timeMs, after);
    }
    EXPECT_EQ(StopServerStream(nullptr), KESTO_E_INVALIDARG);
}

TEST_F(ExportsTest, MalformedUrisAreRefusedSilentlyAndUnknownSchemesEndTheStream) {
    LoopbackServer server;
    StartStalledStream(server);
    ClearLog();
    for (const char* uri : {"", "ab", "tcp:/127.0.0.1", "127.0.0.1:8010"}) {
        EXPECT_EQ(StartServerStream("cam", uri), KESTO_E_INVALIDARG) << uri;
    }
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_TRUE(Messages().empty()) << Describe();  // the worker still waits: nothing reported
    EXPECT_EQ(StopServerStream("any name"), KESTO_S_OK);
    EXPECT_TRUE(Messages().empty()) << Describe();  // a stop by the host is not a server event

    LoopbackServer second;
    StartStalledStream(second);
    for (const char* uri : {"udp://x", "://x"}) {
        ClearLog();
        EXPECT_EQ(StartServerStream("cam", uri), KESTO_E_FAIL);
        EXPECT_TRUE(HasMessage(KESTO_MESSAGE_EXCEPTION,
                               "Error starting stream: Unknown stream prefix type"))
            << Describe();
    }
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
}

TEST_F(ExportsTest, SourceConstructionFailuresAreReported) {
    const std::string dir = ::testing::TempDir();
    struct Case {
        std::string uri;
        std::string prefix;
    } cases[] = {
        {"tcp://127.0.0.1:80/live", "Error starting stream: Could not resolve host name in uri "},
#if !defined(_WIN32)
        // Winsock resolves an empty host name to the local machine: there "tcp://" starts a
        // stream whose worker then fails to connect.
        {"tcp://", "Error starting stream: Could not resolve host name in uri "},
#endif
        {"file:///no/such/dir/rec.bin", "Error starting stream: invalid filename specified in uri"},
        {"FILE://" + dir, "Error starting stream: invalid filename specified in uri"},
    };
    for (const Case& c : cases) {
        ClearLog();
        EXPECT_EQ(StartServerStream("cam", c.uri.c_str()), KESTO_E_FAIL) << c.uri;
        const auto messages = Messages();
        ASSERT_EQ(messages.size(), 1u) << c.uri << Describe();
        EXPECT_EQ(messages[0].code, KESTO_MESSAGE_EXCEPTION);
        EXPECT_EQ(messages[0].text.rfind(c.prefix, 0), 0u) << messages[0].text;
    }
}

TEST_F(ExportsTest, RefusedConnectionIsReportedByTheWorkerAndStopsAtOnce) {
    const std::string uri = "TCP://127.0.0.1:" + std::to_string(UnusedLoopbackPort());
    EXPECT_EQ(StartServerStream("cam", uri.c_str()), KESTO_S_OK);
    EXPECT_TRUE(
        WaitForMessage(KESTO_MESSAGE_ERROR, "Tcp video stream: Unable to connect to server!"))
        << Describe();
    EXPECT_TRUE(HasMessage(KESTO_MESSAGE_STATUS, "Stream started"));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000));
    EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), 1u) << Describe();
}

TEST_F(ExportsTest, RestartStopsTheFirstStreamBeforeTheSecondStarts) {
    LoopbackServer first;
    std::atomic<bool> firstClosed{false};
    first.Serve([&](LoopbackServer::Socket socket) {
        // The client half-closes at once (end of file here), so its full close shows only when
        // a byte can no longer be sent. The server itself never closes first: a close by the
        // server would end the first stream on its own, with a message of its own.
        char byte;
        while (LoopbackServer::ReceiveSome(socket, &byte, 1) > 0) {
        }
        const uint8_t filler = 0;
        for (int i = 0; i < 1000 && !first.Stopping(); ++i) {
            if (!LoopbackServer::SendAll(socket, &filler, 1)) {
                firstClosed.store(true);
                return;
            }
            std::this_thread::sleep_for(milliseconds(10));
        }
    });
    ASSERT_EQ(StartServerStream("cam", first.Uri().c_str()), KESTO_S_OK);
    ASSERT_TRUE(WaitForMessage(KESTO_MESSAGE_INFO, "After decoder instantiation")) << Describe();

    ClearLog();
    LoopbackServer second;
    StartStalledStream(second, "cam2");
    // The first worker was joined and its connection closed inside StartServerStream.
    first.Join();
    EXPECT_TRUE(firstClosed.load());
    EXPECT_EQ(CountCode(KESTO_MESSAGE_STATUS), 1u) << Describe();  // one "Stream started"
    EXPECT_EQ(StopServerStream("x"), KESTO_S_OK);
    EXPECT_EQ(StopServerStream("x"), KESTO_S_OK);  // no stream: still fine
    DestroyClient();
    DestroyClient();
}

TEST_F(ExportsTest, StalledServerDoesNotHoldStop) {
    LoopbackServer server;
    StartStalledStream(server);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000));
}

}  // namespace
}  // namespace kesto::test
