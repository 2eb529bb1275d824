#include <kesto/video_client.h>

#include <gtest/gtest.h>
#include <omp.h>

#if defined(_WIN32)
// clang-format off
#include <windows.h>  // before tlhelp32.h, which needs its types
#include <tlhelp32.h>
// clang-format on
#else
#include <filesystem>
#endif

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

using Cplx = std::complex<long double>;

using Config = std::unique_ptr<KestoFftrState, decltype(&FreeFFTR)>;

Config MakeConfig(int32_t nfft) {
    Config cfg(AllocFFTR(nfft), &FreeFFTR);
    EXPECT_NE(cfg, nullptr) << "nfft " << nfft;
    return cfg;
}

std::vector<double> RandomSignal(int32_t nfft, uint64_t seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(static_cast<size_t>(nfft));
    for (double& v : x) v = dist(rng);
    return x;
}

// Runs FFTR into a freshly allocated array of exactly nfft + 2 doubles, so that the sanitizer
// builds catch any write past the documented output.
std::vector<double> Transform(KestoFftrConfig cfg, const std::vector<double>& x) {
    std::vector<double> freq(x.size() + 2, std::nan(""));
    FFTR(cfg, x.data(), freq.data());
    return freq;
}

class FftrAccuracy : public ::testing::TestWithParam<int32_t> {};

TEST_P(FftrAccuracy, MatchesNaiveDftOfRandomInput) {
    const int32_t nfft = GetParam();
    Config cfg = MakeConfig(nfft);
    ASSERT_NE(cfg, nullptr);
    const std::vector<double> x = RandomSignal(nfft, 1234u + static_cast<uint64_t>(nfft));
    const std::vector<double> freq = Transform(cfg.get(), x);
    std::vector<double> inPlace(x);  // the same array for input and output
    inPlace.resize(x.size() + 2, std::nan(""));
    FFTR(cfg.get(), inPlace.data(), inPlace.data());
    EXPECT_EQ(inPlace, freq);
    const size_t n = x.size(), half = n / 2;
    EXPECT_EQ(freq[1], 0.0) << "imaginary part of bin 0";
    EXPECT_EQ(freq[2 * half + 1], 0.0) << "imaginary part of bin nfft/2";

    // Every bin of short transforms; else both ends and a random sample in between, each
    // against bin k of the textbook DFT in long double (the twiddle index k * i mod n kept
    // incrementally to stay exact).
    std::vector<Cplx> twiddles(n);
    const long double pi = 3.141592653589793238462643383279502884L;
    for (size_t j = 0; j < n; ++j) twiddles[j] = std::polar(1.0L, -2 * pi * j / n);
    std::mt19937_64 rng(99);
    long double largest = 0, worst = 0;
    for (size_t b = 0; n <= 4096 ? b <= half : b < 66; ++b) {
        const size_t k = n <= 4096 || b == 0 ? b
                         : b == 1            ? half
                                  : std::uniform_int_distribution<size_t>(1, half - 1)(rng);
        Cplx expected = 0;
        for (size_t i = 0, index = 0; i < n; ++i, index = (index + k) % n)
            expected += static_cast<long double>(x[i]) * twiddles[index];
        largest = std::max(largest, std::abs(expected));
        worst = std::max(worst, std::abs(Cplx(freq[2 * k], freq[2 * k + 1]) - expected));
    }
    ASSERT_GT(largest, 0.0L);
    EXPECT_LT(static_cast<double>(worst / largest), 1e-12) << "nfft " << nfft;
}

// Powers of two, the small mixed-radix cases and 1000 = 2^3 * 5^3 (half length 500 needs
// radix 4 and 5 butterflies).
INSTANTIATE_TEST_SUITE_P(Lengths, FftrAccuracy,
                         ::testing::Values(2, 4, 6, 10, 12, 256, 1000, 4096, 65536));

// Lengths the transform cannot take give no configuration.
TEST(FftrConfig, ZeroNegativeAndOddLengthsAreRefused) {
    for (int32_t nfft : {0, -2, 3, INT32_MIN}) EXPECT_EQ(AllocFFTR(nfft), nullptr) << nfft;
}

// Threads of this process: from /proc, or from a Toolhelp snapshot on Windows.
int ProcessThreads() {
    int count = 0;
#if defined(_WIN32)
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    }
    CloseHandle(snapshot);
#else
    for ([[maybe_unused]] const auto& task :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++count;
    }
#endif
    return count;
}

// Short transforms stay on the calling thread: no OpenMP worker is started (which would spin
// after the call). Long ones do get the team: the policy must not turn the parallel build off.
// Either way the host's own team setting on that thread is left as it was. Under
// ThreadSanitizer the suite keeps OpenMP to one thread (its runtime is not instrumented), so
// the long case is left out there.
TEST(FftrTeam, OnlyLongTransformsStartWorkersAndTheHostsTeamSizeIsKept) {
    const bool oneThread = std::getenv("OMP_NUM_THREADS") != nullptr;
    for (const int32_t nfft : {256, 4096, 32768, 1 << 20}) {
        if (nfft > 32768 && oneThread) continue;
        std::thread host([nfft] {
            omp_set_num_threads(3);
            const int before = ProcessThreads();
            Transform(MakeConfig(nfft).get(), RandomSignal(nfft, 7));
            EXPECT_EQ(ProcessThreads() > before, nfft > 32768) << nfft;
            EXPECT_EQ(omp_get_max_threads(), 3);
        });
        host.join();
    }
}

}  // namespace
