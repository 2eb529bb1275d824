// kesto-costmeter: what the client library costs a host while it runs at the instrument's frame
// rate. The library is driven through its exports as a host drives it, against the simulator
// (a separate process, so its CPU is not ours) replaying a generated recording at 30 fps, and
// the kernel's per-thread CPU clocks say where the time goes.
#include <kesto/video_client.h>

#include <kiss_fftr.h>
#include <omp.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "../camsim/camsim_server.h"
#include "../common/command_line.h"
#include "alloc_counter.h"
#include "decode_baseline.h"
#include "proc_stats.h"

extern char** environ;

namespace {

using kesto::costmeter::CurrentThreadId;
using kesto::costmeter::ProcessCpuSeconds;
using kesto::costmeter::ResidentBytes;
using kesto::costmeter::SampleThreads;
using kesto::costmeter::ThreadAllocations;
using kesto::tools::OptionReader;
using kesto::tools::ParseInteger;
using kesto::tools::UsageError;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsage =
    "usage: kesto-costmeter [options]\n"
    "Measures what the client library costs its host at 30 fps: CPU per second of the stream\n"
    "worker and of everything else at 1024x1024 and 512x512, beside FFTR calls every 2 ms and a\n"
    "snapshot every second, with no stream and with an ended one; FFTR latency per length;\n"
    "resident memory over time; heap allocations per frame on the worker. The simulator\n"
    "(kesto-camsim beside this program) replays recordings made by kesto-streamgen.\n"
    "\n"
    "  --seconds N          length of each CPU measurement (default 10)\n"
    "  --memory-minutes N   length of the memory run, sampled every minute (default 1; 0: none)\n"
    "  --stream SIDE        only the CPU of one stream of SIDE x SIDE (for profiling)\n"
    "  --fft                only the FFTR latency table\n"
    "  --alloc-check        only count the worker's allocations on a short 256x256 stream;\n"
    "                       exit status 1 when it allocates after the first frames\n"
    "  --help               show this text\n";

constexpr int kFps = 30;
constexpr int kWarmupFrames = 45;  // IDR, decoder pools and buffers settle within these

struct Arguments {
    int seconds = 10;
    int memoryMinutes = 1;
    bool allocCheck = false;
    int streamOnly = 0;
    bool fftOnly = false;
    bool help = false;
};

Arguments Parse(int argc, char** argv) {
    Arguments args;
    OptionReader reader(argc, argv);
    while (reader.Next()) {
        const std::string option = reader.Option();
        if (option == "--help" || option == "-h") {
            reader.NoValue();
            args.help = true;
        } else if (option == "--seconds") {
            args.seconds = static_cast<int>(ParseInteger(option, reader.Value(), 1, 3600));
        } else if (option == "--memory-minutes") {
            args.memoryMinutes = static_cast<int>(ParseInteger(option, reader.Value(), 0, 600));
        } else if (option == "--stream") {
            args.streamOnly = static_cast<int>(ParseInteger(option, reader.Value(), 16, 4096));
            if (args.streamOnly % 2 != 0) throw UsageError{"--stream needs an even side"};
        } else if (option == "--fft") {
            reader.NoValue();
            args.fftOnly = true;
        } else if (option == "--alloc-check") {
            reader.NoValue();
            args.allocCheck = true;
        } else {
            throw UsageError{"unknown argument '" + option + "'"};
        }
    }
    return args;
}

std::string ProgramDir() {
    std::vector<char> path(4096);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size() - 1);
    if (length <= 0) throw std::runtime_error("cannot find this program's folder");
    std::string self(path.data(), static_cast<size_t>(length));
    return self.substr(0, self.rfind('/'));
}

