#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "record/recording_format.h"
#include "record/segment_recorder.h"
#include "recordings.h"

namespace kesto {
namespace {

int64_t nowMs = 0;
int64_t FakeClock() {
    return nowMs * 1000000;
}

std::vector<uint8_t> Packet(std::vector<uint8_t> head, std::size_t size, uint8_t fill) {
    head.resize(size, fill);
    return head;
}
const std::vector<uint8_t> kSps = Packet({0, 0, 0, 1, 0x67}, 20, 1);
const std::vector<uint8_t> kSlice = Packet({0, 0, 0, 1, 0x41}, 30, 2);

class SegmentRecorderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        nowMs = 0;
        raw = ::testing::TempDir() + "segment_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".bin";
        test::RemovePair(raw);
    }
    void Feed(std::vector<std::vector<uint8_t>> packets, SegmentRecorder* to = nullptr) {
        for (const auto& packet : packets)
            (to ? to : &recorder)->RecordPacket(packet.data(), static_cast<int>(packet.size()));
    }
    // The packets of the pair on disk, cut by its sidecar; the pair must be valid.
    std::vector<std::vector<uint8_t>> Recorded() {
        std::vector<test::Packet> packets;
        EXPECT_EQ(test::CheckRecordingPair(raw, &packets), "");
        return packets;
    }

    std::string raw;
    SegmentRecorder recorder{1000, &FakeClock};
};

TEST_F(SegmentRecorderTest, StartsAtTheFirstPacketThatOpensWithASequenceParameterSet) {
    recorder.RequestSegment(raw, 5000);
    Feed({kSlice,
          {0, 0, 1, 0x67, 1, 1},                                // three-byte start code
          Packet({0, 0, 0, 1, 0x41, 0, 0, 0, 1, 0x67}, 12, 0),  // SPS further in
          {0, 0, 0, 1}});                                       // too short
    EXPECT_TRUE(recorder.Recording());                          // files open, still waiting
    Feed({kSps, kSlice});
    recorder.RequestSegment("ignored.bin", 0);  // ends the segment after the next packet
    Feed({kSlice, kSlice});
    EXPECT_FALSE(recorder.Recording());
    EXPECT_EQ(Recorded(), (std::vector<std::vector<uint8_t>>{kSps, kSlice, kSlice}));
    EXPECT_FALSE(std::ifstream("ignored.bin").good());
}

TEST_F(SegmentRecorderTest, EndsWithTheFirstPacketWrittenAfterTheDuration) {
    recorder.RequestSegment(raw, 5000);
    Feed({kSps});
    nowMs = 4999;
    Feed({kSlice});
    recorder.RequestSegment("other.bin", 6000);  // during a segment: only the duration changes
    nowMs = 5500;
    Feed({kSlice});
    nowMs = 6000;
    Feed({kSlice, kSlice});  // the packet that meets the end test belongs to the segment
    EXPECT_EQ(Recorded().size(), 4u);
    EXPECT_FALSE(std::ifstream("other.bin").good());
}

// Zero records nothing, a negative duration one packet; zero while waiting for a sequence
// parameter set: the first packet written ends it.
TEST_F(SegmentRecorderTest, NegativeDurationRecordsOnePacketAndZeroDurationNone) {
    recorder.RequestSegment(raw, 0);
    Feed({kSps});
    EXPECT_FALSE(recorder.Recording());
    EXPECT_FALSE(std::ifstream(raw).good());
    recorder.RequestSegment(raw, -1);
    Feed({kSps, kSps});
    EXPECT_EQ(Recorded(), (std::vector<std::vector<uint8_t>>{kSps}));
    recorder.RequestSegment(raw, 5000);
    Feed({kSlice});
    recorder.RequestSegment(raw, 0);
    Feed({kSps, kSps});
    EXPECT_EQ(Recorded().size(), 1u);
}

// Also: existing files are replaced, an unopenable request is dropped silently and for good,
// and the recorder destroyed mid-segment leaves a valid pair.
TEST_F(SegmentRecorderTest, EndsWithThePacketThatPassesTheByteLimit) {
    { std::ofstream(raw) << "old contents that are longer than the new segment ....."; }
    {
        SegmentRecorder small(40, &FakeClock);
        small.RequestSegment(raw, 100000);
        Feed({kSps, kSps, kSps, kSps}, &small);
        EXPECT_EQ(Recorded().size(), 3u);  // 20 + 20 bytes reach 40, the third passes it
        small.RequestSegment(::testing::TempDir() + "no/such/folder/clip.bin", 5000);
        Feed({kSps}, &small);
        EXPECT_FALSE(small.Recording());
        Feed({kSps}, &small);  // the request is gone: nothing is retried
        EXPECT_FALSE(small.Recording());
        small.RequestSegment(raw, 60000);
        Feed({kSlice, kSps}, &small);
    }
    EXPECT_EQ(Recorded(), (std::vector<std::vector<uint8_t>>{kSps}));
}

// The raw name less its last four characters, whatever they are; four or fewer are all kept.
TEST(SidecarFileName, DropsTheLastFourCharactersOfLongerNames) {
    const char* cases[][2] = {{"abcde", "a_pkt_sizes.bin"}, {"abcd", "abcd_pkt_sizes.bin"}};
    for (const auto& c : cases) EXPECT_EQ(SidecarFileName(c[0]), c[1]) << c[0];
}

}  // namespace
}  // namespace kesto
