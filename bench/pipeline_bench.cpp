// The live pipeline through the exports, against libavcodec + swscale called directly:
// throughput of a 1024 x 1024 stream over loopback TCP, glass-to-callback latency of a paced
// 30 fps stream, how long StopServerStream takes, file playback pacing, and the stand-in
// decoder's threading modes side by side.
//
//   kesto_pipeline_bench [--cache DIR] [--quick] [--only threading|throughput|latency|stop|file]
//
// Frames are counted by the library's frame notices (code 6); the azimuth notice that comes
// just before each one numbers the picture (the bench stream carries picture i as i / 1000 rad).
#include <kesto/video_client.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_support.h"
#include "direct_decoder.h"

namespace kb = kesto::bench;

namespace {

constexpr int kSide = 1024;
constexpr int kStreamFrames = 60;  // two IDR periods; the list wraps onto an IDR picture
constexpr double kFrameInterval = 1.0 / 30;

// -- the host side: frame notices with their time and picture number
struct FrameLog {
    static constexpr std::size_t kCapacity = 1 << 16;
    std::vector<double> times = std::vector<double>(kCapacity);
    std::vector<int> pictures = std::vector<int>(kCapacity);
    std::atomic<std::size_t> count{0};
    std::atomic<int> lastPicture{-1};
    std::atomic<int> errors{0};

