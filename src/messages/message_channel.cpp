#include "messages/message_channel.h"

#include <atomic>

#include "platform/clock.h"

namespace kesto {

namespace {
std::atomic<KestoMessageCallback> messageCallback{nullptr};
std::atomic<KestoAzimuthCallback> azimuthCallback{nullptr};
}  // namespace

void SetMessageCallback(KestoMessageCallback callback) {
    messageCallback.store(callback);
}
void SetAzimuthCallback(KestoAzimuthCallback callback) {
    azimuthCallback.store(callback);
}

void ReportMessage(int32_t code, const char* text) noexcept {
    const KestoMessageCallback callback = messageCallback.load();
    if (callback != nullptr) callback(code, text, platform::SystemTimeMs());
}

void KESTO_CALL ReportDecoderLog(int level, const char* text) {
    ReportMessage(level, text);
}

void NotifyAzimuth(double azimuth) noexcept {
    const KestoAzimuthCallback callback = azimuthCallback.load();
    if (callback != nullptr) callback(azimuth);
}

}  // namespace kesto
