// Resource faults while a stream runs: a segment written to a full disk, a recording that
// disappears between StartServerStream and its playback, a decoder whose start-up fails.
// Each must be reported the way the library reports it, and leave the stream (or the next
// one) working.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "kesto/video_client.h"
#include "loopback_server.h"
#include "message_log.h"
#include "reliability_support.h"
#include "streamgen.h"
#include "test_decoder_control.h"
#include "test_platform.h"

namespace kesto::test {
namespace {

using std::chrono::milliseconds;

std::string Sidecar(const std::string& raw) {
    return raw.substr(0, raw.size() - 4) + "_pkt_sizes.bin";
}

void RemovePair(const std::string& raw) {
    std::remove(raw.c_str());
    std::remove(Sidecar(raw).c_str());
}

class ResourceFaultsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SetDecoderLibrarySetting(TEST_DECODER_PATH);
        InstallRecordingCallbacks();
        ClearLog();
    }
    void TearDown() override { DestroyClient(); }

    // A server that sends generated packets every 5 ms until the test ends. Packets of a
    // 128-pixel picture are large enough that a failing file notices within a few of them.
    void StartStreaming() {
        static const std::vector<Packet> packets = GeneratePackets(12, 128, 4);
        ServeLoop(server, packets, milliseconds(5));
        ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
        ASSERT_TRUE(PollUntil([] { return GetStreamStat("cam", "bps") > 0; })) << Describe();
    }

    // Records a short segment to `raw` and checks that the pair is whole and not empty.
    void ExpectAWorkingSegment(const std::string& raw) {
        RemovePair(raw);
        SaveVideoSegmentRawToDisk(raw.c_str(), 300);
        std::size_t size = 0;
        for (int i = 0; i < 200 && size == 0; ++i) {
            std::this_thread::sleep_for(milliseconds(20));
            CheckRecordingPair(raw, &size);
        }
        std::this_thread::sleep_for(milliseconds(500));  // the segment has ended
        EXPECT_EQ(CheckRecordingPair(raw, &size), "");
        EXPECT_GT(size, 0u);
        RemovePair(raw);
    }

    LoopbackServer server;
};

// The raw file, or the sidecar, on a device that is always full. The disk filling up is
// reported once as a write failure, the segment ends, and the stream and later segments
// carry on.
// A write refused by the disk is not looked for: the segment runs on to its end test and is
// closed as usual. What matters is that nothing else breaks and nothing is reported as
// something it is not.
TEST_F(ResourceFaultsTest, SegmentOnAFullDiskLeavesTheStreamRunning) {
    const std::string dir = ::testing::TempDir();
    struct Case {
        std::string raw;
        std::string linkToFull;  // which file of the pair is /dev/full
    } cases[] = {{dir + "full_raw.bin", dir + "full_raw.bin"},
                 {dir + "full_sidecar.bin", dir + "full_sidecar_pkt_sizes.bin"}};
    StartStreaming();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.linkToFull);
        RemovePair(c.raw);
        ASSERT_EQ(::symlink("/dev/full", c.linkToFull.c_str()), 0);
        ClearLog();
        SaveVideoSegmentRawToDisk(c.raw.c_str(), 300);
        std::this_thread::sleep_for(milliseconds(600));
        RemovePair(c.raw);
        EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), 0u) << Describe();
        EXPECT_EQ(CountCode(KESTO_MESSAGE_EXCEPTION), 0u) << Describe();
    }
    EXPECT_GT(GetStreamStat("cam", "bps"), 0);
    ExpectAWorkingSegment(dir + "after_full.bin");
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
}

