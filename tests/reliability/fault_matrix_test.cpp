// Server faults against a live TCP stream, through the exports, one row per fault and moment:
// at connect time, mid-stream (with a segment being recorded) and while StopServerStream runs.
// Every row checks the messages the host receives, that the stop returns within 500 ms, that
// no callback comes after it, and that the open segment is left as a valid pair. The test
// decoder stands behind the binding, so the rows exercise the sources, not FFmpeg.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kesto/video_client.h"
#include "loopback_server.h"
#include "message_log.h"
#include "reliability_support.h"
#include "test_platform.h"

namespace kesto::test {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

enum class Fault { Close, Stall, Reset, Garbage, Trickle, SlowConnect };
enum class Phase { AtConnect, MidStream, DuringStop };

struct Expected {
    int32_t code;
    std::string text;
};

struct Row {
    const char* name;
    Fault fault;
    Phase phase;
    // At least one of these must arrive before the stop (none: nothing is required).
    std::vector<Expected> oneOf;
    // Worker messages that may arrive besides the start-up ones (a prefix match).
    std::vector<Expected> allowed;
    bool segmentHasData;  // the segment must have recorded packets before the fault
};

const Expected kClosed{KESTO_MESSAGE_STATUS, "Tcp video stream connection closed"};
const Expected kReset{KESTO_MESSAGE_ERROR, "Tcp video stream recv() failed with error 104"};
const Expected kResetBeforeShutdown{KESTO_MESSAGE_ERROR,
                                    "Tcp video stream shutdown send side failed with error "};

const Row kRows[] = {
    {"CloseAtConnect", Fault::Close, Phase::AtConnect, {kClosed}, {}, false},
    {"CloseMidStream", Fault::Close, Phase::MidStream, {kClosed}, {}, true},
    {"CloseDuringStop", Fault::Close, Phase::DuringStop, {}, {kClosed}, true},
    {"StallAtConnect", Fault::Stall, Phase::AtConnect, {}, {}, false},
    {"StallMidStream", Fault::Stall, Phase::MidStream, {}, {}, true},
    {"StallDuringStop", Fault::Stall, Phase::DuringStop, {}, {}, true},
    {"ResetAtConnect",
     Fault::Reset,
     Phase::AtConnect,
     {kReset, kResetBeforeShutdown},
     {kReset, kResetBeforeShutdown},
     false},
    {"ResetMidStream", Fault::Reset, Phase::MidStream, {kReset}, {kReset}, true},
    {"ResetDuringStop", Fault::Reset, Phase::DuringStop, {}, {kReset}, true},
    {"GarbageAtConnect", Fault::Garbage, Phase::AtConnect, {}, {}, false},
    {"GarbageMidStream", Fault::Garbage, Phase::MidStream, {}, {}, true},
    {"GarbageDuringStop", Fault::Garbage, Phase::DuringStop, {}, {}, true},
    {"TrickleAtConnect", Fault::Trickle, Phase::AtConnect, {}, {}, false},
    {"TrickleMidStream", Fault::Trickle, Phase::MidStream, {}, {}, true},
    {"TrickleDuringStop", Fault::Trickle, Phase::DuringStop, {}, {}, true},
    // The listener's queue is full: the connect itself waits until the stop ends it.
    {"SlowConnectNeverAccepted", Fault::SlowConnect, Phase::AtConnect, {}, {}, false},
    // Accepted after 300 ms, then a few packets and a close.
    {"SlowConnectAcceptedLate", Fault::SlowConnect, Phase::MidStream, {kClosed}, {}, true},
    {"SlowConnectStoppedAtOnce", Fault::SlowConnect, Phase::DuringStop, {}, {}, false},
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

const std::vector<Packet>& Packets() {
    static const std::vector<Packet> packets = GeneratePackets(16);
    return packets;
}

bool MatchesAny(const LoggedMessage& m, const std::vector<Expected>& list) {
    return std::any_of(list.begin(), list.end(), [&](const Expected& e) {
        return m.code == e.code && m.text.rfind(e.text, 0) == 0;
    });
}

bool IsStartUpMessage(const LoggedMessage& m) {
    return (m.code == KESTO_MESSAGE_STATUS && m.text == "Stream started") ||
           (m.code == KESTO_MESSAGE_INFO && (m.text == "DecoderLib Initialized: \ntest decoder" ||
                                             m.text == "After decoder instantiation"));
}

// A loopback listener with a queue of one whose queue is already full: a further connect's
// SYN is dropped, so the connect waits (retransmitting) until someone ends it.
class FullListener {
  public:
    FullListener() {
        listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener, 0) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "listener";
        }
        port = ntohs(address.sin_port);
        // Fill the accept queue with connections of our own until one no longer completes.
        for (int i = 0; i < 4; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            fillers.push_back(fd);
            pollfd done{fd, POLLOUT, 0};
            if (::poll(&done, 1, 200) == 0) break;  // this one waits: the queue is full
        }
    }
    ~FullListener() {
        for (int fd : fillers) ::close(fd);
        ::close(listener);
    }
    std::string Uri() const { return "tcp://127.0.0.1:" + std::to_string(port); }

  private:
    int listener = -1;
    uint16_t port = 0;
    std::vector<int> fillers;
};

class FaultMatrixTest : public ::testing::TestWithParam<Row> {
  protected:
    void SetUp() override {
        SetDecoderLibrarySetting(TEST_DECODER_PATH);
        InstallGuardedCallbacks();
        MarkStopped(false);
        ClearLog();
        segment = ::testing::TempDir() + "fault_" + GetParam().name + ".bin";
        std::remove(segment.c_str());
        std::remove((segment.substr(0, segment.size() - 4) + "_pkt_sizes.bin").c_str());
        (void)Packets();
    }
    void TearDown() override {
        MarkStopped(false);
        DestroyClient();
    }

