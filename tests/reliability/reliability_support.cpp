#include "reliability_support.h"

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "kesto/video_client.h"
#include "message_log.h"
#include "streamgen.h"
#include "test_platform.h"

namespace kesto::test {

namespace {
std::atomic<bool> stoppedFlag{false};
std::atomic<int> lateCalls{0};

void KESTO_CALL GuardedMessage(int32_t code, const char* text, int64_t timeMs) {
    if (stoppedFlag.load()) lateCalls.fetch_add(1);
    RecordMessage(code, text, timeMs);
}

void KESTO_CALL GuardedAzimuth(double) {
    if (stoppedFlag.load()) lateCalls.fetch_add(1);
}

std::vector<uint8_t> ReadAll(const std::string& path, bool& exists) {
    std::ifstream file(path, std::ios::binary);
    exists = static_cast<bool>(file);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
}

// What Winsock and POSIX sockets spell differently. Winsock is started by the LoopbackServer
// that every caller has made first.
#if defined(_WIN32)
using Native = SOCKET;
void CloseNative(Socket socket) {
    ::closesocket(static_cast<Native>(socket));
}
Native NonBlockingSocket() {
    const Native socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
    return socket;
}
int Poll(pollfd* entry, int timeoutMs) {
    return ::WSAPoll(entry, 1, timeoutMs);
}
#else
using Native = int;
void CloseNative(Socket socket) {
    ::close(static_cast<Native>(socket));
}
Native NonBlockingSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}
int Poll(pollfd* entry, int timeoutMs) {
    return ::poll(entry, 1, timeoutMs);
}
#endif

bool WaitWritable(Socket socket, int timeoutMs) {
    pollfd waiting{static_cast<Native>(socket), POLLOUT, 0};
    return Poll(&waiting, timeoutMs) == 1;
}
template <typename T>
void SetOption(Socket socket, int level, int name, const T& value) {
    ::setsockopt(static_cast<Native>(socket), level, name, reinterpret_cast<const char*>(&value),
                 sizeof value);
}
// Connects to 127.0.0.1:port without waiting for the connection.
Socket StartConnect(uint16_t port) {
    const Native socket = NonBlockingSocket();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    ::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return static_cast<Socket>(socket);
}
}  // namespace

std::vector<Packet> GeneratePackets(int count, int side, int gop) {
    streamgen::GeneratorOptions options;
    options.side = side;
    options.gop = gop;
    streamgen::StreamGenerator generator(options);
    std::vector<Packet> packets;
    for (int i = 0; i < count; ++i)
        packets.push_back(generator.NextFrame(0.01f * static_cast<float>(i)));
    return packets;
}

void ServeLoop(LoopbackServer& server, const std::vector<Packet>& packets,
               std::chrono::milliseconds period) {
    server.Serve([&server, &packets, period](Socket socket) {
        while (server.SendPackets(socket, packets, static_cast<int>(period.count()))) {
        }
    });
}

std::string CheckRecordingPair(const std::string& raw, std::size_t* rawSize) {
    bool rawExists = false, sidecarExists = false;
    const std::vector<uint8_t> bytes = ReadAll(raw, rawExists);
    const std::vector<uint8_t> sidecar = ReadAll(Sidecar(raw), sidecarExists);
    if (rawSize != nullptr) *rawSize = bytes.size();
    if (!rawExists && !sidecarExists) return "";
    if (rawExists != sidecarExists) return "only one file of the pair exists";
    if (sidecar.size() % 4 != 0) return "sidecar ends in a partial record";
    uint64_t sum = 0;
    for (std::size_t i = 0; i < sidecar.size(); i += 4) {
        sum += sidecar[i] | sidecar[i + 1] << 8 | sidecar[i + 2] << 16 |
               static_cast<uint64_t>(sidecar[i + 3]) << 24;
    }
    if (sum != bytes.size()) {
        return "sidecar records add up to " + std::to_string(sum) + ", raw file has " +
               std::to_string(bytes.size());
    }
    if (!bytes.empty() && (bytes.size() < 5 || bytes[0] != 0 || bytes[1] != 0 || bytes[2] != 0 ||
                           bytes[3] != 1 || (bytes[4] & 0x1F) != 7)) {
        return "raw file does not begin with a sequence parameter set";
    }
    return "";
}

std::string Sidecar(const std::string& raw) {
    return raw.substr(0, raw.size() - 4) + "_pkt_sizes.bin";
}

void RemovePair(const std::string& raw) {
    std::remove(raw.c_str());
    std::remove(Sidecar(raw).c_str());
}

bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool Receiving(const char* stream) {
    return PollUntil([stream] { return GetStreamStat(stream, "bps") > 0; });
}

void ReliabilityTest::SetUp() {
    SetDecoderLibrarySetting(decoderPath);
    SetCallbackFunc(&GuardedMessage);
    SetAzCallbackFunc(&GuardedAzimuth);
    MarkStopped(false);
    ClearLog();
}

void ReliabilityTest::TearDown() {
    MarkStopped(false);
    SetCallbackFunc(&GuardedMessage);
    DestroyClient();
}

void ReliabilityTest::MarkStopped(bool stopped) {
    stoppedFlag.store(stopped);
}

int ReliabilityTest::LateCallbacks() {
    return lateCalls.load();
}

bool UnderWine() {
#if defined(_WIN32)
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

void SetNoDelay(Socket socket) {
    SetOption(socket, IPPROTO_TCP, TCP_NODELAY, 1);
}

void ResetOnClose(Socket socket) {
    const linger abortive{1, 0};
    SetOption(socket, SOL_SOCKET, SO_LINGER, abortive);
}

int ConnectionResetError() {
#if defined(_WIN32)
    return WSAECONNRESET;
#else
    return ECONNRESET;
#endif
}

void ConnectAndClose(uint16_t port) {
    const Socket socket = StartConnect(port);
    WaitWritable(socket, 1000);
    CloseNative(socket);
}

FullListener::FullListener() {
    // Fills the accept queue with connections of our own until one no longer completes.
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(StartConnect(server.Port()));
        if (!WaitWritable(fillers.back(), 200)) return;  // this one waits: the queue is full
    }
    ADD_FAILURE() << "every connection to a listener with a queue of one was taken";
}

FullListener::~FullListener() {
    for (Socket socket : fillers) CloseNative(socket);
}

}  // namespace kesto::test
