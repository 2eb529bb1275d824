// The simulator's server in this process: each fault switch as the bytes a plain socket
// receives. (Its live stream through the client: tests/dotnet, and the demo in
// tools_cli_test.)
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "camsim_server.h"

namespace kesto::test {
namespace {

// What one connection delivers within 700 ms: its bytes, and how it ended (0: still open,
// otherwise the errno of the receive, or -1 for an orderly close).
struct Received {
    std::vector<uint8_t> bytes;
    int end = 0;
};

Received Receive(const camsim::Faults& faults, std::size_t limit) {
    camsim::ServerOptions options;
    options.port = 0;
    options.side = 128;
    options.fps = 50;
    options.faults = faults;
    camsim::Server server(options);
    server.Start();
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, htons(server.Port()), {htonl(INADDR_LOOPBACK)}, {}};
    Received got;
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        got.end = errno;
    uint8_t buffer[4096];
    pollfd readable{client, POLLIN, 0};
    while (got.end == 0 && got.bytes.size() < limit && poll(&readable, 1, 700) == 1) {
        const ssize_t n = recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) got.end = n == 0 ? -1 : errno;
        if (n > 0) got.bytes.insert(got.bytes.end(), buffer, buffer + n);
    }
    close(client);
    return got;  // the server stops with its destructor
}

TEST(CamsimServer, FaultSwitchesActAtTheirByteCount) {
    const Received clean = Receive({}, 6000);
    ASSERT_GE(clean.bytes.size(), 6000u);
    struct Case {
        const char* name;
        camsim::Faults faults;
        std::size_t bytes;  // received in all
        int end;
        std::size_t sameAsClean;  // leading bytes equal to the unfaulted stream's (random
                                  // bytes match by chance: a few more are allowed then)
    } cases[] = {
        {"close", {3000, -1, -1, -1, 0, 2}, 3000, -1, 3000},
        {"close_at_once", {0, -1, -1, -1, 0, 2}, 0, -1, 0},
        {"stall", {-1, 2500, -1, -1, 0, 2}, 2500, 0, 2500},
        {"reset", {-1, -1, 2000, -1, 0, 2}, 2000, ECONNRESET, 2000},
        {"garbage", {-1, -1, -1, 1000, 0, 2}, 6000, 0, 1000},
        {"trickle", {-1, -1, -1, -1, 97, 0}, 6000, 0, 6000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Received got = Receive(c.faults, 6000);
        got.bytes.resize(std::min(got.bytes.size(), std::size_t{6000}));
        EXPECT_EQ(got.bytes.size(), c.bytes);
        EXPECT_EQ(got.end, c.end);
        std::size_t same = 0;
        while (same < got.bytes.size() && got.bytes[same] == clean.bytes[same]) ++same;
        EXPECT_GE(same, c.sameAsClean);
        EXPECT_LE(same, c.sameAsClean + (c.faults.garbageAfter >= 0 ? 8 : 0));
    }
}

}  // namespace
}  // namespace kesto::test
