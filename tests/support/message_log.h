// Records what the library reports to a host: messages and azimuth notices, with waits
// bounded by a time-out; and the fixture of the tests through the exports (this header brings
// them the client's, the loopback server's and the recordings' as well).
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kesto/video_client.h"
#include "loopback_server.h"
#include "recordings.h"

namespace kesto::test {

struct LoggedMessage {
    int32_t code;
    std::string text;  // empty for a null text
    int64_t timeMs;
};

// The recording message callback, for a test's own callback to pass messages on to.
void KESTO_CALL RecordMessage(int32_t code, const char* text, int64_t timeMs);
// Registers the recording callbacks with the library (SetCallbackFunc, SetAzCallbackFunc).
void InstallRecordingCallbacks();
void ClearLog();
std::vector<LoggedMessage> Messages();
std::vector<double> Azimuths();
// Waits until a recorded message satisfies `match`, at most `timeout`.
bool WaitFor(const std::function<bool(const LoggedMessage&)>& match,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
// Waits until a message with exactly this code and text was recorded.
bool WaitForMessage(int32_t code, const std::string& text,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
bool HasMessage(int32_t code, const std::string& text);
// Number of messages with this code.
std::size_t CountCode(int32_t code);
// All recorded messages, one per line, for failure output.
std::string Describe();
// Waits until the stream's byte rate is above zero.
bool Receiving(const char* stream);
// While marked, every callback is counted as late: for calls after a stop returned.
void MarkStopped(bool stopped);
int LateCallbacks();

// The decoder setting pointed at `decoder` (null: the FFmpeg decoder under its default name,
// beside the client library), the recording callbacks and an empty log; at the end the client
// destroyed and the setting cleared.
class ClientTest : public ::testing::Test {
  protected:
    explicit ClientTest(const char* decoder = TEST_DECODER_PATH) : decoderPath(decoder) {}
    void SetUp() override;
    void TearDown() override;

  private:
    const char* decoderPath;
};

}  // namespace kesto::test