// A child process with its standard output on a pipe.
class Child {
  public:
    explicit Child(const std::vector<std::string>& argv) {
        int pipeFds[2];
        if (pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        if (rc != 0) {
            close(pipeFds[0]);
            throw std::runtime_error("cannot start " + argv[0]);
        }
        out_ = fdopen(pipeFds[0], "r");
    }
    ~Child() {
        if (out_ != nullptr) std::fclose(out_);
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of its output; empty at its end.
    std::string ReadLine() {
        char line[512];
        return std::fgets(line, sizeof line, out_) != nullptr ? std::string(line) : std::string();
    }
    // Waits for the child to end; its exit status, or -1.
    int Wait() {
        int status = 0;
        const pid_t pid = pid_;
        pid_ = -1;
        if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }

  private:
    pid_t pid_ = -1;
    FILE* out_ = nullptr;
};

// What the host's callbacks see. They run on the stream worker and must not allocate, or they
// would count against the library.
struct HostState {
    std::atomic<int> workerTid{0};
    std::atomic<long> frames{0};
    std::atomic<bool> streamEnded{false};
    std::atomic<long> errors{0};
    // Allocations on the worker between two frames, summed and maximal, from frame
    // kWarmupFrames of the current stream on.
    std::atomic<uint64_t> lastAllocations{0};
    std::atomic<uint64_t> lastForeign{0};
    std::atomic<uint64_t> steadyAllocations{0};
    std::atomic<uint64_t> steadyForeign{0};  // made inside the decoder library
    std::atomic<uint64_t> maxAllocationsPerFrame{0};
    std::atomic<long> steadyFrames{0};
    std::atomic<long> streamFrames{0};
};

HostState g_host;
// Whether the worker tells the decoder's allocations apart (a stack walk per allocation).
std::atomic<bool> g_attribute{false};
constexpr const char* kDecoderLibrary = "VideoDecoderFF";

void KESTO_CALL OnMessage(int32_t code, const char* text, int64_t) {
    if (code == KESTO_MESSAGE_STATUS && text != nullptr && std::strstr(text, "closed") != nullptr) {
        g_host.streamEnded = true;
    } else if (code == KESTO_MESSAGE_ERROR || code == KESTO_MESSAGE_EXCEPTION) {
        ++g_host.errors;
        std::fprintf(stderr, "kesto-costmeter: library reported: %s\n",
                     text != nullptr ? text : "");
    }
}

void KESTO_CALL OnAzimuth(double) {
    g_host.workerTid = CurrentThreadId();
    ++g_host.frames;
    const long frame = ++g_host.streamFrames;
    if (frame == kWarmupFrames && g_attribute) {
        if (!kesto::costmeter::SetForeignLibrary(kDecoderLibrary)) ++g_host.errors;
        kesto::costmeter::AttributeThreadAllocations(true);
    }
    const uint64_t now = ThreadAllocations();
    const uint64_t delta = now - g_host.lastAllocations.exchange(now);
    const uint64_t foreign = kesto::costmeter::ThreadForeignAllocations();
    const uint64_t foreignDelta = foreign - g_host.lastForeign.exchange(foreign);
    if (frame > kWarmupFrames) {
        g_host.steadyAllocations += delta;
        g_host.steadyForeign += foreignDelta;
        ++g_host.steadyFrames;
        if (delta > g_host.maxAllocationsPerFrame) g_host.maxAllocationsPerFrame = delta;
    }
}

// A recording made by kesto-streamgen, replayed by kesto-camsim for as long as it lives.
class Simulator {
  public:
    Simulator(const std::string& recording, long long closeAfter = -1)
        : child_(Command(recording, closeAfter)) {
        const std::string line = child_.ReadLine();
        const size_t colon = line.rfind(':');
        if (line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
            throw std::runtime_error("the simulator did not start");
        }
        uri_ = "tcp://127.0.0.1:" + line.substr(colon + 1, line.find_last_not_of("\r\n") - colon);
    }
    const std::string& Uri() const { return uri_; }

  private:
    static std::vector<std::string> Command(const std::string& recording, long long closeAfter) {
        std::vector<std::string> argv = {
            ProgramDir() + "/kesto-camsim", "--port",   "0",       "--fps",
            std::to_string(kFps),           "--replay", recording, "--quiet"};
        if (closeAfter >= 0) {
            argv.push_back("--close-after");
            argv.push_back(std::to_string(closeAfter));
        }
        return argv;
    }
    Child child_;
    std::string uri_;
};

std::string MakeRecording(const std::string& folder, int side) {
    const std::string path = folder + "/live" + std::to_string(side) + ".h264";
    Child generator({ProgramDir() + "/kesto-streamgen", "--out", path, "--side",
                     std::to_string(side), "--frames", "90", "--gop", "30", "--azimuth-step",
                     "0.01"});
    while (!generator.ReadLine().empty()) {
    }
    if (generator.Wait() != 0) throw std::runtime_error("kesto-streamgen failed for " + path);
    return path;
}

// One stream through the exports, from start to stop.
class Stream {
  public:
    explicit Stream(const std::string& uri) {
        g_host.streamEnded = false;
        g_host.streamFrames = 0;
        g_host.steadyAllocations = 0;
        g_host.steadyForeign = 0;
        g_host.maxAllocationsPerFrame = 0;
        g_host.steadyFrames = 0;
        if (StartServerStream("costmeter", uri.c_str()) != 0) {
            throw std::runtime_error("StartServerStream failed for " + uri);
        }
    }
    ~Stream() { StopServerStream("costmeter"); }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // Waits for the warm-up frames (IDR, decoder pools); throws when they do not come.
    void WaitForWarmUp() const {
        if (!WaitForFrames(kWarmupFrames, std::chrono::seconds(30))) {
            throw std::runtime_error("no frames from the simulator");
        }
    }

    // Waits until `frames` frames of this stream have arrived (false on time-out).
    static bool WaitForFrames(long frames, std::chrono::seconds limit) {
        const auto deadline = Clock::now() + limit;
        while (g_host.streamFrames < frames) {
            if (Clock::now() > deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
};

// CPU over one interval, split by thread.
struct Usage {
    double wall = 0;
    double process = 0;  // CPU seconds per second, every thread
    double worker = 0;   // the stream worker
    double timer = 0;    // the host thread of a periodic task, when there is one
    double busiestOther = 0;
    std::string busiestOtherName;
    double framesPerSecond = 0;
};

Usage Measure(int seconds, int timerTid = 0) {
    const auto before = SampleThreads();
    const double cpuBefore = ProcessCpuSeconds();
    const long framesBefore = g_host.frames;
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const auto after = SampleThreads();
    Usage usage;
    usage.wall = wall;
    usage.process = (ProcessCpuSeconds() - cpuBefore) / wall;
    usage.framesPerSecond = static_cast<double>(g_host.frames - framesBefore) / wall;
    const int worker = g_host.workerTid;
    const int self = CurrentThreadId();
    for (const auto& [tid, cpu] : after) {
        const auto old = before.find(tid);
        const double used = (cpu.seconds - (old != before.end() ? old->second.seconds : 0)) / wall;
        if (tid == worker) {
            usage.worker = used;
        } else if (tid == timerTid) {
            usage.timer = used;
        } else if (tid != self && used > usage.busiestOther) {
            usage.busiestOther = used;
            usage.busiestOtherName = cpu.name + " (" + std::to_string(tid) + ")";
        }
    }
    return usage;
}

// A host thread running `work` every 2 ms on absolute deadlines, as a host sampling a signal.
class PeriodicTask {
  public:
    explicit PeriodicTask(std::function<void()> work) : work_(std::move(work)) {
        thread_ = std::thread([this] { Run(); });
        while (tid_ == 0) std::this_thread::yield();
    }
    ~PeriodicTask() {
        stop_ = true;
        thread_.join();
    }
    PeriodicTask(const PeriodicTask&) = delete;
    PeriodicTask& operator=(const PeriodicTask&) = delete;
    int Tid() const { return tid_; }
    long Calls() const { return calls_; }
    // Time spent inside `work` so far. Wall time (the steady clock is read without a system
    // call, the thread's CPU clock is not), which is its CPU time unless the thread is
    // preempted in the call.
    double WorkSeconds() const { return static_cast<double>(workNs_) * 1e-9; }

  private:
    void Run() {
        tid_ = CurrentThreadId();
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        while (!stop_) {
            next.tv_nsec += 2'000'000;
            if (next.tv_nsec >= 1'000'000'000) {
                next.tv_nsec -= 1'000'000'000;
                ++next.tv_sec;
            }
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            if (work_) {
                const auto start = Clock::now();
                work_();
                workNs_ +=
                    std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start)
                        .count();
            }
            ++calls_;
        }
    }
    std::function<void()> work_;
    std::atomic<bool> stop_{false};
    std::atomic<int> tid_{0};
    std::atomic<long> calls_{0};
    std::atomic<long long> workNs_{0};
    std::thread thread_;
};

void PrintRow(const char* figure, const std::string& value, const std::string& goal,
              const char* verdict) {
    std::printf("  %-46s %-34s %-22s %s\n", figure, value.c_str(), goal.c_str(), verdict);
}

std::string Format(const char* format, double a, double b = 0, double c = 0) {
    char text[160];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

void PrintUsage(const char* figure, const Usage& u) {
    PrintRow(figure, Format("%.3f s/s (worker %.3f, timer %.3f)", u.process, u.worker, u.timer),
             Format("%.1f frames/s", u.framesPerSecond), "");
    if (u.busiestOther > 0.001) {
        std::printf("  %-46s busiest other thread %s: %.3f s/s\n", "", u.busiestOtherName.c_str(),
                    u.busiestOther);
    }
}

// Wall time per call of `call` in a tight loop on this thread (median of blocks).
double WallCallSeconds(const std::function<void()>& call, int callsPerBlock) {
    std::vector<double> blocks;
    for (int b = 0; b < 9; ++b) {
        const auto start = Clock::now();
        for (int i = 0; i < callsPerBlock; ++i) call();
        blocks.push_back(std::chrono::duration<double>(Clock::now() - start).count() /
                         callsPerBlock);
    }
    std::sort(blocks.begin(), blocks.end());
    return blocks[blocks.size() / 2];
}

// A transform of one length through FFTR and through KISS FFT directly.
struct Transform {
    explicit Transform(int length)
        : in(static_cast<size_t>(length)), out(static_cast<size_t>(length) + 2) {
        for (int i = 0; i < length; ++i) in[static_cast<size_t>(i)] = std::sin(0.01 * i);
        cfg = AllocFFTR(length);
        kiss = kiss_fftr_alloc(length, 0, nullptr, nullptr);
        if (cfg == nullptr || kiss == nullptr) throw std::runtime_error("FFT allocation failed");
    }
    ~Transform() {
        FreeFFTR(cfg);
        kiss_fftr_free(kiss);
    }
    Transform(const Transform&) = delete;
    Transform& operator=(const Transform&) = delete;
    void Exported() { FFTR(cfg, in.data(), out.data()); }
    void Direct() { kiss_fftr(kiss, in.data(), reinterpret_cast<kiss_fft_cpx*>(out.data())); }

    std::vector<double> in, out;
    KestoFftrConfig cfg = nullptr;
    kiss_fftr_cfg kiss = nullptr;
};

// How a transform is run: KISS FFT on the calling thread alone (the plain cost), through
// FFTR, or KISS FFT on the calling thread's default OpenMP team (how FFTR ran before it chose).
enum class Way { Plain, Exported, FullTeam };

void RunTransform(Transform& t, Way way) {
    if (way == Way::Plain) {
        omp_set_num_threads(1);  // this thread only
        t.Direct();
    } else if (way == Way::Exported) {
        t.Exported();
    } else {
        t.Direct();
    }
}

void FftLatencyTable() {
    std::printf("\nFFTR latency per length (wall time per call, medians)\n");
    std::printf("  %-8s %12s %12s %12s %8s  %s\n", "points", "FFTR", "1 thread", "team", "ratio",
                "goal: FFTR <= 1.10 x the faster");
    const int team = omp_get_max_threads();
    for (int nfft : {256, 1024, 4096, 16384, 65536, 262144, 524288, 1048576}) {
        Transform t(nfft);
        const int calls = std::max(3, (1 << 21) / nfft);
        double exported = 1e9, alone = 1e9, withTeam = 1e9;
        for (int round = 0; round < 3; ++round) {  // interleaved, so load changes hit all three
            exported = std::min(exported, WallCallSeconds([&] { t.Exported(); }, calls));
            omp_set_num_threads(1);
            alone = std::min(alone, WallCallSeconds([&] { t.Direct(); }, calls));
            omp_set_num_threads(team);
            withTeam = std::min(withTeam, WallCallSeconds([&] { t.Direct(); }, calls));
        }
        const double ratio = exported / std::min(alone, withTeam);
        std::printf("  %-8d %10.1f us %10.1f us %10.1f us %8.2f  %s\n", nfft, exported * 1e6,
                    alone * 1e6, withTeam * 1e6, ratio, Verdict(ratio <= 1.10));
    }
    // The team's workers spin after the last long transform; let them settle.
    omp_pause_resource(omp_pause_soft, omp_get_initial_device());

    // Back to back, a team's workers are still spinning from the call before: the team's best
    // case. A host transforming a block every few milliseconds meets a team that has gone to
    // sleep, which is what these figures show.
    std::printf("\nFFTR latency per length, called every 2 ms (mean wall time per call)\n");
    std::printf("  %-8s %12s %12s %12s %8s  %s\n", "points", "FFTR", "1 thread", "team", "ratio",
                "goal: FFTR <= 1.10 x the faster");
    for (int nfft : {256, 1024, 4096, 16384, 65536, 262144, 524288, 1048576}) {
        Transform t(nfft);
        double seconds[3] = {1e9, 1e9, 1e9};
        for (int round = 0; round < 2; ++round) {
            for (Way way : {Way::Exported, Way::Plain, Way::FullTeam}) {
                PeriodicTask loop([&t, way] { RunTransform(t, way); });
                const auto end = Clock::now() + std::chrono::milliseconds(400);
                while (Clock::now() < end || loop.Calls() < 20) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                const double perCall = loop.WorkSeconds() / static_cast<double>(loop.Calls());
                double& best = seconds[static_cast<int>(way)];
                best = std::min(best, perCall);
            }
        }
        const double exported = seconds[static_cast<int>(Way::Exported)];
        const double faster = std::min(seconds[static_cast<int>(Way::Plain)],
                                       seconds[static_cast<int>(Way::FullTeam)]);
        std::printf("  %-8d %10.1f us %10.1f us %10.1f us %8.2f  %s\n", nfft, exported * 1e6,
                    seconds[static_cast<int>(Way::Plain)] * 1e6,
                    seconds[static_cast<int>(Way::FullTeam)] * 1e6, exported / faster,
                    Verdict(exported <= 1.10 * faster));
    }
}

// The worker's allocations per frame on a short 256 x 256 stream, the decoder library's told
// apart: 0 for the client library's own is the goal.
int AllocCheck(const std::string& folder) {
    const std::string recording = MakeRecording(folder, 256);
    g_attribute = true;
    Simulator simulator(recording);
    Stream stream(simulator.Uri());
    const bool delivered = Stream::WaitForFrames(kWarmupFrames + 90, std::chrono::seconds(30));
    const uint64_t own = g_host.steadyAllocations;
    const uint64_t decoder = g_host.steadyForeign;
    const long frames = g_host.steadyFrames;
    g_attribute = false;
    if (!delivered) {
        std::fprintf(stderr, "kesto-costmeter: the stream delivered only %ld frames\n",
                     g_host.streamFrames.load());
        return 2;
    }
    std::printf("\nWorker allocations after %d warm-up frames, %ld frames of 256x256\n",
                kWarmupFrames, frames);
    PrintRow("client library",
             Format("%.0f (%.2f per frame)", static_cast<double>(own),
                    static_cast<double>(own) / static_cast<double>(frames)),
             "0", Verdict(own == 0));
    PrintRow("inside the decoder library",
             Format("%.0f (%.2f per frame)", static_cast<double>(decoder),
                    static_cast<double>(decoder) / static_cast<double>(frames)),
             "(libavcodec's)", "");
    return own == 0 ? 0 : 1;
}

// The plain stream's CPU against the bare decoding cost of its pictures.
// The bare cost of a picture, measured before the stream starts so that the two do not share
// the cores: decoded back to back, and decoded at 30 fps as a live stream is.
struct Bare {
    double tight = 0;
    double paced = 0;
};

Usage StreamFigures(int side, const Bare& bare, int seconds) {
    std::printf("\nStream %dx%d at %d fps\n", side, side, kFps);
    const Usage u = Measure(seconds);
    PrintUsage("CPU, streaming", u);
    const double perThirty = u.framesPerSecond > 0 ? u.process * kFps / u.framesPerSecond : 0;
    PrintRow("CPU per 30 frames vs bare decode + conversion",
             Format("%.3f s (bare %.3f s, %.2f x)", perThirty, kFps * bare.tight,
                    perThirty / (kFps * bare.tight)),
             "<= 1.2 x bare", Verdict(perThirty <= 1.2 * kFps * bare.tight));
    PrintRow("  against bare decoding at 30 fps",
             Format("%.3f s (bare %.3f s, %.2f x)", perThirty, kFps * bare.paced,
                    perThirty / (kFps * bare.paced)),
             "(cold caches alike)", "");
    PrintRow("busiest thread besides the worker", Format("%.3f s/s", u.busiestOther),
             "no spinning (< 0.02)", Verdict(u.busiestOther < 0.02));
    PrintRow("worker allocations per frame (decoder's too)",
             Format("%.3f (max %.0f in one frame)",
                    static_cast<double>(g_host.steadyAllocations) /
                        static_cast<double>(std::max<long>(1, g_host.steadyFrames)),
                    static_cast<double>(g_host.maxAllocationsPerFrame)),
             "see the split below", "");
    return u;
}

Bare BareCost(const std::string& recording) {
    const auto packets = kesto::camsim::LoadRecording(recording);
    return Bare{kesto::costmeter::BareDecodeSecondsPerFrame(packets, 2),
                kesto::costmeter::BareDecodeSecondsPerFrame(packets, 1, kFps)};
}

int StreamOnly(int side, int seconds, const std::string& folder) {
    const std::string recording = MakeRecording(folder, side);
    const Bare bare = BareCost(recording);
    Simulator simulator(recording);
    Stream stream(simulator.Uri());
    stream.WaitForWarmUp();
    StreamFigures(side, bare, seconds);
    return g_host.errors == 0 ? 0 : 1;
}

int RunAll(const Arguments& args, const std::string& folder) {
    const int seconds = args.seconds;
    std::printf("kesto-costmeter: %d s per figure, %d fps, %d CPUs, OpenMP team %d\n", seconds,
                kFps, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)), omp_get_max_threads());

    FftLatencyTable();

    std::printf("\nNo stream (library loaded, callbacks set, display made)\n");
    PrintUsage("CPU, no stream", Measure(seconds));

    const std::string recording1024 = MakeRecording(folder, 1024);
    const std::string recording512 = MakeRecording(folder, 512);

    for (const auto& [side, recording] :
         {std::pair<int, std::string>{1024, recording1024}, {512, recording512}}) {
        const Bare bare = BareCost(recording);
        Simulator simulator(recording);
        Stream stream(simulator.Uri());
        stream.WaitForWarmUp();
        const Usage u = StreamFigures(side, bare, seconds);

        if (side != 1024) continue;

        // FFTR beside the stream, called every 2 ms from a host thread. A transform's cost is
        // the time inside the calls plus whatever other threads (OpenMP workers) burn besides;
        // the latter is measured against the same 2 ms loop doing nothing. The baseline is plain
        // KISS FFT called the same way on one thread, cold caches and all.
        const Usage idleLoop = [&] {
            PeriodicTask loop(nullptr);
            return Measure(seconds, loop.Tid());
        }();
        PrintUsage("CPU, host loop every 2 ms without FFTR", idleLoop);
        const double othersIdle = idleLoop.process - idleLoop.worker - idleLoop.timer;
        for (int nfft : {256, 4096}) {
            Transform t(nfft);
            double plainCost = 0;
            for (Way way : {Way::Plain, Way::Exported, Way::FullTeam}) {
                PeriodicTask loop([&t, way] { RunTransform(t, way); });
                const double workBefore = loop.WorkSeconds();
                const Usage f = Measure(seconds, loop.Tid());
                const double inCalls = (loop.WorkSeconds() - workBefore) / f.wall;
                const double others = f.process - f.worker - f.timer - othersIdle;
                const double cost = inCalls + std::max(0.0, others);
                static const char* const kNames[] = {"KISS FFT on one thread", "FFTR",
                                                     "KISS FFT, default team"};
                const std::string label = std::string(kNames[static_cast<int>(way)]) + " " +
                                          std::to_string(nfft) + " every 2 ms";
                PrintUsage(label.c_str(), f);
                if (way == Way::Plain) {
                    plainCost = cost;
                    PrintRow("  its cost: in the calls + other threads",
                             Format("%.4f + %.4f s/s", inCalls, others), "(baseline)", "");
                    continue;
                }
                PrintRow(
                    "  its cost: in the calls + other threads",
                    Format("%.4f + %.4f s/s (%.2f x plain)", inCalls, others, cost / plainCost),
                    way == Way::Exported ? "<= 1.5 x plain" : "(how FFTR ran before)",
                    way == Way::Exported ? Verdict(cost <= 1.5 * plainCost) : "");
            }
        }

        // A snapshot every second, against the plain stream measured above.
        {
            std::atomic<bool> stop{false};
            std::thread snapper([&] {
                for (int i = 0; !stop; ++i) {
                    const std::string path = folder + "/snapshot" + std::to_string(i % 2) + ".png";
                    SaveVideoFrameRawToDisk(path.c_str());
                    for (int t = 0; t < 100 && !stop; ++t) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(10));
                    }
                }
            });
            const Usage s = Measure(seconds);
            stop = true;
            snapper.join();
            PrintUsage("CPU, a PNG snapshot every second", s);
            PrintRow("  extra CPU: worker / all other threads",
                     Format("%.3f / %.3f s/s", s.worker - u.worker,
                            (s.process - s.worker) - (u.process - u.worker)),
                     "no spinning", Verdict(s.busiestOther < 0.02));
        }
    }

    std::printf("\nA stream whose worker has ended on its own (server closed the connection)\n");
    {
        // One pass through the recording (3 s), then the simulator closes the connection.
        long long recordingBytes = 0;
        for (const auto& packet : kesto::camsim::LoadRecording(recording512)) {
            recordingBytes += static_cast<long long>(packet.size());
        }
        Simulator simulator(recording512, recordingBytes);
        Stream stream(simulator.Uri());
        const auto deadline = Clock::now() + std::chrono::seconds(30);
        while (!g_host.streamEnded && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!g_host.streamEnded) throw std::runtime_error("the stream did not end");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const Usage u = Measure(seconds);
        PrintUsage("CPU, ended worker", u);
        PrintRow("  CPU", Format("%.4f s/s", u.process), "0 (< 0.005)", Verdict(u.process < 0.005));
    }
    {
        const Usage u = Measure(seconds);
        PrintRow("CPU, no stream (after the streams)", Format("%.4f s/s", u.process), "0 (< 0.005)",
                 Verdict(u.process < 0.005));
    }

    if (args.memoryMinutes > 0) {
        std::printf("\nResident memory while streaming 1024x1024 at %d fps\n", kFps);
        Simulator simulator(recording1024);
        Stream stream(simulator.Uri());
        uint64_t firstMinute = 0;
        std::printf("  start: %.2f MiB\n", static_cast<double>(ResidentBytes()) / 1048576.0);
        for (int minute = 1; minute <= args.memoryMinutes; ++minute) {
            std::this_thread::sleep_for(std::chrono::minutes(1));
            const uint64_t rss = ResidentBytes();
            if (minute == 1) firstMinute = rss;
            std::printf("  after %2d min: %.2f MiB (%ld frames)\n", minute,
                        static_cast<double>(rss) / 1048576.0, g_host.streamFrames.load());
            std::fflush(stdout);
        }
        const double growth =
            (static_cast<double>(ResidentBytes()) - static_cast<double>(firstMinute)) / 1048576.0;
        PrintRow("growth since the first minute", Format("%.3f MiB", growth), "<= 1 MiB",
                 Verdict(growth <= 1.0));
    }
    const int allocations = AllocCheck(folder);
    return g_host.errors == 0 ? allocations : 1;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    const std::optional<Arguments> parsed =
        kesto::tools::ParseCommandLine("kesto-costmeter", kUsage, argc, argv, Parse, exitCode);
    if (!parsed) return exitCode;
    const Arguments& args = *parsed;
    signal(SIGPIPE, SIG_IGN);
    char folderTemplate[] = "/tmp/kesto-costmeter-XXXXXX";
    if (mkdtemp(folderTemplate) == nullptr) {
        std::perror("kesto-costmeter: mkdtemp");
        return 2;
    }
    const std::string folder = folderTemplate;
    int status = 2;
    try {
        SetCallbackFunc(OnMessage);
        SetAzCallbackFunc(OnAzimuth);
        // A host with a surface: frames are uploaded to the display texture as they arrive.
        IDirect3DSurface9* surface = nullptr;
        if (GetBackBufferNoRef(&surface) != 0) {
            std::fprintf(stderr, "kesto-costmeter: no display surface; frames are not uploaded\n");
        }
        if (args.allocCheck) {
            status = AllocCheck(folder);
        } else if (args.fftOnly) {
            FftLatencyTable();
            status = 0;
        } else if (args.streamOnly > 0) {
            status = StreamOnly(args.streamOnly, args.seconds, folder);
        } else {
            status = RunAll(args, folder);
        }
        std::fflush(stdout);
        DestroyClient();
        DestroyD3D();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "kesto-costmeter: %s\n", error.what());
    }
    const std::string cleanup = "rm -rf '" + folder + "'";
    if (std::system(cleanup.c_str()) != 0) {
        std::fprintf(stderr, "kesto-costmeter: could not remove %s\n", folder.c_str());
    }
    return status;
}
