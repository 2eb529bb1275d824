#include "loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace kesto::test {

namespace {
int ListenOnLoopback(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0) {
        ::close(fd);
        throw std::runtime_error("bind/listen failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}
}  // namespace

LoopbackServer::LoopbackServer() {
    listener = ListenOnLoopback(port);
}

LoopbackServer::~LoopbackServer() {
    stopping.store(true);
    Join();
    if (listener >= 0) ::close(listener);
}

std::string LoopbackServer::Uri() const {
    return "tcp://127.0.0.1:" + std::to_string(port);
}

void LoopbackServer::Serve(std::function<void(int socket)> session) {
    thread = std::thread([this, session = std::move(session)] {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 10000) != 1) return;
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) return;
        session(connection);
        ::close(connection);
    });
}

void LoopbackServer::Join() {
    if (thread.joinable()) thread.join();
}

bool LoopbackServer::SendAll(int socket, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t sent = ::send(socket, bytes, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

bool LoopbackServer::SendPackets(int socket, const std::vector<std::vector<uint8_t>>& packets,
                                 int pauseMs) const {
    for (const auto& packet : packets) {
        if (stopping.load() || !SendAll(socket, packet.data(), packet.size())) return false;
        if (pauseMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    }
    return true;
}

uint16_t UnusedLoopbackPort() {
    uint16_t port = 0;
    const int fd = ListenOnLoopback(port);
    ::close(fd);
    return port;
}

}  // namespace kesto::test
