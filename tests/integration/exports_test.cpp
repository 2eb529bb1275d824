// The client session exports against the scripted test decoder: URI failures, the one
// stream-manager slot, binding failures, start-up, SEI records, frame checks and statistics.
// Null arguments, message time stamps and calls from inside a callback: host_misuse_test.
#include <atomic>
#include <cmath>
#include <memory>
#include <thread>

#include "message_log.h"
#include "streamgen.h"
#include "test_decoder_control.h"
#include "test_platform.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#include <netdb.h>

// "localhost" resolves here as on a machine that lists ::1 first, which the one the tests run
// on may not do: to an address where nothing listens (127.0.0.2, so that no IPv6 is needed),
// then to 127.0.0.1. The client library's calls come to this definition before the C library's.
extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints,
                           addrinfo** result) {
    static const auto next =
        reinterpret_cast<decltype(&getaddrinfo)>(dlsym(RTLD_NEXT, "getaddrinfo"));
    if (node == nullptr || std::string(node) != "localhost")
        return next(node, service, hints, result);
    addrinfo* second = nullptr;
    const int rc = next("127.0.0.2", service, hints, result);
    if (rc == 0 && next("127.0.0.1", service, hints, &second) == 0) (*result)->ai_next = second;
    return rc;
}
#endif

namespace kesto::test {
namespace {

using std::chrono::milliseconds;

// The instrument's record as the decoder hands it out, with its word and size field set.
std::vector<uint8_t> InfoRecord(float azimuth, uint8_t word = 24, uint8_t size = 24) {
    std::vector<uint8_t> unit = streamgen::MakeAzimuthSeiRbsp(azimuth);
    unit[1] = size;
    unit[18] = word;
    return unit;
}

class ExportsTest : public ClientTest {
  protected:
    // Starts a stream against a server that accepts and then sends nothing until the test
    // ends; returns once the worker is connected and waiting for data. The client sends
    // nothing either, and says so at once: the server reads the end of its stream.
    void StartStalledStream(LoopbackServer& target, const char* name = "cam") {
        const auto halfClosed = std::make_shared<std::atomic<bool>>(false);
        target.Serve([&target, halfClosed](LoopbackServer::Socket socket) {
            *halfClosed = LoopbackServer::ReadsEndOfStream(socket, 5000);
            while (!target.Stopping()) std::this_thread::sleep_for(milliseconds(5));
        });
        ASSERT_EQ(StartServerStream(name, target.Uri().c_str()), KESTO_S_OK);
        ASSERT_TRUE(WaitForMessage(KESTO_MESSAGE_INFO, "After decoder instantiation"))
            << Describe();
        EXPECT_TRUE(PollUntil([&] { return halfClosed->load(); }, milliseconds(5000)))
            << "the server read no end of stream from the connected client";
    }

    // Streams one small chunk from a server that then closes, and waits until the worker has
    // ended (after the chunk was processed, or after a failure reported as `endCode`).
    void StreamOneChunk(int32_t endCode = KESTO_MESSAGE_STATUS,
                        const std::string& endText = "Tcp video stream connection closed") {
        server.Serve([](LoopbackServer::Socket socket) {
            const uint8_t chunk[16] = {0, 0, 0, 1, 9, 0xF0};
            LoopbackServer::SendAll(socket, chunk, sizeof chunk);
        });
        const std::string uri = "tcp://" + host + ":" + std::to_string(server.Port());
        ASSERT_EQ(StartServerStream("cam", uri.c_str()), KESTO_S_OK);
        ASSERT_TRUE(WaitForMessage(endCode, endText)) << Describe();
        server.Join();
    }

