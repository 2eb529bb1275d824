// Per-call cost of FFTR against kiss_fftr called directly, for the lengths hosts use.
//
// FFTR is meant to cost what kiss_fftr costs: the two should stay within 5% of each other.
// Both run the same KISS FFT code (the library links a private copy of the static build that
// this program links too), so any difference is the export's own overhead plus noise. After
// Google Benchmark's table the program prints one line per length: the median time of each
// and FFTR's time over kiss_fftr's from alternating blocks of calls (see PairedRatio).
//
//   kesto_fft_bench [--benchmark_repetitions=N] [other Google Benchmark flags]
#include <kesto/video_client.h>

#include <benchmark/benchmark.h>
#include <kiss_fftr.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<double> Signal(size_t n) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) v = dist(rng);
    return x;
}

void BM_FFTR(benchmark::State& state) {
    const auto nfft = static_cast<int32_t>(state.range(0));
    KestoFftrConfig cfg = AllocFFTR(nfft);
    if (cfg == nullptr) {
        state.SkipWithError("AllocFFTR failed");
        return;
    }
    const std::vector<double> x = Signal(static_cast<size_t>(nfft));
    std::vector<double> freq(x.size() + 2);
    for (auto _ : state) {
        FFTR(cfg, x.data(), freq.data());
        benchmark::DoNotOptimize(freq.data());
        benchmark::ClobberMemory();
    }
    FreeFFTR(cfg);
}

void BM_kiss_fftr(benchmark::State& state) {
    const auto nfft = static_cast<int>(state.range(0));
    kiss_fftr_cfg cfg = kiss_fftr_alloc(nfft, 0, nullptr, nullptr);
    if (cfg == nullptr) {
        state.SkipWithError("kiss_fftr_alloc failed");
        return;
    }
    const std::vector<double> x = Signal(static_cast<size_t>(nfft));
    std::vector<kiss_fft_cpx> freq(x.size() / 2 + 1);
    for (auto _ : state) {
        kiss_fftr(cfg, x.data(), freq.data());
        benchmark::DoNotOptimize(freq.data());
        benchmark::ClobberMemory();
    }
    kiss_fftr_free(cfg);
}

// Real time: KISS FFT may hand part of a transform to OpenMP threads, whose CPU time the
// calling thread's clock would not see.
BENCHMARK(BM_FFTR)->Arg(256)->Arg(4096)->Arg(65536)->UseRealTime();
BENCHMARK(BM_kiss_fftr)->Arg(256)->Arg(4096)->Arg(65536)->UseRealTime();

// The console output as usual, keeping the median time of each benchmark and length.
class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
                median_[run.run_name.args][run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }

    double Median(int32_t nfft, const char* name) const {
        const auto byLength = median_.find(std::to_string(nfft));
        if (byLength == median_.end()) return 0;
        const auto it = byLength->second.find(name);
        return it == byLength->second.end() ? 0 : it->second;
    }

  private:
    std::map<std::string, std::map<std::string, double>> median_;
};

// FFTR's time over kiss_fftr's, measured in alternating blocks of calls: a change in machine
// load between two blocks hits both sides alike, which separate benchmark runs on a shared
// two-core machine cannot promise. The median over the block pairs is the result.
double PairedRatio(int32_t nfft) {
    using Clock = std::chrono::steady_clock;
    const std::vector<double> x = Signal(static_cast<size_t>(nfft));
    std::vector<double> freq(x.size() + 2);
    KestoFftrConfig ours = AllocFFTR(nfft);
    kiss_fftr_cfg direct = kiss_fftr_alloc(nfft, 0, nullptr, nullptr);
    if (ours == nullptr || direct == nullptr) {
        FreeFFTR(ours);
        kiss_fftr_free(direct);
        return 0;
    }
    auto* freqCpx = reinterpret_cast<kiss_fft_cpx*>(freq.data());
    auto timeOurs = [&](int calls) {
        const auto start = Clock::now();
        for (int i = 0; i < calls; ++i) {
            FFTR(ours, x.data(), freq.data());
            benchmark::ClobberMemory();
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    auto timeDirect = [&](int calls) {
        const auto start = Clock::now();
        for (int i = 0; i < calls; ++i) {
            kiss_fftr(direct, x.data(), freqCpx);
            benchmark::ClobberMemory();
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    };

    // Blocks of about 2 ms each.
    const double perCall = std::max(timeOurs(20), timeDirect(20)) / 20;
    const int calls = std::max(1, static_cast<int>(2e-3 / perCall));
    std::vector<double> ratios;
    for (int round = 0; round < 200; ++round) {
        double a = 0;
        double b = 0;
        if (round % 2 == 0) {
            a = timeOurs(calls);
            b = timeDirect(calls);
        } else {
            b = timeDirect(calls);
            a = timeOurs(calls);
        }
        ratios.push_back(a / b);
    }
    FreeFFTR(ours);
    kiss_fftr_free(direct);
    std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
    return ratios[ratios.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    // Defaults that make the comparison meaningful on a busy two-core machine; flags given on
    // the command line come later and win.
    std::vector<char*> args{argv[0]};
    std::string repetitions = "--benchmark_repetitions=10";
    std::string interleave = "--benchmark_enable_random_interleaving=true";
    args.push_back(repetitions.data());
    args.push_back(interleave.data());
    for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
    int count = static_cast<int>(args.size());

    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("\nFFTR against kiss_fftr per call (expected: within 5%%)\n");
    for (int32_t nfft : {256, 4096, 65536}) {
        std::printf("  nfft %-6d  median FFTR %10.1f ns  kiss_fftr %10.1f ns  paired ratio %.3f\n",
                    nfft, reporter.Median(nfft, "BM_FFTR"), reporter.Median(nfft, "BM_kiss_fftr"),
                    PairedRatio(nfft));
    }
    benchmark::Shutdown();
    return 0;
}
