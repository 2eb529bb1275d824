#include "recordings.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "streamgen.h"

namespace kesto::test {

namespace {
std::vector<uint8_t> ReadAll(const std::string& path, bool& exists) {
    std::ifstream file(path, std::ios::binary);
    exists = static_cast<bool>(file);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
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

std::string CheckRecordingPair(const std::string& raw, std::vector<Packet>* packets) {
    bool rawExists = false, sidecarExists = false;
    const std::vector<uint8_t> bytes = ReadAll(raw, rawExists);
    const std::vector<uint8_t> sidecar = ReadAll(Sidecar(raw), sidecarExists);
    if (!rawExists && !sidecarExists) return "";
    if (rawExists != sidecarExists) return "only one file of the pair exists";
    if (sidecar.size() % 4 != 0) return "sidecar ends in a partial record";
    std::size_t offset = 0;
    for (std::size_t i = 0; i < sidecar.size(); i += 4) {
        const std::size_t size = sidecar[i] | sidecar[i + 1] << 8 | sidecar[i + 2] << 16 |
                                 static_cast<std::size_t>(sidecar[i + 3]) << 24;
        if (size > bytes.size() - offset) return "sidecar records run past the raw file";
        if (packets != nullptr)
            packets->emplace_back(bytes.begin() + static_cast<long>(offset),
                                  bytes.begin() + static_cast<long>(offset + size));
        offset += size;
    }
    if (offset != bytes.size()) {
        return "sidecar records add up to " + std::to_string(offset) + ", raw file has " +
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

}  // namespace kesto::test
