#include "loopback_server.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <chrono>
#include <stdexcept>

namespace kesto::test {

namespace {
using Socket = LoopbackServer::Socket;

// The few calls that differ between Winsock and POSIX sockets.
#if defined(_WIN32)
constexpr Socket kNoSocket = INVALID_SOCKET;

// Winsock must be started once per process before the first socket call; it is never cleaned
// up, so the client library's own start-up and clean-up pairs are tested on top of it.
void EnsureSockets() {
    static const int started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0) throw std::runtime_error("WSAStartup failed");
}
Socket NewTcpSocket() {
    EnsureSockets();
    return ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
}
void CloseTcpSocket(Socket socket) {
    ::closesocket(socket);
}
bool WaitReadable(Socket socket, int timeoutMs) {
    WSAPOLLFD waiting{socket, POLLRDNORM, 0};
    return ::WSAPoll(&waiting, 1, timeoutMs) == 1;
}
Socket AcceptConnection(Socket listener) {
    return ::accept(listener, nullptr, nullptr);
}
long SendSome(Socket socket, const uint8_t* bytes, std::size_t size) {
    return ::send(socket, reinterpret_cast<const char*>(bytes), static_cast<int>(size), 0);
}
#else
constexpr Socket kNoSocket = ~Socket{0};

Socket NewTcpSocket() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return fd < 0 ? kNoSocket : static_cast<Socket>(fd);
}
void CloseTcpSocket(Socket socket) {
    ::close(static_cast<int>(socket));
}
bool WaitReadable(Socket socket, int timeoutMs) {
    pollfd waiting{static_cast<int>(socket), POLLIN, 0};
    return ::poll(&waiting, 1, timeoutMs) == 1;
}
Socket AcceptConnection(Socket listener) {
    const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? kNoSocket : static_cast<Socket>(fd);
}
long SendSome(Socket socket, const uint8_t* bytes, std::size_t size) {
    return static_cast<long>(::send(static_cast<int>(socket), bytes, size, MSG_NOSIGNAL));
}
#endif

Socket ListenOnLoopback(uint16_t& port, int backlog = 4) {
    const Socket socket = NewTcpSocket();
    if (socket == kNoSocket) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket, backlog) != 0) {
        CloseTcpSocket(socket);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return socket;
}
}  // namespace

LoopbackServer::LoopbackServer(int backlog) {
    listener = ListenOnLoopback(port, backlog);
}

LoopbackServer::~LoopbackServer() {
    stopping.store(true);
    Join();
    CloseTcpSocket(listener);
}

std::string LoopbackServer::Uri() const {
    return "tcp://127.0.0.1:" + std::to_string(port);
}

void LoopbackServer::Serve(std::function<void(Socket socket)> session) {
    thread = std::thread([this, session = std::move(session)] {
        if (!WaitReadable(listener, 10000)) return;
        const Socket connection = AcceptConnection(listener);
        if (connection == kNoSocket) return;
        session(connection);
        CloseTcpSocket(connection);
    });
}

void LoopbackServer::Join() {
    if (thread.joinable()) thread.join();
}

bool LoopbackServer::SendAll(Socket socket, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const long sent = SendSome(socket, bytes, size);
        if (sent <= 0) return false;
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool LoopbackServer::SendPackets(Socket socket, const std::vector<std::vector<uint8_t>>& packets,
                                 int pauseMs) const {
    for (const auto& packet : packets) {
        if (stopping.load() || !SendAll(socket, packet.data(), packet.size())) return false;
        if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return true;
}

uint16_t UnusedLoopbackPort() {
    uint16_t port = 0;
    const Socket socket = ListenOnLoopback(port);
    CloseTcpSocket(socket);
    return port;
}

}  // namespace kesto::test
