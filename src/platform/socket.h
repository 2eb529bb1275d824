// Blocking TCP sockets. Both backends use the same BSD calls; what differs is the socket handle
// type, start-up/clean-up (Winsock needs them, POSIX does not), how a socket is closed and
// where the error number comes from.
//
// Provided by the OS specific files: posix/socket_posix.cpp, win32/socket_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kesto::platform {

using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};

// Starts the socket layer for one user (WSAStartup 2.2); 0 on success, else the error code.
int SocketStartup();
// Releases one SocketStartup.
void SocketCleanup();
// The error number of the calling thread's last failed socket call (WSAGetLastError / errno).
int LastSocketError();

struct ResolvedAddress {
    int family;
    int socketType;
    int protocol;
    const void* address;
    std::size_t addressLength;
};

// The candidate addresses for a host and port (getaddrinfo with any family, stream sockets,
// TCP). Owns the list; entries point into it.
class AddressList {
  public:
    AddressList() = default;
    ~AddressList();
    AddressList(const AddressList&) = delete;
    AddressList& operator=(const AddressList&) = delete;

    // Resolves into this list; returns getaddrinfo's result (0 on success).
    int Resolve(const std::string& host, const std::string& port);
    // Frees the list early; entries are gone afterwards.
    void Release();
    const std::vector<ResolvedAddress>& Entries() const { return entries; }

  private:
    void* head = nullptr;  // struct addrinfo*
    std::vector<ResolvedAddress> entries;
};

SocketHandle OpenSocket(int family, int socketType, int protocol);
// true when connected.
bool ConnectSocket(SocketHandle socket, const ResolvedAddress& address);
// Shuts the sending direction down; true on success.
bool ShutdownSend(SocketHandle socket);
// Shuts both directions down. A receive or connect blocked on the socket in another thread
// returns; the handle itself stays valid until CloseSocket. (Winsock's shutdown() is not
// made for that and under Wine ends neither, so the Windows backend waits on events that this
// call also signals; see socket_win32.cpp.)
void ShutdownBoth(SocketHandle socket);
// Bytes received (> 0), 0 when the peer closed, < 0 on failure.
long Receive(SocketHandle socket, void* buffer, std::size_t capacity);
void CloseSocket(SocketHandle socket);

}  // namespace kesto::platform
