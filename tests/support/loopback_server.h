// A one-connection TCP server on 127.0.0.1 with an ephemeral port, for tests that need the
// other end of a stream: the test decides what the session does with the accepted socket.
// The same on POSIX sockets and Winsock (which the server starts for itself).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace kesto::test {

class LoopbackServer {
  public:
    // A socket descriptor on POSIX, a SOCKET on Windows.
    using Socket = std::uintptr_t;

    // `backlog` is listen()'s: 0 lets a connection or two wait to be accepted and leaves
    // further connection requests unanswered (on Linux, and under Wine).
    explicit LoopbackServer(int backlog = 4);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    uint16_t Port() const { return port; }
    std::string Uri() const;

    // Accepts one connection (waiting at most 10 s, or until the server stops) and runs
    // `session` with its socket on the server thread; the socket is closed when it returns.
    void Serve(std::function<void(Socket socket)> session);
    // Waits for the session to end.
    void Join();
    // Set when the test is done: a session that waits should return.
    bool Stopping() const { return stopping.load(); }

    // Writes all bytes; false when the peer is gone.
    static bool SendAll(Socket socket, const void* data, std::size_t size);
    // True when the peer's end of the stream (a shut-down sending side) arrives within
    // `timeoutMs`, before any byte.
    static bool ReadsEndOfStream(Socket socket, int timeoutMs);
    // Serves `packets` round and round, one every `pauseMs`, until the server stops.
    void ServeLoop(const std::vector<std::vector<uint8_t>>& packets, int pauseMs);

  private:
    Socket listener = 0;
    uint16_t port = 0;
    std::thread thread;
    std::atomic<bool> stopping{false};
};

// What Winsock and POSIX spell differently, for a session's socket.
void SetNoDelay(LoopbackServer::Socket socket);
// SO_LINGER on with a time of 0: closing the socket resets the connection.
void ResetOnClose(LoopbackServer::Socket socket);
// The number the client reports for a connection reset by the peer.
int ConnectionResetError();

// A loopback listener with a queue of one that is already full: a further connect's SYN is
// dropped (by Linux, and so under Wine), so the connect waits until someone ends it.
class FullListener {
  public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    std::string Uri() const { return server.Uri(); }

  private:
    LoopbackServer server{0};
    std::vector<LoopbackServer::Socket> fillers;
};

}  // namespace kesto::test
