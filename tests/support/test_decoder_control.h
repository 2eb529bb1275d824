// The test decoder's control functions, resolved by tests from the same loaded library the
// client binds (loading the same path again returns the same instance, on POSIX and Windows).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_platform.h"

extern "C" {
struct TestDecoderCountsResult {
    int initCount, shutdownCount;
    long long bytesFed;
};
}

namespace kesto::test {

class TestDecoderControl {
  public:
    // Loads the test decoder at `path` (the same file the client is told to load).
    explicit TestDecoderControl(const std::string& path) : library(path) {
        if (!library.Loaded())
            throw std::runtime_error("cannot load " + path + ": " + library.Error());
    }

    // A null text lets the next init succeed again.
    void FailInit(const char* errorText) const { Call("TestDecoderFailInit", errorText); }
    // Handed out after the next chunk the decoder is fed.
    void QueueSei(const uint8_t* data, int size) const { Call("TestDecoderQueueSei", data, size); }
    void QueueFrame(int size, uint8_t fill) const { Call("TestDecoderQueueFrame", size, fill); }
    // Sends a message through the logger callback the client registered.
    void Log(int level, const char* text) const { Call("TestDecoderLog", level, text); }
    TestDecoderCountsResult Counts() const {
        TestDecoderCountsResult result{};
        Call("TestDecoderCounts", &result);
        return result;
    }

  private:
    template <typename... Args>
    void Call(const char* name, Args... args) const {
        auto* function = reinterpret_cast<void (*)(Args...)>(library.Symbol(name));
        if (function == nullptr)
            throw std::runtime_error(std::string("test decoder lacks ") + name);
        function(args...);
    }

    LoadedLibrary library;
};

}  // namespace kesto::test
