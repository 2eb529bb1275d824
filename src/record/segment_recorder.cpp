#include "record/segment_recorder.h"

#include "messages/message_channel.h"
#include "platform/clock.h"
#include "record/recording_format.h"

namespace kesto {

bool OpensWithSequenceParameterSet(const uint8_t* data, int size) {
    return data != nullptr && size >= 5 && data[0] == 0 && data[1] == 0 && data[2] == 0 &&
           data[3] == 1 && (data[4] & 0x1F) == 7;
}

SegmentRecorder::SegmentRecorder(uint32_t limit, Clock steadyClock)
    : maxSegmentBytes(limit),
      clock(steadyClock != nullptr ? steadyClock : &platform::SteadyTimeNs) {}

void SegmentRecorder::RequestSegment(platform::HostPath fileName, int32_t durationMs) {
    {
        std::lock_guard<std::mutex> guard(nameLock);
        segmentFileName = std::move(fileName);
    }
    segmentDurationMs.exchange(durationMs);
}

bool SegmentRecorder::OpenSegmentFiles() {
    platform::HostPath raw;
    {
        std::lock_guard<std::mutex> guard(nameLock);
        raw = segmentFileName;
    }
    const std::string& rawName = raw.text;
    const std::string sidecarName = SidecarFileName(rawName);
    const auto mode = std::ios::binary | std::ios::out | std::ios::trunc;
    // An open that merely fails (missing folder, no permission) is silent; only an error
    // raised by the stream or string layer is worth a message.
    try {
        rawFile.open(platform::NativePath(raw), mode);
    } catch (const std::exception& e) {
        ReportMessage(MessageCode::Info,
                      "Unable to open log file '" + rawName + "' because: " + e.what());
    }
    try {
        sizesFile.open(platform::NativePath({sidecarName, raw.encoding}), mode);
    } catch (const std::exception& e) {
        if (rawFile.is_open()) rawFile.close();
        ReportMessage(MessageCode::Info,
                      "Unable to open log file '" + sidecarName + "' because: " + e.what());
    }
    return rawFile.is_open() && sizesFile.is_open();
}

void SegmentRecorder::EndSegment() noexcept {
    try {
        if (rawFile.is_open()) rawFile.close();
        if (sizesFile.is_open()) sizesFile.close();
    } catch (...) {
        // Closing failed: nothing more can be saved of this segment.
    }
    segmentBytes = 0;
    segmentDurationMs.store(0);
    recording = false;
    segmentStarted = false;
}

void SegmentRecorder::RecordRequestedPacket(const uint8_t* data, int size) noexcept {
    try {
        if (segmentDurationMs.load() != 0 && !recording) {
            if (OpenSegmentFiles()) {
                recording = true;
                segmentBytes = 0;
            } else {
                EndSegment();  // the request is dropped
            }
        }
        if (!recording) return;
        if (!segmentStarted) {
            if (!OpensWithSequenceParameterSet(data, size)) return;
            segmentStarted = true;
            segmentStart = clock();
        }

        rawFile.write(reinterpret_cast<const char*>(data), size);
        unsigned char record[4];
        EncodeSidecarRecord(static_cast<uint32_t>(size), record);
        sizesFile.write(reinterpret_cast<const char*>(record), sizeof record);
        segmentBytes += static_cast<uint32_t>(size);

        // The packet that meets the end test belongs to the segment.
        const auto elapsedMs = static_cast<int32_t>((clock() - segmentStart) / 1000000);
        if (elapsedMs < segmentDurationMs.load() && segmentBytes <= maxSegmentBytes) return;
        EndSegment();
    } catch (const std::exception& e) {
        ReportMessage(MessageCode::Info,
                      std::string("Unable to write to log file because: ") + e.what());
        EndSegment();
    } catch (...) {
        ReportMessage(MessageCode::Info, "Unable to write to log file because: unknown error");
        EndSegment();
    }
}

}  // namespace kesto
