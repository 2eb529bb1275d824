// The client session exports: callbacks, the one stream of the process, statistics.
//
// `currentStreamManager` has no lock: the host calls the stream exports (StartServerStream,
// StopServerStream, SetCurrentAzimuth, DestroyClient) from one thread at a time.
#include <memory>
#include <stdexcept>
#include <string>

#include "api/client_session.h"
#include "api/export_guard.h"
#include "decoder/stream_stats.h"
#include "kesto/video_client.h"
#include "messages/message_channel.h"
#include "platform/file_system.h"
#include "platform/library_unload.h"
#include "stream/file_stream_manager.h"
#include "stream/stream_uri.h"
#include "stream/tcp_stream_manager.h"

using namespace kesto;

namespace {

platform::LeftAtProcessExit<std::unique_ptr<IStreamManager>> currentStreamManager;

// A host that unloads the library (FreeLibrary, dlclose) without DestroyClient leaves its
// stream running. The unload runs under the system loader's lock, which a worker needs to end
// its thread (Windows) and to load anything (both targets): the manager's destructor, which
// joins, would wait for ever. So, before the global destructors run (platform/library_unload.h):
// the callbacks are switched off, so that nothing reaches the host once the unload returns,
// and the manager ends its worker's waits and waits, bounded, until the worker has left the
// library's code (platform/thread.h says how each target knows). Only then is it destroyed.
// A worker that does not leave in time (stuck inside a host callback) keeps its manager,
// which is given up rather than destroyed under it.
constexpr unsigned kUnloadWaitMs = 900;

void EndStreamAtUnload() noexcept {
    SetMessageCallback(nullptr);
    SetAzimuthCallback(nullptr);
    if (!currentStreamManager) return;
    try {
        if (currentStreamManager->EndForUnload(kUnloadWaitMs)) {
            currentStreamManager.reset();
        } else {
            static_cast<void>(currentStreamManager.release());
        }
    } catch (...) {
        static_cast<void>(currentStreamManager.release());
    }
}

// Registered for as long as this file's globals exist: at exit() the C++ destructors may run
// before the platform's unload notice, which must then find nothing to do.
struct UnloadHandlerRegistration {
    UnloadHandlerRegistration() { platform::SetLibraryUnloadHandler(&EndStreamAtUnload); }
    ~UnloadHandlerRegistration() { platform::SetLibraryUnloadHandler(nullptr); }
    UnloadHandlerRegistration(const UnloadHandlerRegistration&) = delete;
    UnloadHandlerRegistration& operator=(const UnloadHandlerRegistration&) = delete;
} unloadHandlerRegistration;

// Stops, closes and destroys the current manager. If Stop or Close throws (called on the
// worker thread itself), the manager stays in place.
void EndCurrentStream() {
    if (!currentStreamManager) return;
    currentStreamManager->Stop();
    currentStreamManager->Close();
    std::unique_ptr<IStreamManager> ended = std::move(currentStreamManager);
    ended.reset();
}

std::unique_ptr<IStreamManager> MakeStreamManager(const std::string& scheme, const std::string& uri,
                                                  const std::string& streamName,
                                                  platform::PathEncoding encoding) {
    if (scheme == "tcp") return std::make_unique<CTcpStreamManager>(uri, streamName);
    if (scheme == "file") return std::make_unique<CFileStreamManager>(uri, streamName, encoding);
    throw std::logic_error("Unknown stream prefix type");
}

// StartServerStream and its UTF-8 companion: the encoding only matters to a file URI's path.
int32_t StartStream(const char* streamName, const char* uri, platform::PathEncoding encoding) {
    return GuardExport<int32_t>(
        MessageCode::Exception, "Error starting stream: ", KESTO_E_FAIL, [&]() -> int32_t {
            if (uri == nullptr) throw std::logic_error("uri cannot be null");
            if (streamName == nullptr) throw std::logic_error("streamName cannot be null");
            const std::string uriText(uri);
            const std::optional<std::string> scheme = StreamScheme(uriText);
            if (!scheme) return KESTO_E_INVALIDARG;

            // The running stream ends even when the new URI turns out to be unusable.
            EndCurrentStream();
            currentStreamManager = MakeStreamManager(*scheme, uriText, streamName, encoding);
            currentStreamManager->Start();
            ReportMessage(MessageCode::Status, "Stream started");
            return KESTO_S_OK;
        });
}

}  // namespace

IStreamManager* kesto::CurrentStreamManager() {
    return currentStreamManager.get();
}

extern "C" {

KESTO_API int32_t KESTO_CALL SetCallbackFunc(KestoMessageCallback callback) {
    SetMessageCallback(callback);
    return KESTO_S_OK;
}

KESTO_API int32_t KESTO_CALL SetAzCallbackFunc(KestoAzimuthCallback callback) {
    SetAzimuthCallback(callback);
    return KESTO_S_OK;
}

KESTO_API int32_t KESTO_CALL StartServerStream(const char* streamName, const char* uri) {
    return StartStream(streamName, uri, platform::PathEncoding::Ansi);
}

KESTO_API int32_t KESTO_CALL StartServerStreamUtf8(const char* streamName, const char* uri) {
    return StartStream(streamName, uri, platform::PathEncoding::Utf8);
}

KESTO_API int32_t KESTO_CALL StopServerStream(const char* streamName) {
    if (streamName == nullptr) return KESTO_E_INVALIDARG;
    return GuardExport<int32_t>(MessageCode::Error, "Error stopping stream: ", KESTO_E_FAIL, [] {
        EndCurrentStream();
        return KESTO_S_OK;
    });
}

KESTO_API void KESTO_CALL SetCurrentAzimuth(double azimuth) {
    GuardExport(MessageCode::Error, "Error setting azimuth: ", [&] {
        if (currentStreamManager) currentStreamManager->SetCurrentAzimuth(azimuth);
    });
}

KESTO_API void KESTO_CALL DestroyClient(void) {
    // Reports nothing, as the callback setters do. Called from a callback on the worker
    // thread, the stop fails (the worker cannot join itself) after raising the worker's stop
    // flag: the manager and the statistics stay, idle, for the host's own thread to end.
    GuardExportSilently(0, [] {
        EndCurrentStream();
        StreamStatsRegistry::Destroy();
        return 0;
    });
}

}  // extern "C"
