// Exports that hand a value or a request straight on to the part of the library that owns it:
// display values and snapshot requests to the display state, segment requests to the current
// stream's recorder, statistic queries to the statistics registry.
#include <string>

#include "api/client_session.h"
#include "api/export_guard.h"
#include "decoder/stream_stats.h"
#include "display/display_manager.h"
#include "kesto/video_client.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "stream/stream_manager.h"

using namespace kesto;

namespace {

// The path-taking exports and their UTF-8 companions differ only in the path's encoding.
void RequestSnapshot(const char* path, platform::PathEncoding encoding) {
    if (path == nullptr) return;
    GuardExportSilently(0, [&] {
        GetDisplayManager()->RequestSnapshot({path, encoding});
        return 0;
    });
}

void RequestSegment(const char* fileName, int32_t durationMs, platform::PathEncoding encoding) {
    GuardExportSilently(0, [&] {
        IStreamManager* manager = CurrentStreamManager();
        if (manager != nullptr && fileName != nullptr)
            manager->RequestSegment({fileName, encoding}, durationMs);
        return 0;
    });
}

}  // namespace

extern "C" {

KESTO_API void KESTO_CALL SetRotationOffset(double offset) {
    GuardExport(MessageCode::Error, "Error setting rotation offset: ", [&] {
        GetDisplayManager()->SetRotationOffset(offset);
    });
}

KESTO_API void KESTO_CALL SetCurrentZoomFactor(double zoomFactor) {
    GuardExport(MessageCode::Error, "Error setting zoom factor: ", [&] {
        GetDisplayManager()->SetZoomFactor(zoomFactor);
    });
}

KESTO_API void KESTO_CALL SaveVideoFrameRawToDisk(const char* path) {
    RequestSnapshot(path, platform::PathEncoding::Ansi);
}

KESTO_API void KESTO_CALL SaveVideoFrameRawToDiskUtf8(const char* path) {
    RequestSnapshot(path, platform::PathEncoding::Utf8);
}

KESTO_API void KESTO_CALL SaveVideoSegmentRawToDisk(const char* fileName, int32_t durationMs) {
    RequestSegment(fileName, durationMs, platform::PathEncoding::Ansi);
}

KESTO_API void KESTO_CALL SaveVideoSegmentRawToDiskUtf8(const char* fileName, int32_t durationMs) {
    RequestSegment(fileName, durationMs, platform::PathEncoding::Utf8);
}

KESTO_API double KESTO_CALL GetStreamStat(const char* streamName, const char* statName) {
    if (streamName == nullptr || statName == nullptr) return 0.0;
    return GuardExportSilently(0.0, [&] {
        return StreamStatsRegistry::Get(streamName)->Read(statName, platform::SteadyTimeNs());
    });
}

}  // extern "C"
