// What a host may get wrong: calling the stream exports from inside a callback, passing null
// strings (each reported with its own text and a time stamp) or a URI without "://" while a
// stream runs, and calling exports after DestroyClient and DestroyD3D. Each is refused or
// harmless as the public header says, and the stream is not disturbed by it.

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>

#include "message_log.h"
#include "test_decoder_control.h"

namespace kesto::test {
namespace {

using std::chrono::milliseconds;

int64_t NowMs() {
    return std::chrono::duration_cast<milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

using HostMisuseTest = ClientTest;

struct ReentrantCall {
    int32_t (*call)();  // the export; its result, or 0 for void exports
    int32_t result;
    int32_t code;
    const char* prefix;  // null: the call reports nothing
};

const ReentrantCall kReentrantCalls[] = {
    {[] { return StopServerStream("cam"); }, KESTO_E_FAIL, KESTO_MESSAGE_ERROR,
     "Error stopping stream: Resource deadlock"},
    {[] { return (DestroyClient(), 0); }, 0, 0, nullptr},  // silent
    {[] { return StartServerStream("cam", "tcp://127.0.0.1:1"); }, KESTO_E_FAIL,
     KESTO_MESSAGE_EXCEPTION, "Error starting stream: Resource deadlock"},
};
std::atomic<const ReentrantCall*> pendingCall{nullptr};
std::atomic<int32_t> reentrantResult{1};

void KESTO_CALL CallingMessageCallback(int32_t code, const char* text, int64_t timeMs) {
    RecordMessage(code, text, timeMs);
    if (code == KESTO_MESSAGE_INFO && text != nullptr &&
        std::strcmp(text, "After decoder instantiation") == 0) {
        if (const ReentrantCall* c = pendingCall.exchange(nullptr)) reentrantResult = c->call();
    }
}

// Called on the worker thread, from inside a callback, each as the first such call of a stream.
TEST_F(HostMisuseTest, StreamCallsFromACallbackAreRefusedWithoutHanging) {
    for (const ReentrantCall& c : kReentrantCalls) {
        SCOPED_TRACE(c.prefix ? c.prefix : "DestroyClient");
        ClearLog();
        reentrantResult = 1;
        pendingCall = &c;
        LoopbackServer server;
        server.ServeLoop(GeneratePackets(8), 5);
        SetCallbackFunc(&CallingMessageCallback);
        ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
        PollUntil([] { return reentrantResult != 1; });
        EXPECT_EQ(reentrantResult.load(), c.result);
        const auto reported = [&](const std::vector<LoggedMessage>& all) {
            return std::any_of(all.begin(), all.end(), [&](const LoggedMessage& m) {
                return c.prefix ? m.code == c.code && m.text.rfind(c.prefix, 0) == 0
                                : m.code == KESTO_MESSAGE_ERROR;
            });
        };
        // A refusal is reported from inside the call, before its result is set.
        EXPECT_EQ(reported(Messages()), c.prefix != nullptr) << Describe();
        // The refused call has still raised the stop flag (it is raised before the join is
        // tried, and never cleared), so the worker ends after its chunk; the host's own stop
        // then joins it at once.
        InstallRecordingCallbacks();
        EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    }
}

TEST_F(HostMisuseTest, NullStringsAndCallsAfterTheEndAreHarmless) {
    TestDecoderControl decoder(TEST_DECODER_PATH);
    LoopbackServer server;
    server.ServeLoop(GeneratePackets(8), 5);
    ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
    ASSERT_TRUE(Receiving("cam"));
    ClearLog();

    EXPECT_EQ(GetStreamStat("cam", nullptr), 0.0);
    EXPECT_EQ(GetStreamStat(nullptr, "bps"), 0.0);
    SaveVideoSegmentRawToDisk(nullptr, 1000);
    SaveVideoSegmentRawToDisk(nullptr, -1);
    SaveVideoFrameRawToDisk(nullptr);
    EXPECT_EQ(StopServerStream(nullptr), KESTO_E_INVALIDARG);
    const int64_t before = NowMs();
    EXPECT_EQ(StartServerStream(nullptr, nullptr), KESTO_E_FAIL);  // reported, stream kept
    EXPECT_EQ(StartServerStream("cam", nullptr), KESTO_E_FAIL);
    EXPECT_EQ(StartServerStream(nullptr, "tcp://127.0.0.1"), KESTO_E_FAIL);
    EXPECT_EQ(StartServerStream("cam", "127.0.0.1:1"), KESTO_E_INVALIDARG);  // silently
    const int64_t after = NowMs();
    const long long fed = decoder.Counts().bytesFed;
    EXPECT_TRUE(PollUntil([&] { return decoder.Counts().bytesFed > fed; })) << "stream ended";
    const auto messages = Messages();
    ASSERT_EQ(messages.size(), 3u) << Describe();
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(messages[i].text, std::string("Error starting stream: ") +
                                        (i < 2 ? "uri" : "streamName") + " cannot be null");
        EXPECT_EQ(messages[i].code, KESTO_MESSAGE_EXCEPTION);
        EXPECT_TRUE(messages[i].timeMs >= before && messages[i].timeMs <= after);
    }

    // After the end: stream exports find no stream, statistics are gone, display exports
    // start afresh, and nothing is reported.
    DestroyClient();
    DestroyD3D();
    ClearLog();
    const std::string segment = ::testing::TempDir() + "after_destroy.bin";
    RemovePair(segment);
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    SetCurrentAzimuth(1.0);
    SaveVideoSegmentRawToDisk(segment.c_str(), 1000);
    SetRotationOffset(0.5);
    SetCurrentZoomFactor(2.0);
    SaveVideoFrameRawToDisk((::testing::TempDir() + "after_destroy.bmp").c_str());
    EXPECT_EQ(Render(), KESTO_S_OK);  // no surface yet: nothing drawn
    EXPECT_EQ(SetSize(64, 64), KESTO_S_OK);
    EXPECT_EQ(SetAlpha(1), KESTO_S_OK);
    EXPECT_EQ(SetNumDesiredSamples(0), KESTO_S_OK);
    EXPECT_EQ(SetAdapter(KestoPoint{0, 0}), KESTO_S_OK);
    DestroyD3D();
    DestroyClient();
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_FALSE(std::ifstream(segment).is_open()) << "a segment was begun without a stream";
    EXPECT_TRUE(Messages().empty()) << Describe();
}

}  // namespace
}  // namespace kesto::test
