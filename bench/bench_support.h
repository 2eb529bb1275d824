// What the benchmark programs share: clocks and statistics, the one output format that
// bench/run collects into its table, a cached 1024 x 1024 test stream and a loopback server.
//
// Every program prints its results as lines
//   ROW<TAB>figure<TAB>baseline<TAB>ratio<TAB>goal<TAB>verdict
// (verdict: pass, miss or report); anything else it prints is commentary for the log.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kesto::bench {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
inline double NowSeconds() {
    return Seconds(Clock::now().time_since_epoch());
}

// Quantile q (0..1) of the values, by the nearest rank; 0 for none.
double Quantile(std::vector<double> values, double q);
inline double Median(const std::vector<double>& values) {
    return Quantile(values, 0.5);
}
double Mean(const std::vector<double>& values);

// One line of the table. `ratio` < 0 prints as "-".
void PrintRow(const std::string& figure, const std::string& baseline, double ratio,
              const std::string& goal, const std::string& verdict);
// "pass" or "miss".
inline const char* Verdict(bool met) {
    return met ? "pass" : "miss";
}
// Durations for the table: "3.21 ms", "812 us", "41.0 ns".
std::string FormatTime(double seconds);

// Times `a` and `b` in alternating blocks of about `blockSeconds` each and returns the median
// of time(a) / time(b) over the block pairs, with the median time per call of each. A change
// in machine load between two blocks hits both sides alike, which separate runs on a shared
// machine cannot promise.
struct Paired {
    double ratio = 0;
    double a = 0;  // seconds per call
    double b = 0;
};
Paired PairedRatio(const std::function<void()>& a, const std::function<void()>& b,
                   double budgetSeconds, double blockSeconds = 0.004);

// Median seconds per call of `f` over blocks of about `blockSeconds`, for `budgetSeconds`.
double MedianTime(const std::function<void()>& f, double budgetSeconds,
                  double blockSeconds = 0.004);

// The benchmark stream: `frames` access units of `side` x `side` test video from
// tools/streamgen (IDR every 30 frames, one slice unless `slices`), encoded once and cached
// in `cacheDir` as a recording pair, since libx264 takes a while at this size.
std::vector<Bytes> BenchStream(const std::string& cacheDir, int side, int frames, int slices = 1);

// A one-connection server on 127.0.0.1 (ephemeral port): accepts one client and runs the
// session with its socket on its own thread. The destructor stops and joins it.
class LoopbackServer {
  public:
    LoopbackServer();
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string Uri() const;
    void Serve(std::function<void(int socket)> session);
    void Stop();
    bool Stopping() const { return stopping_.load(); }
    // Blocking write of all bytes; false when the client is gone or the server stops.
    bool SendAll(int socket, const uint8_t* data, std::size_t size) const;
    // Waits until the server stops (for stalled sessions).
    void WaitUntilStopped() const;

  private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Writes the access units as one byte stream (one write each), forever or until stopped,
// with the IDR structure intact when the list wraps (the list starts with an IDR).
void SendUnpaced(const LoopbackServer& server, int socket, const std::vector<Bytes>& units);

}  // namespace kesto::bench
