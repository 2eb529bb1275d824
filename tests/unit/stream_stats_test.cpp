#include <gtest/gtest.h>

#include "decoder/stream_stats.h"

namespace kesto {
namespace {

constexpr int64_t kMs = 1'000'000;

// The first sample only starts the clock and silence counts; the ring holds at most thirty
// samples and the walk stops at one second.
TEST(RateStat, CoversAboutOneSecondOfAtMostThirtySamples) {
    RateStat rate;
    EXPECT_EQ(rate.Reading(0), 0.0);
    for (int64_t t : {0, 100, 200, 300}) rate.AddSample(1.0, t * kMs);
    EXPECT_NEAR(rate.Reading(350 * kMs), 3.0 / (0.05 + 0.3), 1e-9);
    EXPECT_EQ(rate.Reading(1300 * kMs), 0.0);  // past a second of silence nothing is taken

    RateStat fast;  // 60 per second: the ring holds half a second
    for (int i = 0; i <= 120; ++i) fast.AddSample(1.0, i * 1'000'000'000LL / 60);
    const int64_t newest = 120 * 1'000'000'000LL / 60;
    EXPECT_NEAR(fast.Reading(newest), 60.0, 0.01);
    EXPECT_NEAR(fast.Reading(newest + 500 * kMs), 30.0, 0.01);  // 30 / (0.5 + 0.5); 31 slots: 30.5

    RateStat bytes;  // 10 chunks a second of 1000 bytes
    for (int i = 0; i <= 50; ++i) bytes.AddSample(1000.0, i * 100 * kMs);
    EXPECT_NEAR(bytes.Reading(5000 * kMs), 10000.0, 1.0);
}

// Unknown names read zero; records per exact byte-wise name until destroyed, a holder keeping
// its record intact. (Widths and rates read by name: exports_test and live_stream_test.)
TEST(StreamStatsRegistry, KeepsRecordsPerNameUntilDestroyed) {
    auto first = StreamStatsRegistry::Get("cam");
    first->IncrementCounter("frames_received");
    first->IncrementCounter("frames_received");
    EXPECT_EQ(first->Read("nonsense", 0), 0.0);
    EXPECT_EQ(StreamStatsRegistry::Get("cam"), first);
    EXPECT_NE(StreamStatsRegistry::Get("Cam"), first);
    StreamStatsRegistry::Destroy();
    auto fresh = StreamStatsRegistry::Get("cam");
    EXPECT_NE(fresh, first);
    EXPECT_EQ(fresh->Read("frames_received", 0), 0.0);
    EXPECT_EQ(first->Read("frames_received", 0), 2.0);
}

}  // namespace
}  // namespace kesto
