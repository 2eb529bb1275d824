// The socket backend (socket_posix.cpp / socket_win32.cpp) as the TCP source uses it: a
// connect or receive that waits in one thread must end when another thread shuts the socket
// down. (Data, resolving and the close: through the exports, in the integration tests.)
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "loopback_server.h"
#include "platform/socket.h"

namespace kesto::platform {
namespace {

using std::chrono::milliseconds;
using test::LoopbackServer;

#if defined(_WIN32)
constexpr int kConnectionRefused = 10061;  // WSAECONNREFUSED
#else
constexpr int kConnectionRefused = 111;  // ECONNREFUSED
#endif

class SocketTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(SocketStartup(), 0); }
    void TearDown() override {
        for (SocketHandle socket : opened) CloseSocket(socket);
        SocketCleanup();
    }

    // A socket for 127.0.0.1:port, resolved into `addresses`.
    SocketHandle Open(uint16_t port) {
        EXPECT_EQ(addresses.Resolve("127.0.0.1", std::to_string(port)), 0);
        EXPECT_FALSE(addresses.Entries().empty());
        const ResolvedAddress& entry = addresses.Entries().front();
        opened.push_back(OpenSocket(entry.family, entry.socketType, entry.protocol));
        EXPECT_NE(opened.back(), kInvalidSocket);
        return opened.back();
    }
    // Starts `call` on `socket` in another thread; false when it returned within 300 ms.
    // Otherwise shuts the socket down, which must end the call at once with a failure.
    bool ShutdownEnds(SocketHandle socket, std::function<long()> call) {
        auto done = std::async(std::launch::async, std::move(call));
        if (done.wait_for(milliseconds(300)) == std::future_status::ready) return false;
        ShutdownBoth(socket);
        EXPECT_EQ(done.wait_for(milliseconds(2000)), std::future_status::ready)
            << "still waiting 2 s after the shutdown";
        if (done.wait_for(milliseconds(30000)) == std::future_status::ready) {
            EXPECT_LE(done.get(), 0);
        }
        return true;
    }

    AddressList addresses;
    std::vector<SocketHandle> opened;
};

TEST_F(SocketTest, RefusedConnectionFailsWithTheSystemsErrorNumber) {
    const SocketHandle socket = Open(test::UnusedLoopbackPort());
    EXPECT_FALSE(ConnectSocket(socket, addresses.Entries().front()));
    EXPECT_EQ(LastSocketError(), kConnectionRefused);
}

TEST_F(SocketTest, ShutdownEndsAReceiveWaitingInAnotherThread) {
    LoopbackServer server;
    server.Serve([&server](LoopbackServer::Socket) {
        while (!server.Stopping()) std::this_thread::sleep_for(milliseconds(5));
    });
    const SocketHandle socket = Open(server.Port());
    ASSERT_TRUE(ConnectSocket(socket, addresses.Entries().front())) << LastSocketError();
    EXPECT_TRUE(ShutdownEnds(socket, [socket] {
        char byte;
        return Receive(socket, &byte, 1);
    }));
}

// A connect to a listener whose accept queue is full waits for the system's time-out, tens of
// seconds, unless it is ended.
TEST_F(SocketTest, ShutdownEndsAConnectWaitingInAnotherThread) {
    test::FullListener full;
    const SocketHandle socket = Open(full.Port());
    const ResolvedAddress entry = addresses.Entries().front();
    EXPECT_TRUE(ShutdownEnds(socket, [socket, entry] { return ConnectSocket(socket, entry) ? 1L : 0L; }));
}

}  // namespace
}  // namespace kesto::platform
