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
#include "stream/stream_manager.h"

using namespace kesto;

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
    if (path == nullptr) return;
    GuardExportSilently(0, [&] {
        GetDisplayManager()->RequestSnapshot(path);
        return 0;
    });
}

KESTO_API void KESTO_CALL SaveVideoSegmentRawToDisk(const char* fileName, int32_t durationMs) {
    GuardExportSilently(0, [&] {
        IStreamManager* manager = CurrentStreamManager();
        if (manager != nullptr && fileName != nullptr)
            manager->RequestSegment(fileName, durationMs);
        return 0;
    });
}

KESTO_API double KESTO_CALL GetStreamStat(const char* streamName, const char* statName) {
    if (streamName == nullptr || statName == nullptr) return 0.0;
    return GuardExportSilently(0.0, [&] {
        return StreamStatsRegistry::Get(streamName)->Read(statName, platform::SteadyTimeNs());
    });
}

}  // extern "C"

// The UTF-8 companions. Until paths carry their encoding down to the file calls, they behave
// as the ANSI functions do.
extern "C" {

KESTO_API int32_t KESTO_CALL StartServerStreamUtf8(const char* streamName, const char* uri) {
    return StartServerStream(streamName, uri);
}

KESTO_API void KESTO_CALL SaveVideoFrameRawToDiskUtf8(const char* path) {
    SaveVideoFrameRawToDisk(path);
}

KESTO_API void KESTO_CALL SaveVideoSegmentRawToDiskUtf8(const char* fileName, int32_t durationMs) {
    SaveVideoSegmentRawToDisk(fileName, durationMs);
}

}  // extern "C"
