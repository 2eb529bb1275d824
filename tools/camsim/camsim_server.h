// The instrument simulator's server: a TCP listener that gives every connection its own stream
// on its own thread. A connection only ever sends; the fault switches let tests and demos see
// how the client behaves when the instrument misbehaves.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kesto::camsim {

class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Byte counts are "off" at -1. The counts are per connection and include every byte sent.
struct Faults {
    int64_t closeAfter = -1;    // close the connection after this many bytes
    int64_t stallAfter = -1;    // stop sending after this many bytes, keep the connection open
    int64_t resetAfter = -1;    // after this many bytes: SO_LINGER 0, then close (peer sees RST)
    int64_t garbageAfter = -1;  // from this byte on, send random bytes instead of the stream
    int trickleBytes = 0;       // > 0: send in writes of at most this many bytes ...
    int trickleDelayMs = 2;     // ... with this pause between them
};

struct ServerOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 8010;       // 0: an ephemeral port, see Server::Port
    int side = 512;             // live stream: picture width and height
    int fps = 30;               // live stream and replay: frames per second
    int gop = 30;               // live stream: IDR interval
    double azimuthStart = 0.0;  // radians
    double azimuthRate = 0.5;   // radians per second, the sweep of the live azimuth
    std::string replayPath;     // non-empty: replay this recording pair instead of live video
    Faults faults;
    int maxConnections = 0;  // > 0: accept this many, then end once they are all done
};

// Azimuth of live frame `index`: the sweep from `start` at `rate` rad/s, wrapped into
// [0, 2*pi) as the instrument reports it.
double SweepAzimuth(double start, double rate, int fps, int64_t index);

// Reads a recording pair (raw file plus its sidecar). Throws Error when the files are missing,
// empty, or the sidecar's lengths do not add up to the raw file's size.
std::vector<std::vector<uint8_t>> LoadRecording(const std::string& rawPath);

class Server {
  public:
    // Binds and listens at once (throws Error on failure), so Port() is known on return.
    explicit Server(const ServerOptions& options);
    ~Server();  // Stop() + wait
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    uint16_t Port() const { return port_; }

    // Accepts connections until Stop(), the connection limit is reached and served, or the
    // deadline (steady clock; max() for none) passes.
    void Run(std::chrono::steady_clock::time_point deadline =
                 std::chrono::steady_clock::time_point::max());
    // Runs Run() on a background thread (for tests).
    void Start();
    // Ends every connection and the accept loop; any thread, also from a signal watcher.
    void Stop();
    // Waits for the background thread of Start().
    void Join();

    // Set before Run(): `log` receives one line per connection event; `stopCheck` is asked
    // about ten times a second whether to stop (a signal flag).
    void SetLog(std::function<void(const std::string&)> log) { log_ = std::move(log); }
    void SetStopCheck(std::function<bool()> stopCheck) { stopCheck_ = std::move(stopCheck); }
    int ConnectionsAccepted() const { return accepted_.load(); }

  private:
    struct Connection {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void Serve(int socket, int id);
    bool WaitFor(std::chrono::steady_clock::time_point until);  // false once stopping
    enum class Outcome { Sent, PeerGone, Stopped, Closed, Reset, Stalled };
    // Sends with the fault switches applied; anything but Sent ends the connection.
    Outcome Send(int socket, const uint8_t* data, std::size_t size, int64_t& sent);
    bool WriteSome(int socket, const uint8_t* data, std::size_t size);
    void StallUntilStopped(int socket);
    void Log(const std::string& line);
    void ReapConnections(bool all);

    ServerOptions options_;
    std::vector<std::vector<uint8_t>> recording_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::mutex mutex_;  // guards stopCv_ waits and connections_
    std::condition_variable stopCv_;
    std::list<Connection> connections_;
    std::thread runner_;
    std::function<void(const std::string&)> log_;
    std::function<bool()> stopCheck_;
};

}  // namespace kesto::camsim
