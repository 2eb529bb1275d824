#include "threading.h"

#include <cstdlib>
#include <cstring>

namespace kesto::decoder_ff {

namespace {
constexpr int kMaxThreads = 16;
}

Threading ParseThreading(const char* value, int cores) {
    Threading chosen;
    if (value == nullptr || *value == '\0') return chosen;
    const char* colon = std::strchr(value, ':');
    const std::string mode = colon != nullptr ? std::string(value, colon) : std::string(value);
    int threads = cores < 1 ? 1 : (cores > kMaxThreads ? kMaxThreads : cores);
    if (colon != nullptr) {
        char* end = nullptr;
        const long n = std::strtol(colon + 1, &end, 10);
        if (end == colon + 1 || *end != '\0' || n < 1 || n > kMaxThreads) {
            chosen.valid = false;
            return chosen;
        }
        threads = static_cast<int>(n);
    }
    if (mode == "single" && colon == nullptr) return chosen;
    if (mode == "slice" || mode == "frame") {
        chosen.mode = mode == "slice" ? ThreadingMode::Slice : ThreadingMode::Frame;
        chosen.threads = threads;
        return chosen;
    }
    chosen.valid = false;
    return chosen;
}

}  // namespace kesto::decoder_ff