    void Reset() {
        count = 0;
        lastPicture = -1;
    }
    // Waits until `n` frames have arrived or `timeout` passes; false on time-out.
    bool WaitFor(std::size_t n, double timeout) const {
        const double end = kb::NowSeconds() + timeout;
        while (count.load() < n) {
            if (kb::NowSeconds() > end) return false;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return true;
    }
};
FrameLog g_frames;
const bool g_verbose = std::getenv("KESTO_BENCH_VERBOSE") != nullptr;

void KESTO_CALL OnMessage(int32_t code, const char* text, int64_t) {
    if (code == KESTO_MESSAGE_FRAME_READY) {
        const double now = kb::NowSeconds();
        const std::size_t i = g_frames.count.load();
        if (i < FrameLog::kCapacity) {
            g_frames.times[i] = now;
            g_frames.pictures[i] = g_frames.lastPicture.load();
            g_frames.count.store(i + 1);
        }
        return;
    }
    if (code == KESTO_MESSAGE_ERROR || code == KESTO_MESSAGE_EXCEPTION || g_verbose) {
        ++g_frames.errors;
        std::fprintf(stderr, "  library: %d %s\n", code, text != nullptr ? text : "");
    }
}

void KESTO_CALL OnAzimuth(double azimuth) {
    g_frames.lastPicture.store(static_cast<int>(std::lround(azimuth * 1000.0)));
}

void SetThreading(const std::string& mode) {
    setenv("KESTO_DECODER_FF_THREADS", mode.c_str(), 1);
}

// -- throughput --------------------------------------------------------------------------

// Frames per second through the exports, frames `warm` .. `warm + n` of an unpaced stream.
double PipelineFps(const std::vector<kb::Bytes>& units, int warm, int n) {
    kb::LoopbackServer server;
    server.Serve([&](int socket) { kb::SendUnpaced(server, socket, units); });
    g_frames.Reset();
    StartServerStream("bench", server.Uri().c_str());
    double fps = 0;
    if (g_frames.WaitFor(static_cast<std::size_t>(warm + n), 60)) {
        fps = n / (g_frames.times[static_cast<std::size_t>(warm + n - 1)] -
                   g_frames.times[static_cast<std::size_t>(warm - 1)]);
    }
    server.Stop();
    StopServerStream("bench");
    return fps;
}

// The same frames decoded directly, fed one access unit at a time as the server writes them.
double DirectFps(const std::vector<kb::Bytes>& units, const std::string& threading, int warm,
                 int n) {
    kb::DirectDecoder decoder(threading);
    int pictures = 0;
    kb::Clock::time_point start;
    for (std::size_t i = 0;; i = (i + 1) % units.size()) {
        pictures += decoder.Feed(units[i].data(), units[i].size());
        if (pictures >= warm && start == kb::Clock::time_point{}) start = kb::Clock::now();
        if (pictures >= warm + n) break;
    }
    return (pictures - warm) / kb::Seconds(kb::Clock::now() - start);
}

struct Throughput {
    double pipeline = 0;
    double direct = 0;
    double ratio = 0;
};

Throughput MeasureThroughput(const std::vector<kb::Bytes>& units, const std::string& threading,
                             int repetitions, int n) {
    SetThreading(threading);
    std::vector<double> pipeline, direct, ratios;
    for (int r = 0; r < repetitions; ++r) {
        // Alternating order, so that a drift in machine load does not favour one side.
        double p = 0;
        double d = 0;
        if (r % 2 == 0) {
            p = PipelineFps(units, 10, n);
            d = DirectFps(units, threading, 10, n);
        } else {
            d = DirectFps(units, threading, 10, n);
            p = PipelineFps(units, 10, n);
        }
        pipeline.push_back(p);
        direct.push_back(d);
        ratios.push_back(p / d);
    }
    return {kb::Median(pipeline), kb::Median(direct), kb::Median(ratios)};
}

// -- latency -----------------------------------------------------------------------------

struct Latency {
    std::vector<double> fromLastByte;   // the picture's last byte written -> frame notice
    std::vector<double> fromNextStart;  // the next picture's first bytes written -> notice
    int azimuthMismatches = 0;          // frames delivered with another picture's azimuth
};

// A paced 30 fps stream for `seconds`; the server notes when each picture's first and last
// bytes went out (one write per picture).
Latency MeasureLatency(const std::vector<kb::Bytes>& units, double seconds) {
    const int total = static_cast<int>(seconds * 30);
    std::vector<double> firstByte(static_cast<std::size_t>(total) + 1, 0);
    std::vector<double> lastByte(static_cast<std::size_t>(total) + 1, 0);
    std::atomic<int> sent{0};
    kb::LoopbackServer server;
    server.Serve([&](int socket) {
        const kb::Clock::time_point start = kb::Clock::now();
        for (int g = 0; g <= total && !server.Stopping(); ++g) {
            std::this_thread::sleep_until(start + std::chrono::duration_cast<kb::Clock::duration>(
                                                      std::chrono::duration<double>(g * kFrameInterval)));
            const kb::Bytes& unit = units[static_cast<std::size_t>(g) % units.size()];
            firstByte[static_cast<std::size_t>(g)] = kb::NowSeconds();
            if (!server.SendAll(socket, unit.data(), unit.size())) break;
            lastByte[static_cast<std::size_t>(g)] = kb::NowSeconds();
            sent = g + 1;
        }
        server.WaitUntilStopped();
    });
    g_frames.Reset();
    StartServerStream("bench", server.Uri().c_str());
    g_frames.WaitFor(static_cast<std::size_t>(total), seconds + 5);
    server.Stop();
    StopServerStream("bench");

    // The stream starts with an IDR picture and no picture is lost, so frame notice g is
    // picture g. The azimuth that came with it should number the same picture; frame
    // threading breaks that, as it hands out pictures later than their SEI units.
    Latency latency;
    const std::size_t frames = g_frames.count.load();
    for (std::size_t i = 0; i < frames; ++i) {
        const int g = static_cast<int>(i);
        if (g + 1 >= sent.load() || g < 5) continue;  // warm-up, and the end of the run
        if (g_frames.pictures[i] % kStreamFrames != g % kStreamFrames) ++latency.azimuthMismatches;
        latency.fromLastByte.push_back(g_frames.times[i] - lastByte[static_cast<std::size_t>(g)]);
        latency.fromNextStart.push_back(g_frames.times[i] -
                                        firstByte[static_cast<std::size_t>(g) + 1]);
    }
    return latency;
}

struct DecodeTimes {
    std::vector<double> decode;
    std::vector<double> convert;
};

DecodeTimes MeasureDecodeTimes(const std::vector<kb::Bytes>& units, const std::string& threading,
                               int rounds) {
    DecodeTimes times;
    kb::DirectDecoder decoder(threading);
    for (int r = 0; r < rounds; ++r) {
        for (const kb::Bytes& unit : units) {
            double d = 0;
            double c = 0;
            if (decoder.DecodeAccessUnit(unit.data(), unit.size(), d, c)) {
                times.decode.push_back(d);
                times.convert.push_back(c);
            }
        }
    }
    return times;
}

// -- Stop ------------------------------------------------------------------------------

// StopServerStream while the server keeps the connection open and sends nothing.
std::vector<double> StopStalled(const std::vector<kb::Bytes>& units, int repetitions) {
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r) {
        kb::LoopbackServer server;
        server.Serve([&](int socket) {
            for (int i = 0; i < 3; ++i) server.SendAll(socket, units[i].data(), units[i].size());
            server.WaitUntilStopped();
        });
        g_frames.Reset();
        StartServerStream("bench", server.Uri().c_str());
        g_frames.WaitFor(2, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const kb::Clock::time_point start = kb::Clock::now();
        StopServerStream("bench");
        times.push_back(kb::Seconds(kb::Clock::now() - start));
        server.Stop();
    }
    return times;
}

// StopServerStream at a random moment of a paced live stream.
std::vector<double> StopSteady(const std::vector<kb::Bytes>& units, int repetitions) {
    std::vector<double> times;
    for (int r = 0; r < repetitions; ++r) {
        kb::LoopbackServer server;
        server.Serve([&](int socket) {
            const kb::Clock::time_point start = kb::Clock::now();
            for (int g = 0; !server.Stopping(); ++g) {
                std::this_thread::sleep_until(
                    start + std::chrono::duration_cast<kb::Clock::duration>(
                                std::chrono::duration<double>(g * kFrameInterval)));
                const kb::Bytes& unit = units[static_cast<std::size_t>(g) % units.size()];
                if (!server.SendAll(socket, unit.data(), unit.size())) break;
            }
        });
        g_frames.Reset();
        StartServerStream("bench", server.Uri().c_str());
        g_frames.WaitFor(20, 10);
        // Somewhere within a frame interval, a different phase each time.
        std::this_thread::sleep_for(std::chrono::microseconds(3300 * (r % 10) + 700));
        const kb::Clock::time_point start = kb::Clock::now();
        StopServerStream("bench");
        times.push_back(kb::Seconds(kb::Clock::now() - start));
        server.Stop();
    }
    return times;
}

// -- file playback ---------------------------------------------------------------------

// Mean interval between frame notices of a played-back recording, after its first frames.
double FilePlaybackInterval(const std::string& recording, double seconds) {
    g_frames.Reset();
    StartServerStream("bench", ("file://" + recording).c_str());
    // Playback starts after the source's two-second delay.
    g_frames.WaitFor(5, 10);
    const std::size_t first = g_frames.count.load();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const std::size_t last = g_frames.count.load();
    StopServerStream("bench");
    if (last < first + 2) return 0;
    return (g_frames.times[last - 1] - g_frames.times[first - 1]) /
           static_cast<double>(last - first);
}

std::string Ms(double seconds) {
    return kb::FormatTime(seconds);
}

std::string Fps(double fps) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f fps", fps);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    std::string cache = ".";
    bool quick = false;
    std::string only;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--cache" && i + 1 < argc) cache = argv[++i];
        if (arg == "--only" && i + 1 < argc) only = argv[++i];
        if (arg == "--quick") quick = true;
    }
    const auto wanted = [&](const char* part) { return only.empty() || only == part; };
    const int repetitions = quick ? 3 : 5;

