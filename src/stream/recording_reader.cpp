#include "stream/recording_reader.h"

#include <algorithm>
#include <fstream>
#include <iterator>

#include "record/recording_format.h"

namespace kesto {

PacketCursor::PacketCursor(std::size_t size, std::vector<int32_t> sidecarRecords)
    : bufferSize(size), records(std::move(sidecarRecords)) {}

RecordingChunk PacketCursor::Next() {
    std::size_t wanted = kUnframedChunkSize;
    bool passEnds = true;
    if (!records.empty()) {
        const int32_t record = records[recordIndex];
        recordIndex = (recordIndex + 1) % records.size();
        passEnds = recordIndex == 0;
        // A negative length lies outside the format: it yields an empty chunk (skipped).
        wanted = record < 0 ? 0 : static_cast<std::size_t>(record);
    }
    const std::size_t length = std::min(wanted, bufferSize - position);
    RecordingChunk chunk{position, length, false};

    position += length;
    if (position >= bufferSize) position = 0;

    bytesThisPass += length;
    if (passEnds) {
        chunk.idle = bytesThisPass == 0;
        bytesThisPass = 0;
    }
    return chunk;
}

std::vector<int32_t> ReadSidecarRecords(const platform::HostPath& sidecarPath) {
    std::ifstream file(platform::NativePath(sidecarPath), std::ios::binary);
    std::vector<int32_t> records;
    if (!file) return records;
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)),
                                           std::istreambuf_iterator<char>());
    records.reserve(bytes.size() / 4);
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        records.push_back(DecodeSidecarRecord(&bytes[i]));
    }
    return records;
}

}  // namespace kesto
