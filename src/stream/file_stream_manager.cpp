#include "stream/file_stream_manager.h"

#include <chrono>
#include <cstdint>
#include <fstream>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

#include "decoder/decoder_sink.h"
#include "messages/message_channel.h"
#include "platform/file_system.h"
#include "record/recording_format.h"
#include "stream/recording_reader.h"
#include "stream/stream_uri.h"

namespace kesto {

namespace {
constexpr const char* kUnableToReadFullFile = "File video stream: unable to read full file";

// The whole raw stream file in memory, or nothing after reporting why.
std::optional<std::vector<uint8_t>> ReadWholeFile(const platform::HostPath& path) {
    std::ifstream file(platform::NativePath(path), std::ios::binary);
    // A file that vanished since construction, or one too large for a 32-bit length, is
    // reported like a short read.
    if (!file) {
        ReportMessage(MessageCode::Error, kUnableToReadFullFile);
        return std::nullopt;
    }
    file.seekg(0, std::ios::end);
    const std::streamoff length = file.tellg();
    file.seekg(0, std::ios::beg);
    if (length < 0 || length > std::numeric_limits<int32_t>::max()) {
        ReportMessage(MessageCode::Error, kUnableToReadFullFile);
        return std::nullopt;
    }
    std::vector<uint8_t> buffer;
    try {
        buffer.resize(static_cast<std::size_t>(length));
    } catch (const std::bad_alloc&) {
        ReportMessage(MessageCode::Error, "File video stream: memory allocation error");
        return std::nullopt;
    }
    file.read(reinterpret_cast<char*>(buffer.data()), length);
    if (file.gcount() < length) {
        ReportMessage(MessageCode::Error, kUnableToReadFullFile);
        return std::nullopt;
    }
    return buffer;
}
}  // namespace

CFileStreamManager::CFileStreamManager(std::string uriValue, std::string streamNameValue,
                                       platform::PathEncoding encoding)
    : IStreamManager(std::move(uriValue), std::move(streamNameValue), kMaxSegmentBytes),
      filePath(FilePathFromUri(uri, platform::PathSeparator()), encoding) {
    if (!platform::IsExistingFile(filePath)) {
        throw std::logic_error("invalid filename specified in uri");
    }
}

CFileStreamManager::~CFileStreamManager() {
    Stop();
}

void CFileStreamManager::Start() {
    BindDecoderEarly();
    playbackThread.StartIfNone([this] { PlaybackLoop(); });
}

bool CFileStreamManager::EndForUnload(unsigned timeoutMs) {
    stopRequested.exchange(true);
    {
        std::lock_guard<std::mutex> guard(delayLock);
        unloading = true;
    }
    delayCut.notify_all();
    return playbackThread.ReleaseForUnload(timeoutMs);
}

void CFileStreamManager::Stop() {
    stopRequested.exchange(true);
    playbackThread.JoinAndRelease();
}

void CFileStreamManager::PlaybackLoop() {
    RunWorker([this] {
        // A stop during the start delay waits for the delay, the read and the decoder's
        // start-up and shut-down; only the library's unload cuts the delay short.
        {
            std::unique_lock<std::mutex> guard(delayLock);
            delayCut.wait_for(guard, std::chrono::milliseconds(kStartDelayMs),
                              [this] { return unloading; });
            if (unloading) return;
        }

        std::optional<std::vector<uint8_t>> buffer = ReadWholeFile(filePath);
        if (!buffer) return;
        PacketCursor cursor(buffer->size(), ReadSidecarRecords({SidecarFileName(filePath.text),
                                                                filePath.encoding}));

        auto sink = std::make_unique<DecoderSink>(streamName);
        sink->framePauseMs = kFramePauseMs;

        while (!stopRequested.load()) {
            const RecordingChunk chunk = cursor.Next();
            DeliverChunk(*sink, buffer->data() + chunk.offset, static_cast<int>(chunk.length));
            if (chunk.idle) {
                std::this_thread::sleep_for(std::chrono::milliseconds(kFramePauseMs));
            }
        }
        sink.reset();
    });
}

}  // namespace kesto