    std::printf("encoding / loading the %d x %d bench streams ...\n", kSide, kSide);
    std::fflush(stdout);
    const std::vector<kb::Bytes> units = kb::BenchStream(cache, kSide, kStreamFrames);
    const std::vector<kb::Bytes> sliced = kb::BenchStream(cache, kSide, kStreamFrames, 4);
    std::size_t bytes = 0;
    for (const kb::Bytes& u : units) bytes += u.size();
    std::printf("stream: %d pictures, %zu bytes (IDR %zu bytes)\n", kStreamFrames, bytes,
                units[0].size());

    SetCallbackFunc(OnMessage);
    SetAzCallbackFunc(OnAzimuth);
    IDirect3DSurface9* surface = nullptr;
    if (GetBackBufferNoRef(&surface) != 0 || surface == nullptr) {
        std::fprintf(stderr, "no display surface; frames would not be uploaded\n");
        return 1;
    }

    const char* chosen = std::getenv("KESTO_DECODER_FF_THREADS");
    const std::string defaultMode = chosen != nullptr && *chosen != '\0' ? chosen : "single";

    // Decoder threading: the stand-in decoder's modes, directly and through the pipeline.
    std::printf("\ndecoder threading (1024 x 1024, 1 and 4 slices per picture):\n");
    struct ModeResult {
        std::string mode;
        double directOne, directFour, pipelineFps, latencyP50, latencyP99;
        double mismatched;
    };
    std::vector<ModeResult> modes;
    for (const std::string mode : {"single", "slice:2", "frame:2"}) {
        if (!wanted("threading")) break;
        ModeResult m{mode, 0, 0, 0, 0, 0, 0};
        std::vector<double> one, four;
        for (int r = 0; r < 3; ++r) {
            one.push_back(DirectFps(units, mode, 10, 180));
            four.push_back(DirectFps(sliced, mode, 10, 180));
        }
        m.directOne = kb::Median(one);
        m.directFour = kb::Median(four);
        SetThreading(mode);
        m.pipelineFps = PipelineFps(units, 10, 180);
        const Latency l = MeasureLatency(units, quick ? 3 : 4);
        m.latencyP50 = kb::Quantile(l.fromLastByte, 0.5);
        m.latencyP99 = kb::Quantile(l.fromLastByte, 0.99);
        m.mismatched = l.fromLastByte.empty()
                           ? 0
                           : 100.0 * l.azimuthMismatches / static_cast<double>(l.fromLastByte.size());
        std::printf("  %-8s direct %6.1f fps (4 slices %6.1f)  pipeline %6.1f fps  latency from "
                    "last byte p50 %s p99 %s, azimuth of another picture %.0f%%\n",
                    mode.c_str(), m.directOne, m.directFour, m.pipelineFps,
                    Ms(m.latencyP50).c_str(), Ms(m.latencyP99).c_str(), m.mismatched);
        std::fflush(stdout);
        modes.push_back(m);
    }
    for (const ModeResult& m : modes) {
        char wrong[48];
        std::snprintf(wrong, sizeof wrong, ", wrong azimuth %.0f%%", m.mismatched);
        kb::PrintRow("decoder " + m.mode + ": 1024^2 direct " + Fps(m.directOne) + " (4 slices " +
                         Fps(m.directFour) + "), pipeline " + Fps(m.pipelineFps) +
                         ", latency p50 " + Ms(m.latencyP50) + wrong,
                     "single: " + Fps(modes[0].directOne) + ", p50 " + Ms(modes[0].latencyP50),
                     m.directOne / modes[0].directOne, "report", "report");
    }

