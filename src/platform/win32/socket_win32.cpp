#include "platform/socket.h"

// winsock2.h must come before windows.h, which would otherwise pull in the old winsock.h
// (hence the separate include blocks, which keep clang-format from sorting them).
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <map>
#include <mutex>

namespace kesto::platform {

// Ending a wait from another thread. Winsock's shutdown() is not documented to end a connect()
// or recv() that another thread is blocked in, and under Wine it ends neither (measured: a
// connect to a listener that answers no more requests goes on until the system's own
// time-out, and a recv on a silent connection never returns). closesocket() from the
// stopping thread does end the connect (WSA_OPERATION_ABORTED), but is unsafe: the worker still
// holds the handle value, and Winsock may hand the same value to the next socket() of any
// thread in the process. So every socket here is made non-blocking with WSAEventSelect, and
// connect and recv wait in WaitForMultipleObjects on two events: the socket's network event
// (FD_CONNECT, FD_READ, FD_CLOSE) and a cancel event that ShutdownBoth sets. The calls still
// look blocking to the caller; they just also return when the socket is shut down. The
// per-socket state lives from OpenSocket to CloseSocket, so the handle value cannot be
// reused while ShutdownBoth may still look it up.
namespace {

struct SocketEvents {
    WSAEVENT network = WSA_INVALID_EVENT;
    HANDLE cancel = nullptr;  // manual reset: once shut down, every later wait returns at once
};

// -- protected by eventsLock: the events of every open socket of the process.
std::mutex eventsLock;
std::map<SocketHandle, SocketEvents> socketEvents;

SOCKET ToSocket(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

bool LookUp(SocketHandle socket, SocketEvents& events) {
    std::lock_guard<std::mutex> guard(eventsLock);
    const auto found = socketEvents.find(socket);
    if (found == socketEvents.end()) return false;
    events = found->second;
    return true;
}

enum class Wake { Network, Cancelled, Failed };

// The events stay valid during the wait: only CloseSocket frees them, and only the thread
// that waits on a socket closes it.
Wake WaitForNetworkOrCancel(const SocketEvents& events) {
    const HANDLE handles[2] = {events.cancel, events.network};
    const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (woken == WAIT_OBJECT_0) return Wake::Cancelled;
    if (woken == WAIT_OBJECT_0 + 1) return Wake::Network;
    return Wake::Failed;
}

}  // namespace

int SocketStartup() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data);
}

void SocketCleanup() {
    WSACleanup();
}

int LastSocketError() {
    return WSAGetLastError();
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
    // Not inherited by processes the host starts, as SOCK_CLOEXEC does on POSIX.
    const SOCKET socket = WSASocketW(family, socketType, protocol, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) return kInvalidSocket;

    SocketEvents events;
    events.network = WSACreateEvent();
    events.cancel = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (events.network == WSA_INVALID_EVENT || events.cancel == nullptr ||
        WSAEventSelect(socket, events.network, FD_CONNECT | FD_READ | FD_CLOSE) != 0) {
        const int error = WSAGetLastError() != 0 ? WSAGetLastError() : WSAENOBUFS;
        if (events.network != WSA_INVALID_EVENT) WSACloseEvent(events.network);
        if (events.cancel != nullptr) CloseHandle(events.cancel);
        closesocket(socket);
        WSASetLastError(error);
        return kInvalidSocket;
    }
    const SocketHandle handle = static_cast<SocketHandle>(socket);
    std::lock_guard<std::mutex> guard(eventsLock);
    socketEvents[handle] = events;
    return handle;
}

bool ConnectSocket(SocketHandle socket, const ResolvedAddress& address) {
    SocketEvents events;
    if (!LookUp(socket, events)) {
        WSASetLastError(WSAENOTSOCK);
        return false;
    }
    if (connect(ToSocket(socket), static_cast<const sockaddr*>(address.address),
                static_cast<int>(address.addressLength)) == 0) {
        return true;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) return false;

    for (;;) {
        switch (WaitForNetworkOrCancel(events)) {
            case Wake::Cancelled:
                WSASetLastError(WSAEINTR);
                return false;
            case Wake::Failed:
                return false;
            case Wake::Network:
                break;
        }
        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(ToSocket(socket), events.network, &happened) != 0) return false;
        if ((happened.lNetworkEvents & FD_CONNECT) == 0) continue;
        const int error = happened.iErrorCode[FD_CONNECT_BIT];
        if (error == 0) return true;
        WSASetLastError(error);
        return false;
    }
}

bool ShutdownSend(SocketHandle socket) {
    return shutdown(ToSocket(socket), SD_SEND) == 0;
}

void ShutdownBoth(SocketHandle socket) {
    shutdown(ToSocket(socket), SD_BOTH);
    std::lock_guard<std::mutex> guard(eventsLock);
    const auto found = socketEvents.find(socket);
    if (found != socketEvents.end()) SetEvent(found->second.cancel);
}

long Receive(SocketHandle socket, void* buffer, std::size_t capacity) {
    SocketEvents events;
    if (!LookUp(socket, events)) {
        WSASetLastError(WSAENOTSOCK);
        return -1;
    }
    // recv takes an int; a larger buffer is simply not filled beyond that.
    const int length = capacity > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(capacity);
    for (;;) {
        // Cancelled first, so that a shut-down socket with data still queued returns at once.
        if (WaitForSingleObject(events.cancel, 0) == WAIT_OBJECT_0) {
            WSASetLastError(WSAESHUTDOWN);
            return -1;
        }
        const int received = recv(ToSocket(socket), static_cast<char*>(buffer), length, 0);
        if (received >= 0) return received;
        if (WSAGetLastError() != WSAEWOULDBLOCK) return -1;
        // Any recv call re-arms FD_READ, so data arriving after the WSAEWOULDBLOCK above
        // signals the event and the wait below cannot miss it.
        switch (WaitForNetworkOrCancel(events)) {
            case Wake::Cancelled:
                WSASetLastError(WSAESHUTDOWN);
                return -1;
            case Wake::Failed:
                return -1;
            case Wake::Network:
                break;
        }
        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(ToSocket(socket), events.network, &happened) != 0) return -1;
    }
}

void CloseSocket(SocketHandle socket) {
    SocketEvents events;
    {
        std::lock_guard<std::mutex> guard(eventsLock);
        const auto found = socketEvents.find(socket);
        if (found != socketEvents.end()) {
            events = found->second;
            socketEvents.erase(found);
        }
    }
    closesocket(ToSocket(socket));
    if (events.network != WSA_INVALID_EVENT) WSACloseEvent(events.network);
    if (events.cancel != nullptr) CloseHandle(events.cancel);
}

}  // namespace kesto::platform
