#include <gtest/gtest.h>

#include "stream/stream_uri.h"

namespace kesto {
namespace {

TEST(StreamScheme, LowerCasesTheSchemeAndRejectsUrisWithoutSeparator) {
    EXPECT_EQ(StreamScheme("TCP://host"), "tcp");
    EXPECT_EQ(StreamScheme("Tcp://host"), "tcp");
    EXPECT_EQ(StreamScheme("FiLe:///a"), "file");
    EXPECT_EQ(StreamScheme("udp://x"), "udp");
    EXPECT_EQ(StreamScheme("://x"), "");
    EXPECT_EQ(StreamScheme(":/"), std::nullopt);
    EXPECT_EQ(StreamScheme("tcp:/host"), std::nullopt);
    EXPECT_EQ(StreamScheme(""), std::nullopt);
    // The first "://" ends the scheme.
    EXPECT_EQ(StreamScheme("a://b://c"), "a");
}

TEST(SplitTcpUri, TakesHostAndPortWithoutInterpretingTheRest) {
    struct Case {
        const char* uri;
        const char* host;
        const char* port;
    } cases[] = {
        {"tcp://192.168.0.10", "192.168.0.10", "8010"},
        {"tcp://192.168.0.10:80", "192.168.0.10", "80"},
        {"tcp://192.168.0.10:80/live", "192.168.0.10", "80/live"},
        {"tcp://host/live", "host/live", "8010"},
        {"tcp://[::1]:8010", "[", ":1]:8010"},
        {"tcp://", "", "8010"},
        {"tcp://:9", "", "9"},
        {"TCP://h:1", "h", "1"},
        {"host:5", "host", "5"},  // no "://": the authority starts at the beginning
    };
    for (const Case& c : cases) {
        const TcpEndpoint endpoint = SplitTcpUri(c.uri);
        EXPECT_EQ(endpoint.host, c.host) << c.uri;
        EXPECT_EQ(endpoint.port, c.port) << c.uri;
    }
}

TEST(FilePathFromUri, DropsTheSlashBeforeADriveAndAppliesTheSeparator) {
    struct Case {
        const char* uri;
        const char* windows;
        const char* posix;
    } cases[] = {
        {"file:///C:/a/b.bin", "C:\\a\\b.bin", "C:/a/b.bin"},
        {"file://C:/a/b.bin", "C:\\a\\b.bin", "C:/a/b.bin"},
        {"file:///a/b.bin", "\\a\\b.bin", "/a/b.bin"},
        {"file:///tmp/rec%20a.bin?x", "\\tmp\\rec%20a.bin?x", "/tmp/rec%20a.bin?x"},
        {"file:///C:", "C:", "C:"},
        {"file:///C", "\\C", "/C"},
        {"file://", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FilePathFromUri(c.uri, '\\'), c.windows) << c.uri;
        EXPECT_EQ(FilePathFromUri(c.uri, '/'), c.posix) << c.uri;
    }
}

}  // namespace
}  // namespace kesto