    // Throughput through the exports, in the default threading.
    if (wanted("throughput")) {
    std::printf("\nthroughput (threading %s) ...\n", defaultMode.c_str());
    std::fflush(stdout);
    const Throughput t = MeasureThroughput(units, defaultMode, repetitions, 240);
    kb::PrintRow("pipeline 1024^2 over TCP through the exports: " + Fps(t.pipeline),
                 "libavcodec + sws_scale direct: " + Fps(t.direct), t.ratio, ">= 0.95", kb::Verdict(t.ratio >= 0.95));
    }

    // Latency, and the decode time of each picture alone.
    if (wanted("latency") || wanted("stop")) {
    std::printf("latency (30 fps paced, threading %s) ...\n", defaultMode.c_str());
    std::fflush(stdout);
    SetThreading(defaultMode);
    const Latency latency = MeasureLatency(units, quick ? 5 : 8);
    const DecodeTimes decode = MeasureDecodeTimes(units, defaultMode, 3);
    const double decodeP50 = kb::Quantile(decode.decode, 0.5);
    const double decodeP99 = kb::Quantile(decode.decode, 0.99);
    const double convertP50 = kb::Quantile(decode.convert, 0.5);
    const double lateP50 = kb::Quantile(latency.fromNextStart, 0.5);
    const double lateP99 = kb::Quantile(latency.fromNextStart, 0.99);
    const double earlyP50 = kb::Quantile(latency.fromLastByte, 0.5);
    const double earlyP99 = kb::Quantile(latency.fromLastByte, 0.99);
    std::printf("  %zu frames; decode alone p50 %s p99 %s, conversion p50 %s\n",
                latency.fromNextStart.size(), Ms(decodeP50).c_str(), Ms(decodeP99).c_str(),
                Ms(convertP50).c_str());
    kb::PrintRow("latency from next picture's first bytes p50 " + Ms(lateP50) + " / p99 " +
                     Ms(lateP99),
                 "decode alone p50 " + Ms(decodeP50) + " / p99 " + Ms(decodeP99), lateP99 / decodeP99,
                 "p99 <= decode + 2 ms", kb::Verdict(lateP99 <= decodeP99 + 2e-3));
    kb::PrintRow("latency from picture's last byte p50 " + Ms(earlyP50) + " / p99 " + Ms(earlyP99),
                 "decode alone p50 " + Ms(decodeP50) + " / p99 " + Ms(decodeP99),
                 earlyP99 / decodeP99, "report (parser waits for next picture)", "report");
    kb::PrintRow("  of which the wait for the next picture (p50)", "frame interval " + Ms(kFrameInterval),
                 (earlyP50 - lateP50) / kFrameInterval, "report", "report");

    // Stop.
    if (wanted("stop")) {
    std::printf("stop ...\n");
    std::fflush(stdout);
    const std::vector<double> stalled = StopStalled(units, repetitions);
    kb::PrintRow("Stop, stalled server: median " + Ms(kb::Median(stalled)) + " (max " +
                     Ms(kb::Quantile(stalled, 1.0)) + ")",
                 "-", -1, "<= 50 ms", kb::Verdict(kb::Median(stalled) <= 0.050));
    const std::vector<double> steady = StopSteady(units, repetitions + 3);
    const double chunk = decodeP50 + convertP50;
    kb::PrintRow("Stop, steady 30 fps stream: median " + Ms(kb::Median(steady)) + " (max " +
                     Ms(kb::Quantile(steady, 1.0)) + ")",
                 "one chunk (decode + convert p50) " + Ms(chunk), kb::Median(steady) / chunk,
                 "<= chunk + 5 ms", kb::Verdict(kb::Median(steady) <= chunk + 5e-3));
    }
    }

