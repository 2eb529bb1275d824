// Per-stream statistics: counters ("frames_received", "stream_width", "stream_height") and
// rates ("fps", "bps") that the host polls. The registry outlives stream runs: a stream
// started again under the same name keeps counting. Only DestroyClient clears it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace kesto {

// A rate over about the last second, from at most the last 30 samples, including the
// silence since the newest sample. Times are steady-clock nanoseconds, passed in so that the
// arithmetic is testable.
class RateStat {
  public:
    static constexpr int kSlots = 30;

    void AddSample(double value, int64_t nowNs);
    double Reading(int64_t nowNs) const;

  private:
    int32_t nextSlot = 0;
    uint32_t count = 0;
    double intervals[kSlots] = {};
    double values[kSlots] = {};
    int64_t lastTimeNs = 0;
    bool hasLastTime = false;
};

class StreamStats {
  public:
    void SetCounter(const std::string& name, double value);
    // Adds one to a counter, which becomes 1 when absent.
    void IncrementCounter(const std::string& name);
    void AddRateSample(const std::string& name, double value, int64_t nowNs);
    // A counter's value, else a rate's reading at nowNs, else 0.0.
    double Read(const std::string& name, int64_t nowNs) const;

  private:
    // -- protected by lock: both tables. Each operation takes it once (host's reader, worker's
    // writers).
    mutable std::mutex lock;
    std::map<std::string, double, std::less<>> counters;
    std::map<std::string, RateStat, std::less<>> rates;
};

// The process-wide table from stream name to its statistics. Records are shared so that a
// worker holding one is never left with a dangling reference.
class StreamStatsRegistry {
  public:
    // The record of a stream, created (empty) when absent.
    static std::shared_ptr<StreamStats> Get(const std::string& streamName);
    // Discards every record; the next Get creates a fresh table.
    static void Destroy();
};

namespace stat_names {
inline const std::string kFps = "fps";
inline const std::string kBps = "bps";
inline const std::string kFramesReceived = "frames_received";
inline const std::string kStreamWidth = "stream_width";
inline const std::string kStreamHeight = "stream_height";
}  // namespace stat_names

}  // namespace kesto
