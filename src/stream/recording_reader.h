// Cutting a recording into the packets its sidecar lists. Pure logic: the playback loop owns
// the bytes, this only says where each chunk lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_system.h"

namespace kesto {

// Chunk length used when a recording has no sidecar.
inline constexpr std::size_t kUnframedChunkSize = 32768;

struct RecordingChunk {
    std::size_t offset;
    std::size_t length;
    // A whole pass over the sidecar (or one unframed chunk) produced no bytes: the caller
    // should pause instead of spinning over an empty or all-empty recording.
    bool idle;
};

// Walks the buffer in an endless loop. The read position never moves backwards except when
// it wraps to the start at the end of the buffer, and never leaves the buffer. The record
// index wraps by its own count, so a sidecar that does not match the buffer drifts.
class PacketCursor {
  public:
    PacketCursor(std::size_t bufferSize, std::vector<int32_t> records);
    RecordingChunk Next();

  private:
    std::size_t bufferSize;
    std::vector<int32_t> records;
    std::size_t position = 0;
    std::size_t recordIndex = 0;
    std::size_t bytesThisPass = 0;
};

// Reads a sidecar's records (4-byte little-endian each; an incomplete last record is ignored).
// A sidecar that cannot be opened gives no records.
std::vector<int32_t> ReadSidecarRecords(const platform::HostPath& sidecarPath);

}  // namespace kesto
