// The socket backend's error numbers (socket_posix.cpp / socket_win32.cpp). That a shutdown
// ends a connect or receive waiting in another thread is held by the fault matrix's stops
// (tests/reliability), through the exports; data, resolving and the close by the integration
// tests.
#include <gtest/gtest.h>

#include <string>

#include "loopback_server.h"
#include "platform/socket.h"

namespace kesto::platform {
namespace {

#if defined(_WIN32)
constexpr int kConnectionRefused = 10061;  // WSAECONNREFUSED
#else
constexpr int kConnectionRefused = 111;  // ECONNREFUSED
#endif

TEST(Socket, RefusedConnectionFailsWithTheSystemsErrorNumber) {
    ASSERT_EQ(SocketStartup(), 0);
    AddressList addresses;
    ASSERT_EQ(addresses.Resolve("127.0.0.1", std::to_string(test::UnusedLoopbackPort())), 0);
    const ResolvedAddress& entry = addresses.Entries().front();
    const SocketHandle socket = OpenSocket(entry.family, entry.socketType, entry.protocol);
    EXPECT_FALSE(ConnectSocket(socket, entry));
    EXPECT_EQ(LastSocketError(), kConnectionRefused);
    CloseSocket(socket);
    SocketCleanup();
}

}  // namespace
}  // namespace kesto::platform
