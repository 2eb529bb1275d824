#include "stream/tcp_stream_manager.h"

#include <memory>
#include <stdexcept>
#include <vector>

#include "decoder/decoder_sink.h"
#include "messages/message_channel.h"
#include "stream/stream_uri.h"

namespace kesto {

namespace {
std::string ErrorNumbers(int result, int lastError) {
    return std::to_string(result) + " (" + std::to_string(lastError) + ")";
}
}  // namespace

// The worker's socket: registered with the manager while it may block, closed on every way
// out of the loop.
class CTcpStreamManager::ActiveSocket {
  public:
    explicit ActiveSocket(CTcpStreamManager& manager) : owner(manager) {}
    ~ActiveSocket() { Close(); }
    ActiveSocket(const ActiveSocket&) = delete;
    ActiveSocket& operator=(const ActiveSocket&) = delete;

    // Takes ownership of a new socket; false (and the socket closed) when a stop has already
    // been requested, so that the worker does not begin a wait nobody will end.
    bool Adopt(platform::SocketHandle newSocket) {
        socket = newSocket;
        std::lock_guard<std::mutex> guard(owner.socketLock);
        if (owner.stopRequested.load()) return false;
        owner.activeSocket = newSocket;
        return true;
    }

    void Close() {
        if (socket == platform::kInvalidSocket) return;
        {
            std::lock_guard<std::mutex> guard(owner.socketLock);
            owner.activeSocket = platform::kInvalidSocket;
        }
        platform::CloseSocket(socket);
        socket = platform::kInvalidSocket;
    }

    platform::SocketHandle Get() const { return socket; }

  private:
    CTcpStreamManager& owner;
    platform::SocketHandle socket = platform::kInvalidSocket;
};

CTcpStreamManager::CTcpStreamManager(std::string uriValue, std::string streamNameValue)
    : IStreamManager(std::move(uriValue), std::move(streamNameValue), kMaxSegmentBytes) {
    TcpEndpoint endpoint = SplitTcpUri(uri);
    host = std::move(endpoint.host);
    port = std::move(endpoint.port);

    const int startup = platform::SocketStartup();
    if (startup != 0) {
        throw std::logic_error("WSAStartup failed with error : " +
                               ErrorNumbers(startup, platform::LastSocketError()));
    }
    // Only proves that the name resolves; the worker resolves again when it connects.
    platform::AddressList addresses;
    const int resolved = addresses.Resolve(host, port);
    if (resolved != 0) {
        const int lastError = platform::LastSocketError();
        platform::SocketCleanup();
        throw std::logic_error("Could not resolve host name in uri " +
                               ErrorNumbers(resolved, lastError));
    }
}

CTcpStreamManager::~CTcpStreamManager() {
    Stop();
    platform::SocketCleanup();
}

void CTcpStreamManager::Start() {
    BindDecoderEarly();
    receiveThread.StartIfNone([this] { ReceiveLoop(); });
}

void CTcpStreamManager::Stop() {
    CutWaits();
    receiveThread.JoinAndRelease();
}

// The worker then sees the stop after its current chunk or wakes from its connect or receive,
// shuts its decoder down and returns, none of which needs the loader's lock.
bool CTcpStreamManager::EndForUnload(unsigned timeoutMs) {
    CutWaits();
    return receiveThread.ReleaseForUnload(timeoutMs);
}

void CTcpStreamManager::CutWaits() {
    stopRequested.exchange(true);
    std::lock_guard<std::mutex> guard(socketLock);
    if (activeSocket != platform::kInvalidSocket) platform::ShutdownBoth(activeSocket);
}

void CTcpStreamManager::ReceiveLoop() {
    RunWorker([this] {
        platform::AddressList addresses;
        const int resolved = addresses.Resolve(host, port);
        if (resolved != 0) {
            ReportMessage(MessageCode::Error,
                          "Tcp video stream getaddrinfo() failed with error " +
                              ErrorNumbers(resolved, platform::LastSocketError()));
            return;
        }

        ActiveSocket socket(*this);
        bool connected = false;
        for (const platform::ResolvedAddress& entry : addresses.Entries()) {
            const platform::SocketHandle candidate =
                platform::OpenSocket(entry.family, entry.socketType, entry.protocol);
            if (candidate == platform::kInvalidSocket) {
                const int error = platform::LastSocketError();
                addresses.Release();
                ReportMessage(MessageCode::Error, "Tcp video stream socket() failed with error " +
                                                      std::to_string(error));
                return;
            }
            if (!socket.Adopt(candidate)) return;  // stopped before connecting
            if (platform::ConnectSocket(candidate, entry)) {
                connected = true;
                break;
            }
            socket.Close();
            // A connect cut short by Stop() is not a connection failure worth reporting.
            if (stopRequested.load()) return;
        }
        addresses.Release();
        if (!connected) {
            ReportMessage(MessageCode::Error, "Tcp video stream: Unable to connect to server!");
            return;
        }

        if (!platform::ShutdownSend(socket.Get())) {
            ReportMessage(MessageCode::Error,
                          "Tcp video stream shutdown send side failed with error " +
                              std::to_string(platform::LastSocketError()));
            return;
        }

        auto sink = std::make_unique<DecoderSink>(streamName);
        ReportMessage(MessageCode::Info, "After decoder instantiation");

        std::vector<uint8_t> buffer(kReceiveBufferSize);
        for (;;) {
            const long received = platform::Receive(socket.Get(), buffer.data(), buffer.size());
            if (received > 0) {
                DeliverChunk(*sink, buffer.data(), static_cast<int>(received));
                if (stopRequested.load()) break;
                continue;
            }
            // Stop() shuts the socket down to end a waiting receive; that is no server event.
            if (stopRequested.load()) break;
            if (received == 0) {
                ReportMessage(MessageCode::Status, "Tcp video stream connection closed");
            } else {
                ReportMessage(MessageCode::Error, "Tcp video stream recv() failed with error " +
                                                      std::to_string(platform::LastSocketError()));
            }
            break;
        }
        platform::ShutdownBoth(socket.Get());
        socket.Close();
        sink.reset();
    });
}

}  // namespace kesto