// The recording changes between StartServerStream (which checks that it exists) and the
// worker reading it two seconds later.
TEST_F(ResourceFaultsTest, RecordingChangedBeforePlaybackStarts) {
    TestDecoderControl decoder(TEST_DECODER_PATH);
    const std::string raw = ::testing::TempDir() + "vanishing.bin";
    const std::vector<Packet> packets = GeneratePackets(4);
    enum class Change { RawDeleted, SidecarDeleted, RawEmptied };
    const struct {
        Change change;
        bool reported;
    } cases[] = {
        {Change::RawDeleted, true}, {Change::SidecarDeleted, false}, {Change::RawEmptied, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.change));
        ClearLog();
        streamgen::WriteRecording(raw, packets);
        const long chunksBefore = decoder.Counts().chunkCount;
        ASSERT_EQ(StartServerStream("rec", ("file://" + raw).c_str()), KESTO_S_OK);
        if (c.change == Change::RawDeleted) std::remove(raw.c_str());
        if (c.change == Change::SidecarDeleted) std::remove(Sidecar(raw).c_str());
        if (c.change == Change::RawEmptied) std::fclose(std::fopen(raw.c_str(), "wb"));

        if (c.reported) {
            EXPECT_TRUE(
                WaitForMessage(KESTO_MESSAGE_ERROR, "File video stream: unable to read full file"))
                << Describe();
        } else {
            // Played unframed, or as an empty recording: the decoder starts and nothing fails.
            EXPECT_TRUE(
                WaitForMessage(KESTO_MESSAGE_INFO, "DecoderLib Initialized: \ntest decoder"))
                << Describe();
            std::this_thread::sleep_for(milliseconds(200));
        }
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(StopServerStream("rec"), KESTO_S_OK);
        EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(500));
        EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), c.reported ? 1u : 0u) << Describe();
        EXPECT_EQ(CountCode(KESTO_MESSAGE_EXCEPTION), 0u) << Describe();
        if (c.change == Change::SidecarDeleted) {
            EXPECT_GT(decoder.Counts().chunkCount, chunksBefore);  // the bytes were played
        }
        RemovePair(raw);
    }
}

TEST_F(ResourceFaultsTest, DecoderThatFailsToStartLeavesTheNextStreamWorking) {
    TestDecoderControl decoder(TEST_DECODER_PATH);
    decoder.FailInit("licence expired");
    const std::string failure =
        "Decoder library failed to initialize: \nlicence expired\n(Is Toolkit installed?)";
    const std::string segment = ::testing::TempDir() + "init_failure.bin";
    RemovePair(segment);
    static const std::vector<Packet> packets = GeneratePackets(4);
    ServeLoop(server, packets, milliseconds(5));
    ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
    SaveVideoSegmentRawToDisk(segment.c_str(), 5000);
    ASSERT_TRUE(WaitForMessage(KESTO_MESSAGE_EXCEPTION, failure)) << Describe();
    EXPECT_TRUE(HasMessage(KESTO_MESSAGE_INFO, failure));
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    EXPECT_EQ(CheckRecordingPair(segment), "");  // no packet was taken: nothing recorded
    EXPECT_EQ(decoder.Counts().shutdownCount, 0);

    // Nothing else: "Stream started" (host thread, in any order) and the failure twice.
    std::vector<std::string> texts;
    for (const LoggedMessage& m : Messages()) texts.push_back(m.text);
    std::sort(texts.begin(), texts.end());
    std::vector<std::string> expected{failure, failure, "Stream started"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(texts, expected) << Describe();

    // Once the decoder starts again, so does the next stream.
    decoder.FailInit(nullptr);
    ClearLog();
    LoopbackServer next;
    next.Serve([](LoopbackServer::Socket) {});
    ASSERT_EQ(StartServerStream("cam", next.Uri().c_str()), KESTO_S_OK);
    EXPECT_TRUE(WaitForMessage(KESTO_MESSAGE_STATUS, "Tcp video stream connection closed"))
        << Describe();
    EXPECT_TRUE(HasMessage(KESTO_MESSAGE_INFO, "After decoder instantiation"));
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    EXPECT_EQ(decoder.Counts().shutdownCount, 1);
}

}  // namespace
}  // namespace kesto::test
