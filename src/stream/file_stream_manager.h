// CFileStreamManager: plays a recording pair (raw stream file and packet-size sidecar) in an
// endless loop through the same decoding path as a live stream. Playback is paced by the
// decoder sink's pause after every frame, not by the recording's own timing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

#include "platform/file_system.h"
#include "stream/stream_manager.h"

namespace kesto {

class CFileStreamManager final : public IStreamManager {
  public:
    // Derives the local path from the URI, which is in `encoding`; throws std::logic_error
    // "invalid filename specified in uri" when it names no existing file.
    CFileStreamManager(std::string uri, std::string streamName,
                       platform::PathEncoding encoding = platform::PathEncoding::Ansi);
    ~CFileStreamManager() override;

    // A second Start() while a thread is held is ignored.
    void Start() override;
    void Stop() override;
    void Close() override { Stop(); }
    bool IsRunning() const override { return playbackThread.Exists(); }
    std::string GetType() const override { return "file"; }
    void SetCurrentAzimuth(double) override {}
    bool EndForUnload(unsigned timeoutMs) override;

    const std::string& FilePath() const { return filePath.text; }

    static constexpr unsigned kStartDelayMs = 2000;
    static constexpr unsigned kFramePauseMs = 30;

  private:
    void PlaybackLoop();

    platform::HostPath filePath;
    WorkerThread playbackThread;             // host side only
    std::atomic<bool> stopRequested{false};  // written by Stop(), read by the worker per chunk

    // -- protected by delayLock: set by EndForUnload only. A stop waits out the start delay;
    // an unload cannot (it must return within its bound) and cuts the delay short.
    std::mutex delayLock;
    std::condition_variable delayCut;
    bool unloading = false;
};

}  // namespace kesto
