// IStreamManager: one source of compressed video. A manager owns one worker thread that takes
// the stream's bytes chunk by chunk and hands each chunk to a decoder sink.
//
// Threads: the host's stream thread constructs, starts, stops and destroys a manager (the
// host serialises these calls); the worker thread runs the source's loop. `stopRequested` is
// the only field both touch while both run.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/thread.h"
#include "record/segment_recorder.h"

namespace kesto {

class DecoderSink;

// The heap-allocated worker thread of a manager; null when there is none.
class WorkerThread {
  public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();

    // Starts body on a new thread unless one is held. Thread creation failure throws
    // std::system_error (resource unavailable, try again) and leaves no thread.
    void StartIfNone(std::function<void()> body);
    // Joins and discards the thread, if any. Joining from the worker itself throws
    // std::system_error (resource deadlock would occur) and keeps the thread object.
    void JoinAndRelease();
    // The library's unload: see platform::Thread::ReleaseForUnload. True when there is no
    // thread (any more); false when it is still inside the library after `timeoutMs`.
    bool ReleaseForUnload(unsigned timeoutMs);
    bool Exists() const { return thread != nullptr; }

  private:
    std::unique_ptr<platform::Thread> thread;
    std::mutex startLock;  // held by the starting thread until `thread` is stored
};

class IStreamManager {
  public:
    // `maxSegmentBytes` is the recorder's byte limit (kMaxSegmentBytes in both sources).
    IStreamManager(std::string uri, std::string streamName, uint32_t maxSegmentBytes);
    IStreamManager(const IStreamManager&) = delete;
    IStreamManager& operator=(const IStreamManager&) = delete;
    virtual ~IStreamManager();

    virtual void Start() = 0;
    // Raises the stop flag and joins the worker; bounded even when the source is waiting.
    virtual void Stop() = 0;
    virtual void Close() = 0;
    // true while the manager holds a worker thread, also one that has ended on its own.
    virtual bool IsRunning() const = 0;
    virtual std::string GetType() const = 0;
    virtual const std::string& GetUri() const { return uri; }
    virtual const std::string& GetStreamName() const { return streamName; }
    // Both sources accept the value and ignore it: the azimuth comes from the stream.
    virtual void SetCurrentAzimuth(double azimuth) = 0;
    // The host unloads the library with this stream running; the loader's lock is held, so the
    // worker cannot be joined (Windows) nor load anything (both). Ends every wait of the worker
    // that Stop ends, and the file source's start delay as well, then waits at most
    // `timeoutMs` until the worker has left the library's code. False when it has not: the
    // manager must then stay as it is, since the worker still uses it.
    virtual bool EndForUnload(unsigned timeoutMs) = 0;
    // Asks the recorder for a raw segment; see SegmentRecorder. Host thread.
    virtual void RequestSegment(platform::HostPath fileName, int32_t durationMs);

  protected:
    // Binds the decoder library on the calling (host) thread, so that the worker does not
    // load it, unless binding fails: a worker inside the system loader when the host unloads
    // the library would wait for the loader's lock as long as the unload waits for it. A
    // failure is left for the worker's sink to meet and report as before.
    static void BindDecoderEarly() noexcept;
    // One chunk of the stream, in stream order, from the worker thread: recorded (when a
    // segment is wanted), then decoded.
    void DeliverChunk(DecoderSink& sink, const uint8_t* data, int size);
    // Runs a worker loop; a standard exception that escapes it is reported as Exception with
    // its own text. Whatever the loop holds must be released by its own destructors.
    static void RunWorker(const std::function<void()>& loop) noexcept;

    const std::string uri;
    const std::string streamName;
    // Destroyed after the source's destructor has joined the worker, which closes any open
    // segment files complete up to their last packet.
    SegmentRecorder recorder;
};

}  // namespace kesto
