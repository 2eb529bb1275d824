#include "loopback_server.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <chrono>
#include <stdexcept>

namespace kesto::test {

namespace {
using Socket = LoopbackServer::Socket;

// The few calls that differ between Winsock and POSIX sockets; POSIX gets the Winsock names.
// Winsock is started once per process and never cleaned up, so the client library's own
// start-up and clean-up pairs are tested on top of it.
#if defined(_WIN32)
using Native = SOCKET;
[[maybe_unused]] const int kStarted = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
}();
void SetNonBlocking(Native socket) {
    u_long on = 1;
    ::ioctlsocket(socket, FIONBIO, &on);
}
constexpr int kSendFlags = 0;
#else
using Native = int;
void SetNonBlocking(Native socket) {
    ::fcntl(socket, F_SETFL, O_NONBLOCK);
}
int closesocket(Native socket) {
    return ::close(socket);
}
int WSAPoll(pollfd* entries, nfds_t count, int timeoutMs) {
    return ::poll(entries, count, timeoutMs);
}
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif
constexpr Socket kNoSocket = ~Socket{0};  // INVALID_SOCKET, and -1 as a POSIX descriptor

Socket NewTcpSocket(bool nonBlocking = false) {
    const Native socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (nonBlocking) SetNonBlocking(socket);
    return static_cast<Socket>(socket);
}
void CloseTcpSocket(Socket socket) {
    closesocket(static_cast<Native>(socket));
}
bool WaitFor(Socket socket, short events, int timeoutMs) {
    pollfd waiting{static_cast<Native>(socket), events, 0};
    return WSAPoll(&waiting, 1, timeoutMs) == 1;
}

template <typename T>
void SetOption(Socket socket, int level, int name, const T& value) {
    ::setsockopt(static_cast<Native>(socket), level, name, reinterpret_cast<const char*>(&value),
                 sizeof value);
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// Connects to 127.0.0.1:port without waiting for the connection.
Socket StartConnect(uint16_t port) {
    const Socket socket = NewTcpSocket(true);
    const sockaddr_in address = Loopback(port);
    ::connect(static_cast<Native>(socket), reinterpret_cast<const sockaddr*>(&address),
              sizeof address);
    return socket;
}

Socket ListenOnLoopback(uint16_t& port, int backlog) {
    const Socket socket = NewTcpSocket();
    if (socket == kNoSocket) throw std::runtime_error("socket failed");
    sockaddr_in address = Loopback(0);
    if (::bind(static_cast<Native>(socket), reinterpret_cast<sockaddr*>(&address),
               sizeof address) != 0 ||
        ::listen(static_cast<Native>(socket), backlog) != 0) {
        CloseTcpSocket(socket);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(static_cast<Native>(socket), reinterpret_cast<sockaddr*>(&address), &length);
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
        for (int waited = 0; !WaitFor(listener, POLLIN, 20); waited += 20) {
            if (stopping.load() || waited >= 10000) return;
        }
        const Socket connection =
            static_cast<Socket>(::accept(static_cast<Native>(listener), nullptr, nullptr));
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
        const long sent = ::send(static_cast<Native>(socket), reinterpret_cast<const char*>(bytes),
                                 static_cast<int>(size), kSendFlags);
        if (sent <= 0) return false;
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool LoopbackServer::ReadsEndOfStream(Socket socket, int timeoutMs) {
    char byte = 0;
    return WaitFor(socket, POLLIN, timeoutMs) &&
           ::recv(static_cast<Native>(socket), &byte, 1, 0) == 0;
}

void LoopbackServer::ServeLoop(const std::vector<std::vector<uint8_t>>& packets, int pauseMs) {
    Serve([this, packets, pauseMs](Socket socket) {
        for (std::size_t i = 0; !stopping.load(); i = (i + 1) % packets.size()) {
            if (!SendAll(socket, packets[i].data(), packets[i].size())) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        }
    });
}

void SetNoDelay(Socket socket) {
    SetOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
}

void ResetOnClose(Socket socket) {
    SetOption(socket, SOL_SOCKET, SO_LINGER, linger{1, 0});
}

int ConnectionResetError() {
#if defined(_WIN32)
    return WSAECONNRESET;
#else
    return ECONNRESET;
#endif
}

FullListener::FullListener() {
    // Fills the accept queue with connections of our own until one no longer completes.
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(StartConnect(server.Port()));
        if (!WaitFor(fillers.back(), POLLOUT, 200)) return;  // this one waits: the queue is full
    }
    throw std::runtime_error("every connection to a listener with a queue of one was taken");
}

FullListener::~FullListener() {
    for (Socket socket : fillers) CloseTcpSocket(socket);
}

}  // namespace kesto::test
