// A recording pair is a file the host points us at; its sidecar may hold any 32-bit values
// (negative, zero, larger than the raw file) or end in a partial record. The cursor must keep
// every chunk inside the raw buffer whatever the sidecar says.
//
// Input: 2 bytes raw-file length (little-endian), 1 byte of flags, then the sidecar's bytes.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "stream/recording_reader.h"

namespace {
std::string SidecarPath() {
    return "/tmp/kesto_fuzz_sidecar_" + std::to_string(getpid()) + ".bin";
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const std::size_t rawSize = static_cast<std::size_t>(data[0] | (data[1] << 8));
    const bool noSidecar = (data[2] & 1) != 0;

    std::vector<int32_t> records;
    if (noSidecar) {
        records = kesto::ReadSidecarRecords(SidecarPath() + ".missing");
        if (!records.empty()) std::abort();
    } else {
        FILE* file = std::fopen(SidecarPath().c_str(), "wb");
        if (file == nullptr) return 0;
        std::fwrite(data + 3, 1, size - 3, file);
        std::fclose(file);
        records = kesto::ReadSidecarRecords(SidecarPath());
        if (records.size() != (size - 3) / 4) std::abort();
    }

    // The raw file's bytes, exactly as large as claimed, so that ASan sees any chunk that
    // strays past its end.
    std::vector<uint8_t> raw(rawSize, 0xA5);
    kesto::PacketCursor cursor(raw.size(), records);
    const std::size_t steps = 2 * records.size() + 4 < 4096 ? 2 * records.size() + 4 : 4096;
    std::size_t expected = 0;  // where the next chunk must start
    unsigned checksum = 0;
    for (std::size_t i = 0; i < steps; ++i) {
        const kesto::RecordingChunk chunk = cursor.Next();
        if (chunk.offset != expected) std::abort();
        if (chunk.offset + chunk.length > raw.size()) std::abort();
        if (chunk.length > 0) checksum += raw[chunk.offset] + raw[chunk.offset + chunk.length - 1];
        expected = chunk.offset + chunk.length >= raw.size() ? 0 : chunk.offset + chunk.length;
        if (chunk.idle && chunk.length != 0) std::abort();
    }
    if (checksum == 1) std::puts("");  // keeps the reads from being optimised away
    return 0;
}
