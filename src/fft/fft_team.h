// How many threads one transform gets.
//
// KISS FFT's OpenMP build splits the first stage of every transform across the calling
// thread's team. For short transforms the hand-over costs more than the work (on two cores a
// 256-point transform took about twice as long with the team as alone) and, worse, leaves the
// team's workers spinning for milliseconds after the call, which for a host transforming a
// small block every few milliseconds holds a whole core. And when the other cores are busy,
// as on an operator's PC, the call waits until the scheduler runs every team member: on two
// loaded cores transforms up to 2^18 points took 2 to 10 times longer with the team. Only the
// longest transforms gain from it (2^20 points: about 1.2 to 2 times faster on an idle machine).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

namespace kesto::fft {

// Transforms of at least this many points run on the calling thread's whole team; shorter
// ones on the calling thread alone. Measured with kesto-costmeter --fft and bench/run.
inline constexpr int32_t kTeamMinLength = 524288;

// The team for one transform of `nfft` points when the calling thread's team would have
// `maxThreads` threads.
inline int TeamSize(int32_t nfft, int maxThreads) {
    return nfft >= kTeamMinLength && maxThreads > 1 ? maxThreads : 1;
}

// The team the host asks for. Where the OpenMP runtime is the host's as well (`sharedRuntime`:
// one shared libgomp on Linux), the runtime's setting for the calling thread, `runtimeTeam`,
// which OMP_NUM_THREADS set at start and the host's omp_set_num_threads changes. Where it is
// the library's own (linked into the Windows DLL), the host's calls never reach it and it read
// the environment once, at load: OMP_NUM_THREADS as the environment holds it now
// (`ompNumThreads`, its first number when it lists several) decides, and `runtimeTeam` when
// it is unset or not a positive number.
inline int HostTeam(int runtimeTeam, bool sharedRuntime,
                    const std::optional<std::string>& ompNumThreads) {
    if (sharedRuntime || !ompNumThreads) return runtimeTeam;
    char* end = nullptr;
    const long team = std::strtol(ompNumThreads->c_str(), &end, 10);
    const bool number = end != ompNumThreads->c_str() && (*end == '\0' || *end == ',');
    return number && team > 0 && team <= 1024 ? static_cast<int>(team) : runtimeTeam;
}

}  // namespace kesto::fft
