// FFTR through the shared library, per call, for 256 ... 2^20 points, against
//  - kiss_fftr called directly from the static KISS FFT build the library itself contains,
//    on the team FFTR chooses for that length (one thread below kTeamMinLength, the default
//    team from there on): FFTR should cost what that costs, within 5%. FFTR and this baseline
//    are timed in alternating blocks of calls (bench_support.h, PairedRatio);
//  - kiss_fftr on the other team (reported: shows the choice was the faster one). Timed in a
//    phase of its own: leaving a team idle during another block lets its worker fall asleep,
//    and on a loaded machine waking it costs milliseconds a call;
//  - FFTW's r2c transform with a measured plan (reported only: another algorithm).
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
#include "fft/fft_team.h"

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
    if (n == 1 << 20) return "2^20";
    if (n == 1 << 19) return "2^19";
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

    for (const int n : {256, 1024, 4096, 16384, 65536, 262144, 524288, 1 << 20}) {
        const std::vector<double> x = Signal(static_cast<std::size_t>(n));
        std::vector<double> freq(x.size() + 2);
        KestoFftrConfig ours = AllocFFTR(n);
        kiss_fftr_cfg direct = kiss_fftr_alloc(n, 0, nullptr, nullptr);
        auto* freqCpx = reinterpret_cast<kiss_fft_cpx*>(freq.data());

        const auto fftr = [&] {
            FFTR(ours, x.data(), freq.data());
            Clobber(freq.data());
        };
        const bool alone = kesto::fft::TeamSize(n, defaultTeam) == 1;
        // kiss_fftr on the given team size, set and put back around the call as FFTR does.
        const auto kissOn = [&](int team) {
            return [&, team] {
                omp_set_num_threads(team);
                kiss_fftr(direct, x.data(), freqCpx);
                omp_set_num_threads(defaultTeam);
                Clobber(freq.data());
            };
        };
        const int chosen = alone ? 1 : defaultTeam;
        const int other = alone ? defaultTeam : 1;
        const kb::Paired same = kb::PairedRatio(fftr, kissOn(chosen), budget);
        const double otherTime = kb::MedianTime(kissOn(other), budget / 2);
        const double fftrAlone = same.a;
        const std::string chosenName = alone ? "1 thread" : "default team";
        const std::string otherName = alone ? "default team" : "1 thread";
        kb::PrintRow(
            "FFTR " + Points(n) + ": " + kb::FormatTime(same.a),
            "kiss_fftr direct, " + chosenName + " (FFTR's choice) " + kb::FormatTime(same.b),
            same.ratio, "<= 1.05", kb::Verdict(same.ratio <= 1.05));
        kb::PrintRow("FFTR " + Points(n) + ": " + kb::FormatTime(same.a),
                     "kiss_fftr direct, " + otherName + " " + kb::FormatTime(otherTime),
                     same.a / otherTime, "report", "report");

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
