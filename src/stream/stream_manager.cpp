#include "stream/stream_manager.h"

#include <system_error>

#include "decoder/decoder_library.h"
#include "decoder/decoder_sink.h"
#include "messages/message_channel.h"

namespace kesto {

WorkerThread::~WorkerThread() = default;  // a thread still held here is detached

void WorkerThread::StartIfNone(std::function<void()> body) {
    if (thread != nullptr) return;
    // The new thread waits until its thread object is stored: a host callback on the worker
    // that stops the stream must find it, so that the self-join is refused instead of the
    // manager being destroyed under its own worker.
    std::lock_guard<std::mutex> guard(startLock);
    thread = std::make_unique<platform::Thread>([this, run = std::move(body)] {
        { std::lock_guard<std::mutex> started(startLock); }
        run();
    });
}

void WorkerThread::JoinAndRelease() {
    if (thread == nullptr) return;
    if (thread->IsCurrent()) {
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur));
    }
    thread->Join();
    thread.reset();
}

bool WorkerThread::ReleaseForUnload(unsigned timeoutMs) {
    if (thread == nullptr) return true;
    if (!thread->ReleaseForUnload(timeoutMs)) return false;
    thread.reset();
    return true;
}

IStreamManager::IStreamManager(std::string uriValue, std::string streamNameValue,
                               uint32_t maxSegmentBytes)
    : uri(std::move(uriValue)), streamName(std::move(streamNameValue)), recorder(maxSegmentBytes) {}

IStreamManager::~IStreamManager() = default;

void IStreamManager::RequestSegment(platform::HostPath fileName, int32_t durationMs) {
    recorder.RequestSegment(std::move(fileName), durationMs);
}

void IStreamManager::BindDecoderEarly() noexcept {
    try {
        EnsureDecoderBinding();
    } catch (...) {
    }
}

void IStreamManager::DeliverChunk(DecoderSink& sink, const uint8_t* data, int size) {
    recorder.RecordPacket(data, size);
    sink.processData(data, size);
}

void IStreamManager::RunWorker(const std::function<void()>& loop) noexcept {
    try {
        loop();
    } catch (const std::exception& e) {
        ReportMessage(MessageCode::Exception, e.what());
    } catch (...) {
        ReportMessage(MessageCode::Exception, "unknown exception in stream worker");
    }
}

}  // namespace kesto
