// How many threads one transform gets.
//
// KISS FFT's OpenMP build splits the first stage of every transform across the calling
// thread's team. For short transforms the hand-over costs more than the work (on two cores a
// 256-point transform took about twice as long with the team as alone) and, worse, leaves the
// team's workers spinning for milliseconds after the call, which for a host transforming a
// small block every few milliseconds holds a whole core. Only long transforms gain from the team.
#pragma once

#include <cstdint>

namespace kesto::fft {

// Transforms of at least this many points run on the calling thread's whole team; shorter
// ones on the calling thread alone. Measured with the FFTR latency figures of kesto-costmeter.
inline constexpr int32_t kTeamMinLength = 65536;

// The team for one transform of `nfft` points when the calling thread's team would have
// `maxThreads` threads.
inline int TeamSize(int32_t nfft, int maxThreads) {
    return nfft >= kTeamMinLength && maxThreads > 1 ? maxThreads : 1;
}

}  // namespace kesto::fft
