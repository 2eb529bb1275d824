#include "platform/socket.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>
#include <cerrno>

namespace kesto::platform {

namespace {
int ToFd(SocketHandle socket) {
    return static_cast<int>(socket);
}
}  // namespace

int SocketStartup() {
    return 0;
}
void SocketCleanup() {}
int LastSocketError() {
    return errno;
}

AddressList::~AddressList() {
    Release();
}

int AddressList::Resolve(const std::string& host, const std::string& port) {
    Release();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* result = nullptr;
    const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &result);
    if (rc != 0) return rc;
    head = result;
    for (addrinfo* entry = result; entry != nullptr; entry = entry->ai_next) {
        entries.push_back({entry->ai_family, entry->ai_socktype, entry->ai_protocol, entry->ai_addr,
                           static_cast<std::size_t>(entry->ai_addrlen)});
    }
    return 0;
}

void AddressList::Release() {
    entries.clear();
    if (head != nullptr) freeaddrinfo(static_cast<addrinfo*>(head));
    head = nullptr;
}

SocketHandle OpenSocket(int family, int socketType, int protocol) {
    // Close-on-exec so that a host that spawns processes does not leak the connection.
    const int fd = ::socket(family, socketType | SOCK_CLOEXEC, protocol);
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

bool ConnectSocket(SocketHandle socket, const ResolvedAddress& address) {
    int rc;
    do {
        rc = ::connect(ToFd(socket), static_cast<const sockaddr*>(address.address),
                       static_cast<socklen_t>(address.addressLength));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool ShutdownSend(SocketHandle socket) {
    return ::shutdown(ToFd(socket), SHUT_WR) == 0;
}

void ShutdownBoth(SocketHandle socket) {
    ::shutdown(ToFd(socket), SHUT_RDWR);
}

long Receive(SocketHandle socket, void* buffer, std::size_t capacity) {
    ssize_t n;
    do {
        n = ::recv(ToFd(socket), buffer, capacity, 0);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

void CloseSocket(SocketHandle socket) {
    ::close(ToFd(socket));
}

}  // namespace kesto::platform
