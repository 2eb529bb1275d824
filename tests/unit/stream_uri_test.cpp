#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>

#include "stream/stream_uri.h"

namespace kesto {
namespace {

TEST(StreamScheme, LowerCasesTheSchemeUpToTheFirstSeparatorAndRejectsUrisWithout) {
    const std::pair<const char*, std::optional<std::string>> cases[] = {
        {"TCP://host", "tcp"}, {"FiLe:///a", "file"},       {"udp://x", "udp"}, {"://x", ""},
        {":/", std::nullopt},  {"tcp:/host", std::nullopt}, {"", std::nullopt}, {"a://b://c", "a"}};
    for (const auto& [uri, scheme] : cases) EXPECT_EQ(StreamScheme(uri), scheme) << uri;
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
