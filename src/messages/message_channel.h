// The message channel: the host's two callbacks and the helpers every part of the library
// reports through. The callback pointers are written by host threads and read by worker
// threads without a lock, each as one whole atomic pointer.
#pragma once

#include <cstdint>
#include <string>

#include "kesto/video_client.h"

namespace kesto {

enum class MessageCode : int32_t {
    Error = KESTO_MESSAGE_ERROR,
    Status = KESTO_MESSAGE_STATUS,
    Info = KESTO_MESSAGE_INFO,
    Exception = KESTO_MESSAGE_EXCEPTION,
    FrameReady = KESTO_MESSAGE_FRAME_READY,
};

void SetMessageCallback(KestoMessageCallback callback);
void SetAzimuthCallback(KestoAzimuthCallback callback);

// Calls the host's message callback with the code, the text and the current system time in
// milliseconds; does nothing while no callback is set. Never throws.
void ReportMessage(int32_t code, const char* text) noexcept;
inline void ReportMessage(MessageCode code, const char* text) noexcept {
    ReportMessage(static_cast<int32_t>(code), text);
}
inline void ReportMessage(MessageCode code, const std::string& text) noexcept {
    ReportMessage(static_cast<int32_t>(code), text.c_str());
}

// The same function with the decoder library's logger signature.
void KESTO_CALL ReportDecoderLog(int level, const char* text);

// Calls the host's azimuth callback, if any, with the value.
void NotifyAzimuth(double azimuth) noexcept;

}  // namespace kesto