    // File playback pacing.
    if (wanted("file")) {
    std::printf("file playback (%d x %d recording) ...\n", kSide, kSide);
    std::fflush(stdout);
    const std::string recording = cache + "/stream_" + std::to_string(kSide) + "_" +
                                  std::to_string(kStreamFrames) + "_s1.h264";
    // The pause comes on top of each frame's decoding and delivery. Their mean time is taken
    // from a paced 30 fps stream of the same pictures through the exports (from the bytes that
    // complete a picture to its frame notice), in alternation with the playback: paced, the
    // caches are as cold as between the pauses, which an unpaced stream would hide.
    SetThreading(defaultMode);
    std::vector<double> intervals, frameTimes;
    for (int r = 0; r < (quick ? 1 : 3); ++r) {
        intervals.push_back(FilePlaybackInterval(recording, 3.0));
        frameTimes.push_back(kb::Mean(MeasureLatency(units, 2.0).fromNextStart));
    }
    const double interval = kb::Median(intervals);
    const double expected = 0.030 + kb::Median(frameTimes);
    kb::PrintRow("file playback: mean frame interval " + Ms(interval) + " (" +
                     Fps(1.0 / interval) + ")",
                 "30 ms + decode-and-deliver " + Ms(expected - 0.030), interval / expected,
                 "within 1 ms", kb::Verdict(std::fabs(interval - expected) <= 1e-3));
    }

    DestroyD3D();
    DestroyClient();
    SetCallbackFunc(nullptr);
    SetAzCallbackFunc(nullptr);
    return g_frames.errors.load() == 0 ? 0 : 2;
}
