// Records what the library reports to a host: messages and azimuth notices, with waits
// bounded by a time-out.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kesto::test {

struct LoggedMessage {
    int32_t code;
    std::string text;  // empty for a null text
    int64_t timeMs;
};

// The recording message callback, for a test's own callback to pass messages on to.
void RecordMessage(int32_t code, const char* text, int64_t timeMs);
// Registers the recording callbacks with the library (SetCallbackFunc, SetAzCallbackFunc).
void InstallRecordingCallbacks();
void ClearLog();
std::vector<LoggedMessage> Messages();
std::vector<double> Azimuths();
// Waits until `done` holds for the recorded messages, at most `timeout`.
bool WaitFor(const std::function<bool(const std::vector<LoggedMessage>&)>& done,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
// Waits until at least `count` azimuth notices were recorded.
bool WaitForAzimuths(std::size_t count,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
// Waits until a message with exactly this code and text was recorded.
bool WaitForMessage(int32_t code, const std::string& text,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
bool HasMessage(int32_t code, const std::string& text);
// Number of messages with this code.
std::size_t CountCode(int32_t code);
// All recorded messages, one per line, for failure output.
std::string Describe();

}  // namespace kesto::test
