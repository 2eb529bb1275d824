// CTcpStreamManager: receives the instrument's H.264 byte stream from its video server over
// TCP. The client sends nothing: it shuts its sending side down right after connecting and
// then only reads, one receive call per chunk, until the server closes the connection.
#pragma once

#include <atomic>
#include <mutex>
#include <string>

#include "platform/socket.h"
#include "stream/stream_manager.h"

namespace kesto {

class CTcpStreamManager final : public IStreamManager {
  public:
    // Parses host and port from the URI, starts the socket layer and checks that the address
    // resolves; throws std::logic_error with the reason otherwise.
    CTcpStreamManager(std::string uri, std::string streamName);
    ~CTcpStreamManager() override;

    void Start() override;
    void Stop() override;
    void Close() override { Stop(); }
    bool IsRunning() const override { return receiveThread.Exists(); }
    std::string GetType() const override { return "tcp"; }
    void SetCurrentAzimuth(double) override {}
    bool EndForUnload(unsigned timeoutMs) override;

    static constexpr std::size_t kReceiveBufferSize = 0x40000;

  private:
    class ActiveSocket;
    void ReceiveLoop();
    // Raises the stop and shuts the active socket down, ending a connect or receive wait.
    void CutWaits();

    std::string host;
    std::string port;
    WorkerThread receiveThread;              // host side only
    std::atomic<bool> stopRequested{false};  // written by Stop(), read by the worker per chunk

    // -- protected by socketLock: the socket the worker is connecting or receiving on, so
    // that Stop() can shut it down and end a receive or connect that would otherwise wait for
    // a silent server without bound. The worker registers the socket (unless a stop is
    // already requested) and unregisters it before closing it, so Stop() never touches a
    // closed handle.
    std::mutex socketLock;
    platform::SocketHandle activeSocket = platform::kInvalidSocket;
};

}  // namespace kesto
