#include "decoder/stream_stats.h"

#include "platform/library_unload.h"

namespace kesto {

void RateStat::AddSample(double value, int64_t nowNs) {
    // The first sample only starts the clock: an interval needs two samples.
    if (hasLastTime) {
        intervals[nextSlot] = static_cast<double>(nowNs - lastTimeNs) / 1e9;
        values[nextSlot] = value;
        nextSlot = (nextSlot + 1) % kSlots;
        ++count;
    }
    lastTimeNs = nowNs;
    hasLastTime = true;
}

double RateStat::Reading(int64_t nowNs) const {
    const uint32_t n = count < static_cast<uint32_t>(kSlots) ? count : kSlots;
    if (n == 0) return 0.0;
    double elapsed = static_cast<double>(nowNs - lastTimeNs) / 1e9;
    double sum = 0.0;
    bool taken = false;
    for (uint32_t j = 0; j < n; ++j) {
        if (elapsed >= 1.0) break;
        const int slot = ((nextSlot - 1 - static_cast<int>(j)) % kSlots + kSlots) % kSlots;
        sum += values[slot];
        elapsed += intervals[slot];
        taken = true;
    }
    return taken ? sum / elapsed : 0.0;
}

void StreamStats::SetCounter(const std::string& name, double value) {
    std::lock_guard<std::mutex> guard(lock);
    counters[name] = value;
}

void StreamStats::IncrementCounter(const std::string& name) {
    std::lock_guard<std::mutex> guard(lock);
    auto found = counters.find(name);
    if (found == counters.end()) {
        counters.emplace(name, 1.0);
    } else {
        found->second += 1.0;
    }
}

void StreamStats::AddRateSample(const std::string& name, double value, int64_t nowNs) {
    std::lock_guard<std::mutex> guard(lock);
    rates[name].AddSample(value, nowNs);
}

double StreamStats::Read(const std::string& name, int64_t nowNs) const {
    std::lock_guard<std::mutex> guard(lock);
    if (auto counter = counters.find(name); counter != counters.end()) return counter->second;
    if (auto rate = rates.find(name); rate != rates.end()) return rate->second.Reading(nowNs);
    return 0.0;
}

namespace {
// -- protected by registryLock: the table itself. Host threads (GetStreamStat) and the worker
// (frame delivery) look records up at the same time.
std::mutex registryLock;
platform::LeftAtProcessExit<std::unique_ptr<std::map<std::string, std::shared_ptr<StreamStats>>>>
    registry;
}  // namespace

std::shared_ptr<StreamStats> StreamStatsRegistry::Get(const std::string& streamName) {
    std::lock_guard<std::mutex> guard(registryLock);
    if (!registry)
        registry = std::make_unique<std::map<std::string, std::shared_ptr<StreamStats>>>();
    std::shared_ptr<StreamStats>& record = (*registry)[streamName];
    if (!record) record = std::make_shared<StreamStats>();
    return record;
}

void StreamStatsRegistry::Destroy() {
    std::unique_ptr<std::map<std::string, std::shared_ptr<StreamStats>>> discarded;
    {
        std::lock_guard<std::mutex> guard(registryLock);
        discarded = std::move(registry);
    }
}

}  // namespace kesto
