#include "bench_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "record/recording_format.h"
#include "streamgen.h"

namespace kesto::bench {

double Quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const double rank = std::ceil(q * static_cast<double>(values.size()));
    const std::size_t index =
        static_cast<std::size_t>(std::clamp(rank, 1.0, static_cast<double>(values.size()))) - 1;
    return values[index];
}

double Mean(const std::vector<double>& values) {
    if (values.empty()) return 0;
    double sum = 0;
    for (double v : values) sum += v;
    return sum / static_cast<double>(values.size());
}

void PrintRow(const std::string& figure, const std::string& baseline, double ratio,
              const std::string& goal, const std::string& verdict) {
    char ratioText[32] = "-";
    if (ratio >= 0) std::snprintf(ratioText, sizeof ratioText, "%.3f", ratio);
    std::printf("ROW\t%s\t%s\t%s\t%s\t%s\n", figure.c_str(), baseline.c_str(), ratioText,
                goal.c_str(), verdict.c_str());
    std::fflush(stdout);
}

std::string FormatTime(double seconds) {
    char text[32];
    if (seconds >= 1e-3) {
        std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
    } else if (seconds >= 1e-6) {
        std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
    } else {
        std::snprintf(text, sizeof text, "%.1f ns", seconds * 1e9);
    }
    return text;
}

namespace {
double TimeCalls(const std::function<void()>& f, long calls) {
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < calls; ++i) f();
    return Seconds(Clock::now() - start);
}

long CallsPerBlock(const std::function<void()>& f, double blockSeconds) {
    f();  // warm: first-touch of buffers, lazy set-up
    long calls = 1;
    double t = TimeCalls(f, calls);
    while (t < blockSeconds / 4 && calls < (1L << 30)) {
        calls *= 4;
        t = TimeCalls(f, calls);
    }
    return std::max(1L, static_cast<long>(static_cast<double>(calls) * blockSeconds /
                                          std::max(t, 1e-9)));
}
}  // namespace

Paired PairedRatio(const std::function<void()>& a, const std::function<void()>& b,
                   double budgetSeconds, double blockSeconds) {
    const long callsA = CallsPerBlock(a, blockSeconds);
    const long callsB = CallsPerBlock(b, blockSeconds);
    std::vector<double> ratios;
    std::vector<double> timesA;
    std::vector<double> timesB;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(budgetSeconds));
    for (int round = 0; round < 5 || (Clock::now() < end && round < 100000); ++round) {
        double ta = 0;
        double tb = 0;
        if (round % 2 == 0) {
            ta = TimeCalls(a, callsA) / static_cast<double>(callsA);
            tb = TimeCalls(b, callsB) / static_cast<double>(callsB);
        } else {
            tb = TimeCalls(b, callsB) / static_cast<double>(callsB);
            ta = TimeCalls(a, callsA) / static_cast<double>(callsA);
        }
        ratios.push_back(ta / tb);
        timesA.push_back(ta);
        timesB.push_back(tb);
    }
    return Paired{Median(ratios), Median(timesA), Median(timesB)};
}

double MedianTime(const std::function<void()>& f, double budgetSeconds, double blockSeconds) {
    const long calls = CallsPerBlock(f, blockSeconds);
    std::vector<double> times;
    const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(budgetSeconds));
    for (int round = 0; round < 3 || (Clock::now() < end && round < 100000); ++round) {
        times.push_back(TimeCalls(f, calls) / static_cast<double>(calls));
    }
    return Median(times);
}

std::vector<Bytes> BenchStream(const std::string& cacheDir, int side, int frames, int slices) {
    const std::string path = cacheDir + "/stream_" + std::to_string(side) + "_" +
                             std::to_string(frames) + "_s" + std::to_string(slices) + ".h264";
    std::ifstream raw(path, std::ios::binary);
    std::ifstream sizes(SidecarFileName(path), std::ios::binary);
    if (raw && sizes) {
        const Bytes all((std::istreambuf_iterator<char>(raw)), std::istreambuf_iterator<char>());
        const Bytes records((std::istreambuf_iterator<char>(sizes)),
                            std::istreambuf_iterator<char>());
        std::vector<Bytes> units;
        std::size_t offset = 0;
        for (std::size_t i = 0; i + 4 <= records.size(); i += 4) {
            const auto size = static_cast<std::size_t>(DecodeSidecarRecord(&records[i]));
            if (size > all.size() - offset) break;
            units.emplace_back(all.begin() + static_cast<long>(offset),
                               all.begin() + static_cast<long>(offset + size));
            offset += size;
        }
        if (units.size() == static_cast<std::size_t>(frames) && offset == all.size()) return units;
    }
    streamgen::GeneratorOptions options;
    options.side = side;
    options.gop = 30;
    options.slices = slices;
    streamgen::StreamGenerator generator(options);
    std::vector<Bytes> units;
    // The azimuth numbers the pictures (in thousandths of a radian), so that a benchmark can
    // tell which picture a frame notice belongs to.
    for (int i = 0; i < frames; ++i) units.push_back(generator.NextFrame(0.001f * static_cast<float>(i)));
    streamgen::WriteRecording(path, units);
    return units;
}

LoopbackServer::LoopbackServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener_, 4) != 0) {
        close(listener_);
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
}

LoopbackServer::~LoopbackServer() {
    Stop();
    if (thread_.joinable()) thread_.join();
    close(listener_);
}

std::string LoopbackServer::Uri() const {
    return "tcp://127.0.0.1:" + std::to_string(port_);
}

void LoopbackServer::Serve(std::function<void(int)> session) {
    thread_ = std::thread([this, session = std::move(session)] {
        // Accept with a bound wait: a client that never comes must not hold the benchmark.
        for (int slice = 0; slice < 100 && !stopping_; ++slice) {
            pollfd ready{listener_, POLLIN, 0};
            if (poll(&ready, 1, 100) <= 0) continue;
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) continue;
            const int yes = 1;
            setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
            session(client);
            close(client);
            return;
        }
    });
}

void LoopbackServer::Stop() {
    stopping_ = true;
}

bool LoopbackServer::SendAll(int socket, const uint8_t* data, std::size_t size) const {
    while (size > 0) {
        if (stopping_) return false;
        pollfd writable{socket, POLLOUT, 0};
        if (poll(&writable, 1, 50) <= 0) continue;
        const ssize_t n = send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void LoopbackServer::WaitUntilStopped() const {
    for (int slice = 0; slice < 600 && !stopping_; ++slice) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void SendUnpaced(const LoopbackServer& server, int socket, const std::vector<Bytes>& units) {
    for (std::size_t i = 0; !server.Stopping(); i = (i + 1) % units.size()) {
        if (!server.SendAll(socket, units[i].data(), units[i].size())) return;
    }
}

}  // namespace kesto::bench