    // The server's side of a row; `faultNow` tells a DuringStop session when to strike.
    void Session(int socket, const Row& row) {
        const int one = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::size_t next = 0;
        auto sendNext = [&] {
            const Packet& p = Packets()[next++ % Packets().size()];
            return LoopbackServer::SendAll(static_cast<LoopbackServer::Socket>(socket), p.data(),
                                           p.size());
        };
        if (row.phase == Phase::MidStream) {
            for (int i = 0; i < 8; ++i) {
                if (!sendNext()) return;
                std::this_thread::sleep_for(milliseconds(10));
            }
            std::this_thread::sleep_for(milliseconds(100));  // all of it received and recorded
        } else if (row.phase == Phase::DuringStop) {
            while (!faultNow.load() && !server.Stopping()) {
                if (!sendNext()) return;
                std::this_thread::sleep_for(milliseconds(5));
            }
        }
        Strike(socket, row.fault, next);
    }

    void Strike(int socket, Fault fault, std::size_t next) {
        switch (fault) {
            case Fault::Close:
            case Fault::SlowConnect:
                return;  // the socket is closed when the session returns
            case Fault::Reset: {
                const linger abortive{1, 0};
                ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
                return;
            }
            case Fault::Garbage: {
                std::mt19937 random(7);
                std::vector<uint8_t> noise(1024);
                for (int i = 0; i < 64 && !server.Stopping(); ++i) {
                    for (auto& b : noise) b = static_cast<uint8_t>(random());
                    if (!LoopbackServer::SendAll(static_cast<LoopbackServer::Socket>(socket),
                                                 noise.data(), noise.size()))
                        return;
                }
                break;
            }
            case Fault::Trickle: {
                for (std::size_t i = next; !server.Stopping(); ++i) {
                    const Packet& p = Packets()[i % Packets().size()];
                    for (uint8_t byte : p) {
                        if (server.Stopping() ||
                            !LoopbackServer::SendAll(static_cast<LoopbackServer::Socket>(socket),
                                                     &byte, 1))
                            return;
                        std::this_thread::sleep_for(std::chrono::microseconds(500));
                    }
                }
                return;
            }
            case Fault::Stall:
                break;
        }
        while (!server.Stopping()) std::this_thread::sleep_for(milliseconds(5));
    }

    std::string segment;
    LoopbackServer server;
    std::atomic<bool> faultNow{false};
};

TEST_P(FaultMatrixTest, HostSeesTheFaultStopsPromptlyAndKeepsAValidSegment) {
    const Row& row = GetParam();
    std::unique_ptr<FullListener> full;
    std::string uri = server.Uri();
    if (row.fault == Fault::SlowConnect && row.phase != Phase::MidStream) {
        full = std::make_unique<FullListener>();
        uri = full->Uri();
    } else if (row.fault == Fault::SlowConnect) {
        // Accepted only after 300 ms: the kernel completes the client's connect meanwhile, so
        // to the client this is a connection that stays silent before the data starts.
        server.Serve([&](LoopbackServer::Socket socket) {
            std::this_thread::sleep_for(milliseconds(300));
            Session(static_cast<int>(socket), row);
        });
    } else {
        server.Serve(
            [&](LoopbackServer::Socket socket) { Session(static_cast<int>(socket), row); });
    }

    ASSERT_EQ(StartServerStream("cam", uri.c_str()), KESTO_S_OK);
    SaveVideoSegmentRawToDisk(segment.c_str(), 60000);

    if (!row.oneOf.empty()) {
        EXPECT_TRUE(WaitFor([&](const std::vector<LoggedMessage>& all) {
            return std::any_of(all.begin(), all.end(),
                               [&](const LoggedMessage& m) { return MatchesAny(m, row.oneOf); });
        })) << Describe();
    } else if (row.phase == Phase::DuringStop && row.fault != Fault::SlowConnect) {
        EXPECT_TRUE(PollUntil([] { return GetStreamStat("cam", "bps") > 0; })) << Describe();
        std::this_thread::sleep_for(milliseconds(150));
    } else {
        std::this_thread::sleep_for(milliseconds(row.phase == Phase::AtConnect ? 300 : 500));
    }

    faultNow.store(true);
    const auto start = Clock::now();
    EXPECT_EQ(StopServerStream("cam"), KESTO_S_OK);
    const auto took = Clock::now() - start;
    MarkStopped(true);
    EXPECT_LT(took, milliseconds(500))
        << std::chrono::duration_cast<milliseconds>(took).count() << " ms";

    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(LateCallbacks(), 0) << "callbacks after StopServerStream returned";
    MarkStopped(false);

    for (const LoggedMessage& m : Messages()) {
        const bool known =
            IsStartUpMessage(m) || MatchesAny(m, row.oneOf) || MatchesAny(m, row.allowed);
        EXPECT_TRUE(known) << "unexpected [" << m.code << "] " << m.text;
    }
    EXPECT_TRUE(HasMessage(KESTO_MESSAGE_STATUS, "Stream started"));

    std::size_t recorded = 0;
    EXPECT_EQ(CheckRecordingPair(segment, &recorded), "");
    if (row.segmentHasData) {
        EXPECT_GT(recorded, 0u) << "the segment should have been open";
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrixTest, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& rowInfo) {
                             return std::string(rowInfo.param.name);
                         });

}  // namespace
}  // namespace kesto::test
