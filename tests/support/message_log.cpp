#include "message_log.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>

#include "kesto/video_client.h"
#include "test_platform.h"

namespace kesto::test {

namespace {
std::mutex lock;
std::condition_variable changed;
std::vector<LoggedMessage> messages;
std::vector<double> azimuths;
std::atomic<bool> stoppedMark{false};
std::atomic<int> lateCalls{0};

void KESTO_CALL OnAzimuth(double azimuth) {
    if (stoppedMark) ++lateCalls;
    std::lock_guard<std::mutex> guard(lock);
    azimuths.push_back(azimuth);
    changed.notify_all();
}
}  // namespace

void KESTO_CALL RecordMessage(int32_t code, const char* text, int64_t timeMs) {
    if (stoppedMark) ++lateCalls;
    std::lock_guard<std::mutex> guard(lock);
    messages.push_back({code, text != nullptr ? text : "", timeMs});
    changed.notify_all();
}

void InstallRecordingCallbacks() {
    SetCallbackFunc(&RecordMessage);
    SetAzCallbackFunc(&OnAzimuth);
}

void ClearLog() {
    std::lock_guard<std::mutex> guard(lock);
    messages.clear();
    azimuths.clear();
}

std::vector<LoggedMessage> Messages() {
    std::lock_guard<std::mutex> guard(lock);
    return messages;
}

std::vector<double> Azimuths() {
    std::lock_guard<std::mutex> guard(lock);
    return azimuths;
}

bool WaitFor(const std::function<bool(const LoggedMessage&)>& match,
             std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, timeout,
                            [&] { return std::any_of(messages.begin(), messages.end(), match); });
}

bool WaitForMessage(int32_t code, const std::string& text, std::chrono::milliseconds timeout) {
    return WaitFor([&](const LoggedMessage& m) { return m.code == code && m.text == text; },
                   timeout);
}

bool HasMessage(int32_t code, const std::string& text) {
    return WaitForMessage(code, text, std::chrono::milliseconds(0));
}

std::size_t CountCode(int32_t code) {
    std::lock_guard<std::mutex> guard(lock);
    return static_cast<std::size_t>(std::count_if(
        messages.begin(), messages.end(), [&](const LoggedMessage& m) { return m.code == code; }));
}

std::string Describe() {
    std::lock_guard<std::mutex> guard(lock);
    std::ostringstream out;
    for (const auto& m : messages) out << "  [" << m.code << "] " << m.text << "\n";
    return out.str();
}

// Without PollUntil: the Windows display tests build this file without the recordings.
bool Receiving(const char* stream) {
    for (int waitedMs = 0; GetStreamStat(stream, "bps") <= 0; waitedMs += 2) {
        if (waitedMs > 10000) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void MarkStopped(bool stopped) {
    stoppedMark = stopped;
}

int LateCallbacks() {
    return lateCalls;
}

void ClientTest::SetUp() {
    SetDecoderLibrarySetting(decoderPath);
    InstallRecordingCallbacks();
    MarkStopped(false);
    ClearLog();
}

void ClientTest::TearDown() {
    MarkStopped(false);
    InstallRecordingCallbacks();  // not a test's own, which may call into the library
    DestroyClient();
    SetDecoderLibrarySetting(nullptr);  // on Windows every later program would see it
}

}  // namespace kesto::test
