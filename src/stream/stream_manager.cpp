#include "stream/stream_manager.h"

#include <system_error>

#include "api/message_channel.h"
#include "decoder/decoder_sink.h"

namespace kesto {

WorkerThread::~WorkerThread() {
    // The owning manager joins before it is destroyed; a thread still here would terminate the
    // process in std::thread's destructor, so detach it as the lesser harm.
    if (thread != nullptr && thread->joinable()) thread->detach();
}

void WorkerThread::StartIfNone(std::function<void()> body) {
    if (thread != nullptr) return;
    // The new thread waits until its thread object is stored: a host callback on the worker
    // that stops the stream must find it, so that the self-join is refused instead of the
    // manager being destroyed under its own worker.
    std::lock_guard<std::mutex> guard(startLock);
    thread = std::make_unique<std::thread>([this, run = std::move(body)] {
        { std::lock_guard<std::mutex> started(startLock); }
        run();
    });
}

void WorkerThread::JoinAndRelease() {
    if (thread == nullptr) return;
    if (thread->joinable()) thread->join();
    thread.reset();
}

IStreamManager::IStreamManager(std::string uriValue, std::string streamNameValue)
    : uri(std::move(uriValue)), streamName(std::move(streamNameValue)) {}

IStreamManager::~IStreamManager() = default;

void IStreamManager::DeliverChunk(DecoderSink& sink, const uint8_t* data, int size) {
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