    LoopbackServer server;
    std::string host = "127.0.0.1";
};

TEST_F(ExportsTest, MalformedUrisAreRefusedSilentlyAndUnknownSchemesEndTheStream) {
    StartStalledStream(server);
    ClearLog();
    for (const char* uri : {"", "ab", "tcp:/127.0.0.1", "127.0.0.1:8010"})
        EXPECT_EQ(StartServerStream("cam", uri), KESTO_E_INVALIDARG) << uri;
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_TRUE(Messages().empty()) << Describe();  // the worker still waits: nothing reported
    EXPECT_EQ(StopServerStream("any name"), KESTO_S_OK);

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

// Failures in StartServerStream (an exception, and E_FAIL) and the worker's refused connect.
TEST_F(ExportsTest, SourceFailuresAreReported) {
    const std::string dir = ::testing::TempDir();
    const std::string resolve = "Error starting stream: Could not resolve host name in uri ";
    const std::string file = "Error starting stream: invalid filename specified in uri";
    const struct {
        std::string uri;
        int32_t result, code;
        std::string prefix;
    } cases[] = {
        {"tcp://127.0.0.1:80/live", KESTO_E_FAIL, KESTO_MESSAGE_EXCEPTION, resolve},
#if !defined(_WIN32)
        // Winsock resolves an empty host name to the local machine: there "tcp://" starts a
        // stream whose worker then fails to connect.
        {"tcp://", KESTO_E_FAIL, KESTO_MESSAGE_EXCEPTION, resolve},
#endif
        {"file:///no/such/dir/rec.bin", KESTO_E_FAIL, KESTO_MESSAGE_EXCEPTION, file},
        {"FILE://" + dir, KESTO_E_FAIL, KESTO_MESSAGE_EXCEPTION, file},
        {"file://" + dir.substr(0, dir.size() - 1), KESTO_E_FAIL, KESTO_MESSAGE_EXCEPTION, file},
        // A server gone at once: its port refuses the connection.
        {"TCP://127.0.0.1:" + std::to_string(LoopbackServer().Port()), KESTO_S_OK,
         KESTO_MESSAGE_ERROR, "Tcp video stream: Unable to connect to server!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.uri);
        ClearLog();
        EXPECT_EQ(StartServerStream("cam", c.uri.c_str()), c.result);
        EXPECT_TRUE(WaitFor([&](const LoggedMessage& m) {
            return m.code == c.code && m.text.rfind(c.prefix, 0) == 0;
        })) << Describe();
        EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
        // Nothing else, but for the worker's "Stream started".
        EXPECT_EQ(Messages().size(), c.result == KESTO_S_OK ? 2u : 1u) << Describe();
        EXPECT_EQ(HasMessage(KESTO_MESSAGE_STATUS, "Stream started"), c.result == KESTO_S_OK);
    }
}

TEST_F(ExportsTest, RestartStopsTheFirstStreamBeforeTheSecondStarts) {
    LoopbackServer first;
    std::atomic<bool> firstClosed{false};
    first.Serve([&](LoopbackServer::Socket socket) {
        // A byte now and then until the client's close makes a send fail. The server never
        // closes first: that would end the first stream on its own, with a message of its own.
        const uint8_t filler = 0;
        for (int i = 0; i < 1000 && !first.Stopping(); ++i) {
            if (!LoopbackServer::SendAll(socket, &filler, 1)) return firstClosed.store(true);
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
}

// A decoder library that is missing, lacks an export or fails to start: each is reported with
// its own text (and the system's), nothing is recorded, and the next stream binds afresh.
TEST_F(ExportsTest, DecoderFailuresAreNamedAndTheNextStreamRetries) {
    TestDecoderControl decoder(TEST_DECODER_PATH);
    const std::string initFailure =
        "Decoder library failed to initialize: \nlicence expired\n(Is Toolkit installed?)";
    const struct {
        std::string library, prefix, systemText;  // the exception's start, the system's text in it
        const char* initError;
    } cases[] = {
        {NoSuchLibraryPath(), MissingLibraryMessage(NoSuchLibraryPath()), "", nullptr},
        {INCOMPLETE_DECODER_PATH, "Unable to retrieve Decoder function address 'DecoderGetFrame': ",
         MissingSymbolText("DecoderGetFrame"), nullptr},
        {TEST_DECODER_PATH, initFailure, "", "licence expired"},
    };
    const std::string segment = ::testing::TempDir() + "decoder_failure.bin";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.prefix);
        SetDecoderLibrarySetting(c.library.c_str());
        decoder.FailInit(c.initError);
        ClearLog();
        RemovePair(segment);
        LoopbackServer failing;
        failing.ServeLoop(GeneratePackets(4), 5);
        ASSERT_EQ(StartServerStream("cam", failing.Uri().c_str()), KESTO_S_OK);
        SaveVideoSegmentRawToDisk(segment.c_str(), 5000);
        ASSERT_TRUE(WaitFor([&](const LoggedMessage& m) {
            return m.code == KESTO_MESSAGE_EXCEPTION && m.text.rfind(c.prefix, 0) == 0 &&
                   m.text.find(c.systemText) != std::string::npos;
        })) << Describe();
        EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
        EXPECT_EQ(CheckRecordingPair(segment), "");  // no packet was taken: nothing recorded
        // Besides "Stream started" (host thread, in any order), a failed start also as information.
        EXPECT_EQ(Messages().size(), c.initError ? 3u : 2u) << Describe();
        EXPECT_EQ(HasMessage(KESTO_MESSAGE_INFO, initFailure), c.initError != nullptr);
    }
    EXPECT_EQ(decoder.Counts().shutdownCount, 0);

    decoder.FailInit(nullptr);
    SetDecoderLibrarySetting(TEST_DECODER_PATH);
    ClearLog();
    StreamOneChunk();
    EXPECT_TRUE(HasMessage(KESTO_MESSAGE_INFO, "After decoder instantiation"));
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    EXPECT_EQ(decoder.Counts().shutdownCount, 1);
}

// Also: the start-up messages, and decoder log levels passed on unchanged.
TEST_F(ExportsTest, AzimuthRecordsAreReadAndMalformedOnesSkipped) {
    TestDecoderControl decoder(TEST_DECODER_PATH);
    const std::vector<uint8_t> typeOnly{5};
    const std::vector<uint8_t> hugeSize{5, 0xFF, 0xFF, 0x12, 1, 2, 3};
    std::vector<uint8_t> shortIdentifier = InfoRecord(9.0f);
    shortIdentifier[17] ^= 0xFF;
    std::vector<uint8_t> otherIdentifier = InfoRecord(9.5f);
    otherIdentifier[2] ^= 1;
    std::vector<uint8_t> longer = InfoRecord(3.0f, 24, 40);  // bytes after the azimuth ignored
    longer.insert(longer.end() - 1, 16, 0xEE);
    std::vector<uint8_t> laterMessage = InfoRecord(0.5f);
    const uint8_t otherMessage[] = {1, 1, 0};
    laterMessage.insert(laterMessage.begin(), otherMessage, otherMessage + 3);

    for (const auto& unit :
         {typeOnly, InfoRecord(0.25f), hugeSize, shortIdentifier, InfoRecord(7.0f, 25),
          InfoRecord(8.0f, 24, 20), laterMessage, InfoRecord(std::nanf("")), InfoRecord(-1.5f),
          otherIdentifier, longer}) {
        decoder.QueueSei(unit.data(), static_cast<int>(unit.size()));
    }
    StreamOneChunk();
    decoder.Log(7, "decoder says hello");
    EXPECT_TRUE(HasMessage(7, "decoder says hello"));
    EXPECT_EQ(decoder.Counts().bytesFed, 16);

    const auto azimuths = Azimuths();
    ASSERT_EQ(azimuths.size(), 4u);
    EXPECT_EQ(azimuths[0], 0.25);
    EXPECT_TRUE(std::isnan(azimuths[1]));
    EXPECT_EQ(azimuths[2], -1.5);
    EXPECT_EQ(azimuths[3], 3.0);

    const std::string strange = "Strange: readSeiSize encountered sz < payload_size";
    const std::string received = "DecoderSink::checkForKestoInfoNAL received azimuth of ";
    const std::vector<std::string> expected{"DecoderLib Initialized: \ntest decoder",
                                            "After decoder instantiation",
                                            strange,
                                            received + "0.25",
                                            strange,
                                            received + "nan",
                                            received + "-1.5",
                                            received + "3"};
    std::vector<std::string> infoTexts;
    for (const auto& m : Messages())
        if (m.code == KESTO_MESSAGE_INFO) infoTexts.push_back(m.text);
    EXPECT_EQ(infoTexts, expected) << Describe();
}

// Also: a host name's addresses are tried in turn (see getaddrinfo above).
TEST_F(ExportsTest, FramesAreCountedAndANonSquareFrameEndsTheWorker) {
    TestDecoderControl decoder(TEST_DECODER_PATH);
    host = "localhost";
    decoder.QueueFrame(64 * 64 * 4, 0x11);
    decoder.QueueFrame(64 * 64 * 4 + 3, 0x22);  // a trailing partial pixel is tolerated
    decoder.QueueFrame(1200000, 0x33);          // 300,000 pixels: not square
    decoder.QueueFrame(64 * 64 * 4, 0x44);      // never fetched
    StreamOneChunk(KESTO_MESSAGE_EXCEPTION, "Image dimensions are not square");

    EXPECT_EQ(GetStreamStat("cam", "frames_received"), 2.0);
    EXPECT_EQ(GetStreamStat("cam", "stream_width"), 64.0);
    EXPECT_EQ(GetStreamStat("cam", "stream_height"), 64.0);
    EXPECT_FALSE(HasMessage(KESTO_MESSAGE_STATUS, "Tcp video stream connection closed"));
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    EXPECT_EQ(decoder.Counts().shutdownCount, 1);  // the sink is destroyed on the failure path

    // Statistics outlive the stream and go with DestroyClient.
    DestroyClient();
    EXPECT_EQ(GetStreamStat("cam", "frames_received"), 0.0);
}

}  // namespace
}  // namespace kesto::test
