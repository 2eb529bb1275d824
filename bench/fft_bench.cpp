// FFTR through the shared library, per call, for 256 ... 2^20 points, against
//  - kiss_fftr called directly from the static KISS FFT build the library itself contains,
//    once with OpenMP's default team and once with a team of one (the better of the two is
//    what FFTR should cost: within 5%);
//  - FFTW's r2c transform with a measured plan (reported only: another algorithm).
// FFTR and kiss_fftr with the default team are timed in alternating blocks of calls
// (bench_support.h, PairedRatio). The team of one and FFTW are timed in phases of their own:
// switching the team size between blocks, or leaving the team idle during another library's
// block, lets its worker fall asleep, and on a loaded machine waking it costs milliseconds a
// call, which would be charged to FFTR.
//
//   kesto_fft_bench [--quick]
#include <fftw3.h>
#include <kesto/video_client.h>
#include <kiss_fftr.h>
#include <omp.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench_support.h"

namespace kb = kesto::bench;

namespace {

std::vector<double> Signal(std::size_t n) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) v = dist(rng);
    return x;
}

void Clobber(const void* p) {
    asm volatile("" : : "r"(p) : "memory");
}

std::string Points(int n) {
    if (n >= 1 << 20) return "2^20";
    return std::to_string(n);
}

}  // namespace

int main(int argc, char** argv) {
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--quick") quick = true;
    }
    const double budget = quick ? 0.3 : 0.8;
    const int defaultTeam = omp_get_max_threads();
    std::printf("OpenMP default team: %d threads\n", defaultTeam);

    for (const int n : {256, 1024, 4096, 16384, 65536, 262144, 1 << 20}) {
        const std::vector<double> x = Signal(static_cast<std::size_t>(n));
        std::vector<double> freq(x.size() + 2);
        KestoFftrConfig ours = AllocFFTR(n);
        kiss_fftr_cfg direct = kiss_fftr_alloc(n, 0, nullptr, nullptr);
        auto* freqCpx = reinterpret_cast<kiss_fft_cpx*>(freq.data());

        const auto fftr = [&] {
            FFTR(ours, x.data(), freq.data());
            Clobber(freq.data());
        };
        const auto kissTeam = [&] {
            kiss_fftr(direct, x.data(), freqCpx);
            Clobber(freq.data());
        };
        const kb::Paired team = kb::PairedRatio(fftr, kissTeam, budget);
        // The team size is the calling thread's setting, which FFTR (in the same process)
        // shares: one for this phase only.
        omp_set_num_threads(1);
        const double single = kb::MedianTime(kissTeam, budget / 2);
        omp_set_num_threads(defaultTeam);
        const double fftrAlone = kb::MedianTime(fftr, budget / 2);
        const bool teamBetter = team.b <= single;
        kb::PrintRow("FFTR " + Points(n) + ": " + kb::FormatTime(team.a),
                     "kiss_fftr direct, default team " + kb::FormatTime(team.b), team.ratio,
                     "<= 1.05", kb::Verdict(team.ratio <= 1.05));
        kb::PrintRow("FFTR " + Points(n) + ": " + kb::FormatTime(fftrAlone),
                     "kiss_fftr direct, 1 thread " + kb::FormatTime(single), fftrAlone / single,
                     teamBetter ? "report (team faster)" : "<= 1.05",
                     teamBetter ? "report" : kb::Verdict(fftrAlone / single <= 1.05));

        double* in = fftw_alloc_real(static_cast<std::size_t>(n));
        fftw_complex* out = fftw_alloc_complex(static_cast<std::size_t>(n) / 2 + 1);
        const kb::Clock::time_point planStart = kb::Clock::now();
        fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
        const double planSeconds = kb::Seconds(kb::Clock::now() - planStart);
        for (int i = 0; i < n; ++i) in[i] = x[static_cast<std::size_t>(i)];
        const double fftw = kb::MedianTime(
            [&] {
                fftw_execute(plan);
                Clobber(out);
            },
            budget / 2);
        kb::PrintRow("FFTR " + Points(n) + ": " + kb::FormatTime(fftrAlone),
                     "FFTW r2c, measured plan " + kb::FormatTime(fftw) + " (planning " +
                         kb::FormatTime(planSeconds) + ")",
                     fftrAlone / fftw, "report", "report");
        fftw_destroy_plan(plan);
        fftw_free(in);
        fftw_free(out);
        FreeFFTR(ours);
        kiss_fftr_free(direct);
    }
    return 0;
}
