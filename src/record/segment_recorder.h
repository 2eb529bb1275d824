// The raw segment recorder of a stream manager: on request it writes the packets a source
// receives, exactly as received, to a raw stream file and its packet-size sidecar. A segment
// begins at the first packet that opens with a sequence parameter set and ends with the first
// packet written after the requested time, or the one that passes the byte limit.
//
// Threads: RequestSegment runs on a host thread; RecordPacket and all file work run on the
// stream's worker thread. `segmentDurationMs` is the one field both touch without a lock: the
// host stores the name first, then exchanges the duration, which publishes the name. The
// name itself is guarded by `nameLock`, because a second request may replace it while the
// worker copies it to open the files.
#pragma once

#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/file_system.h"

namespace kesto {

// Byte limit of one segment in the stream sources.
inline constexpr uint32_t kMaxSegmentBytes = 134217728;

class SegmentRecorder {
  public:
    using Clock = int64_t (*)();  // steady-clock nanoseconds

    explicit SegmentRecorder(uint32_t maxSegmentBytes, Clock clock = nullptr);
    SegmentRecorder(const SegmentRecorder&) = delete;
    SegmentRecorder& operator=(const SegmentRecorder&) = delete;
    // Closes open segment files: the pair is complete up to its last packet.
    ~SegmentRecorder() = default;

    // Asks for a segment of `durationMs` (0: no request; negative: one packet). During a
    // segment only the duration changes. Host thread; never fails, opens nothing.
    void RequestSegment(platform::HostPath fileName, int32_t durationMs);
    // Passes one packet through the recorder. Worker thread; reports its failures as messages
    // and never throws. Idle (no request, no segment open) it costs the two tests here, inline
    // in the worker's loop: the call itself would cost more than they do.
    void RecordPacket(const uint8_t* data, int size) noexcept {
        if (!recording && segmentDurationMs.load() == 0) return;
        RecordRequestedPacket(data, size);
    }

    bool Recording() const { return recording; }

  private:
    void RecordRequestedPacket(const uint8_t* data, int size) noexcept;
    bool OpenSegmentFiles();
    void EndSegment() noexcept;

    // -- protected by nameLock
    platform::HostPath segmentFileName;
    std::mutex nameLock;
    // -- atomic, shared by host and worker
    std::atomic<int32_t> segmentDurationMs{0};
    // -- worker thread only
    std::ofstream rawFile;
    std::ofstream sizesFile;
    int64_t segmentStart = 0;
    bool recording = false;
    uint32_t segmentBytes = 0;
    bool segmentStarted = false;
    const uint32_t maxSegmentBytes;
    const Clock clock;
};

// true when a packet can open a segment: 00 00 00 01 followed by a sequence parameter set's
// NAL header. Only the first five bytes are looked at.
bool OpensWithSequenceParameterSet(const uint8_t* data, int size);

}  // namespace kesto
