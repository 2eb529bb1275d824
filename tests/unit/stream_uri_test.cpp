#include <gtest/gtest.h>

#include <optional>
#include <string>

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
    const char* cases[][3] = {
        // URI, host, port
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
    for (const auto& c : cases) {
        const TcpEndpoint endpoint = SplitTcpUri(c[0]);
        EXPECT_EQ(endpoint.host, c[1]) << c[0];
        EXPECT_EQ(endpoint.port, c[2]) << c[0];
    }
}

TEST(FilePathFromUri, DropsTheSlashBeforeADriveAndAppliesTheSeparator) {
    const char* cases[][3] = {
        // URI, Windows path, POSIX path
        {"file:///C:/a/b.bin", "C:\\a\\b.bin", "C:/a/b.bin"},
        {"file://C:/a/b.bin", "C:\\a\\b.bin", "C:/a/b.bin"},
        {"file:///a/b.bin", "\\a\\b.bin", "/a/b.bin"},
        {"file:///tmp/rec%20a.bin?x", "\\tmp\\rec%20a.bin?x", "/tmp/rec%20a.bin?x"},
        {"file:///C:", "C:", "C:"},
        {"file:///C", "\\C", "/C"},
        {"file://", "", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FilePathFromUri(c[0], '\\'), c[1]) << c[0];
        EXPECT_EQ(FilePathFromUri(c[0], '/'), c[2]) << c[0];
    }
}

}  // namespace
}  // namespace kesto
