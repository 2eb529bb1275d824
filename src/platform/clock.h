// Clocks. std::chrono gives what the library needs on every target, so there is no backend:
// the system clock for message time stamps and the steady clock for rates and segment timing.
#pragma once

#include <chrono>
#include <cstdint>

namespace kesto::platform {

// Milliseconds since 1970-01-01 UTC, truncated toward zero.
inline int64_t SystemTimeMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Nanoseconds of the steady high-resolution clock.
inline int64_t SteadyTimeNs() {
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace kesto::platform
