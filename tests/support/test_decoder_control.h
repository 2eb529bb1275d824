// The test decoder's control functions, resolved by tests from the same loaded library the
// client binds (loading the same path again returns the same instance, on POSIX and Windows).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "test_platform.h"

extern "C" {
struct TestDecoderCountsResult {
    int initCount;
    int shutdownCount;
    int chunkCount;
    long long bytesFed;
};
}

namespace kesto::test {

class TestDecoderControl {
  public:
    // Loads the test decoder at `path` (the same file the client is told to load).
    explicit TestDecoderControl(const std::string& path);

    void FailInit(const char* errorText) const;
    void QueueSei(const uint8_t* data, int size) const;
    void QueueFrame(int size, uint8_t fill) const;
    void QueueFrame(const std::vector<uint8_t>& bytes) const;
    void Log(int level, const char* text) const;
    TestDecoderCountsResult Counts() const;

  private:
    LoadedLibrary library;
    void (*failInit)(const char*);
    void (*queueSei)(const uint8_t*, int);
    void (*queueFrame)(int, uint8_t);
    void (*queueFrameBytes)(const uint8_t*, int);
    void (*log)(int, const char*);
    void (*counts)(TestDecoderCountsResult*);
};

}  // namespace kesto::test
