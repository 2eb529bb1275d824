// Resource faults while a stream runs: a segment written to a full disk, a recording that
// changes between StartServerStream and its playback. Each must be reported the way the
// library reports it, and leave the stream (or the next one) working. (A decoder that fails to
// start: tests/integration/exports_test.cpp.)

#include <cstdio>
#include <thread>

#include "message_log.h"
#include "streamgen.h"

namespace kesto::test {
namespace {

using std::chrono::milliseconds;

using ResourceFaultsTest = ClientTest;

// One file of the pair on a device that is always full: FULL_DISK_DIR holds links to
// /dev/full made by the build (a Windows program under Wine cannot make one). A refused write
// is not looked for: the segment runs on to its end and is closed as usual. What matters is
// that nothing is reported as something it is not, and that the stream and later segments
// carry on.
TEST_F(ResourceFaultsTest, SegmentOnAFullDiskLeavesTheStreamRunning) {
    LoopbackServer server;
    server.ServeLoop(GeneratePackets(12, 128, 10), 5);
    ASSERT_EQ(StartServerStream("cam", server.Uri().c_str()), KESTO_S_OK);
    ASSERT_TRUE(Receiving("cam")) << Describe();
    const std::string full = FULL_DISK_DIR;
    // The raw file, then the sidecar, is the link; the other file of the pair is made.
    for (const std::string& raw : {full + "full_raw.bin", full + "full_sidecar.bin"}) {
        SCOPED_TRACE(raw);
        ClearLog();
        SaveVideoSegmentRawToDisk(raw.c_str(), 300);
        std::this_thread::sleep_for(milliseconds(600));
        std::remove((raw == full + "full_raw.bin" ? Sidecar(raw) : raw).c_str());
        EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR) + CountCode(KESTO_MESSAGE_EXCEPTION), 0u)
            << Describe();
    }
    EXPECT_GT(GetStreamStat("cam", "bps"), 0);

    const std::string after = ::testing::TempDir() + "after_full.bin";
    RemovePair(after);
    SaveVideoSegmentRawToDisk(after.c_str(), 300);
    EXPECT_TRUE(PollUntil([&] {
        std::vector<Packet> recorded;
        return CheckRecordingPair(after, &recorded).empty() && !recorded.empty();
    }));
    std::this_thread::sleep_for(milliseconds(500));  // the segment has ended
    EXPECT_EQ(CheckRecordingPair(after), "");
    RemovePair(after);
}

// The recording changes between StartServerStream (which checks that it exists) and the
// worker reading it two seconds later.
TEST_F(ResourceFaultsTest, RecordingChangedBeforePlaybackStarts) {
    const std::string raw = ::testing::TempDir() + "vanishing.bin";
    const std::vector<Packet> packets = GeneratePackets(4);
    enum class Change { RawDeleted, RawEmptied };
    for (Change change : {Change::RawDeleted, Change::RawEmptied}) {
        SCOPED_TRACE(static_cast<int>(change));
        ClearLog();
        streamgen::WriteRecording(raw, packets);
        ASSERT_EQ(StartServerStream("rec", ("file://" + raw).c_str()), KESTO_S_OK);
        if (change == Change::RawDeleted) std::remove(raw.c_str());
        if (change == Change::RawEmptied) std::fclose(std::fopen(raw.c_str(), "wb"));

        // Emptied: played as an empty recording, the decoder starts and nothing fails.
        const bool reported = change == Change::RawDeleted;
        EXPECT_TRUE(
            reported
                ? WaitForMessage(KESTO_MESSAGE_ERROR, "File video stream: unable to read full file")
                : WaitForMessage(KESTO_MESSAGE_INFO, "DecoderLib Initialized: \ntest decoder"))
            << Describe();
        if (!reported) std::this_thread::sleep_for(milliseconds(200));
        EXPECT_EQ(StopServerStream("rec"), KESTO_S_OK);
        EXPECT_EQ(CountCode(KESTO_MESSAGE_ERROR), reported ? 1u : 0u) << Describe();
        EXPECT_EQ(CountCode(KESTO_MESSAGE_EXCEPTION), 0u) << Describe();
        RemovePair(raw);
    }
}

}  // namespace
}  // namespace kesto::test
