// A decoder library driven by the test that loads it: the test queues SEI units and frames
// (handed out after the next chunk), makes the next init fail, and reads what was fed. Built
// once complete and once without DecoderGetFrame, to exercise the client's binding failures
// through the real loading path.
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "decoder/decoder_api.h"
#include "test_decoder_control.h"

namespace {

struct State {
    std::mutex lock;
    std::deque<std::vector<uint8_t>> queuedSei, queuedFrames, pendingSei, pendingFrames;
    std::vector<uint8_t> current;      // the bytes last handed out
#if !defined(TEST_DECODER_DECOY_TEXT)  // a decoy is planted where the client must never look
#define TEST_DECODER_DECOY_TEXT ""
#endif
    std::string failInitText = TEST_DECODER_DECOY_TEXT;  // empty: the init succeeds
    std::string lastError;
    DecoderLoggerCallback logger = nullptr;
    int initCount = 0, shutdownCount = 0;
    long long bytesFed = 0;
};

State& state() {
    static State instance;
    return instance;
}

bool CopyText(const std::string& text, char* buffer, int* size) {
    const int needed = static_cast<int>(text.size()) + 1;
    if (buffer == nullptr) {
        *size = needed;
        return true;
    }
    if (*size < needed) return false;
    std::memcpy(buffer, text.c_str(), static_cast<std::size_t>(needed));
    return true;
}

// Hands out the front of one of the state's queues, under the state's lock.
bool PopInto(std::deque<std::vector<uint8_t>> State::*queue, const uint8_t** data, int* size) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    if ((s.*queue).empty()) return false;
    s.current = std::move((s.*queue).front());
    (s.*queue).pop_front();
    *data = s.current.data();
    *size = static_cast<int>(s.current.size());
    return true;
}

}  // namespace

extern "C" {

KESTO_DECODER_EXPORT bool DecoderInit(int) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.initCount;
    s.lastError = s.failInitText;
    return s.failInitText.empty();
}

KESTO_DECODER_EXPORT void DecoderOnNewData(const uint8_t*, int size, int) {
    State& s = state();
    std::lock_guard<std::mutex> guard(s.lock);
    s.bytesFed += size;
    s.pendingSei.insert(s.pendingSei.end(), s.queuedSei.begin(), s.queuedSei.end());
    s.pendingFrames.insert(s.pendingFrames.end(), s.queuedFrames.begin(), s.queuedFrames.end());
    s.queuedSei.clear();
    s.queuedFrames.clear();
}

KESTO_DECODER_EXPORT bool DecoderGetSeiNAL(const uint8_t** data, int* size) {
    return PopInto(&State::pendingSei, data, size);
}

#ifndef TEST_DECODER_OMIT_GET_FRAME
KESTO_DECODER_EXPORT bool DecoderGetFrame(const uint8_t** data, int* size, int) {
    return PopInto(&State::pendingFrames, data, size);
}
#endif

KESTO_DECODER_EXPORT void DecoderShutdown(void) {
    std::lock_guard<std::mutex> guard(state().lock);
    ++state().shutdownCount;
}

KESTO_DECODER_EXPORT bool DecoderGetInfo(char* buffer, int* size, int) {
    return CopyText("test decoder", buffer, size);
}

KESTO_DECODER_EXPORT bool DecoderGetLastError(char* buffer, int* size) {
    std::lock_guard<std::mutex> guard(state().lock);
    return CopyText(state().lastError, buffer, size);
}

KESTO_DECODER_EXPORT void DecoderSetLoggerCallback(DecoderLoggerCallback logger) {
    std::lock_guard<std::mutex> guard(state().lock);
    state().logger = logger;
}

// -- control interface for the tests

// A null text lets the next init succeed again.
KESTO_DECODER_EXPORT void TestDecoderFailInit(const char* errorText) {
    std::lock_guard<std::mutex> guard(state().lock);
    state().failInitText = errorText != nullptr ? errorText : "";
}

KESTO_DECODER_EXPORT void TestDecoderQueueSei(const uint8_t* data, int size) {
    std::lock_guard<std::mutex> guard(state().lock);
    state().queuedSei.emplace_back(data, data + size);
}

KESTO_DECODER_EXPORT void TestDecoderQueueFrame(int size, uint8_t fill) {
    std::lock_guard<std::mutex> guard(state().lock);
    state().queuedFrames.emplace_back(static_cast<std::size_t>(size), fill);
}

KESTO_DECODER_EXPORT void TestDecoderLog(int level, const char* text) {
    std::unique_lock<std::mutex> guard(state().lock);
    const DecoderLoggerCallback logger = state().logger;
    guard.unlock();  // the client's logger takes locks of its own
    if (logger != nullptr) logger(level, text);
}

KESTO_DECODER_EXPORT void TestDecoderCounts(TestDecoderCountsResult* out) {
    std::lock_guard<std::mutex> guard(state().lock);
    *out = {state().initCount, state().shutdownCount, state().bytesFed};
}

}  // extern "C"
