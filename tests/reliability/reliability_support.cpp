#include "reliability_support.h"

#include <fstream>
#include <iterator>
#include <thread>

#include "kesto/video_client.h"
#include "message_log.h"
#include "streamgen.h"

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
    server.Serve([&server, &packets, period](LoopbackServer::Socket socket) {
        for (std::size_t i = 0; !server.Stopping(); ++i) {
            const Packet& p = packets[i % packets.size()];
            if (!LoopbackServer::SendAll(socket, p.data(), p.size())) return;
            std::this_thread::sleep_for(period);
        }
    });
}

std::string CheckRecordingPair(const std::string& raw, std::size_t* rawSize) {
    bool rawExists = false, sidecarExists = false;
    const std::vector<uint8_t> bytes = ReadAll(raw, rawExists);
    const std::vector<uint8_t> sidecar =
        ReadAll(raw.substr(0, raw.size() - 4) + "_pkt_sizes.bin", sidecarExists);
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

bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void InstallGuardedCallbacks() {
    SetCallbackFunc(&GuardedMessage);
    SetAzCallbackFunc(&GuardedAzimuth);
}

void MarkStopped(bool stopped) {
    stoppedFlag.store(stopped);
}

int LateCallbacks() {
    return lateCalls.load();
}

}  // namespace kesto::test
