#include "camsim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "record/recording_format.h"
#include "streamgen.h"

namespace kesto::camsim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr double kTwoPi = 6.283185307179586476925286766559;
// Every blocking wait is cut into slices this long so that Stop() and a signal end the
// simulator within a fraction of a second, whatever a connection is doing.
constexpr int kPollSliceMs = 100;

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw Error("cannot open " + path);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
}

}  // namespace

double SweepAzimuth(double start, double rate, int fps, int64_t index) {
    const double azimuth = start + rate * static_cast<double>(index) / fps;
    const double wrapped = std::fmod(azimuth, kTwoPi);
    return wrapped < 0 ? wrapped + kTwoPi : wrapped;
}

std::vector<std::vector<uint8_t>> LoadRecording(const std::string& rawPath) {
    const std::string sidecarPath = SidecarFileName(rawPath);
    const std::vector<uint8_t> raw = ReadWholeFile(rawPath);
    const std::vector<uint8_t> sizes = ReadWholeFile(sidecarPath);
    if (sizes.empty() || sizes.size() % 4 != 0) {
        throw Error(sidecarPath + " is not a list of 4-byte packet lengths");
    }
    std::vector<std::vector<uint8_t>> packets;
    std::size_t offset = 0;
    for (std::size_t i = 0; i < sizes.size(); i += 4) {
        const int32_t size = DecodeSidecarRecord(&sizes[i]);
        if (size <= 0 || static_cast<std::size_t>(size) > raw.size() - offset) {
            throw Error(sidecarPath + ": packet " + std::to_string(i / 4) + " of " +
                        std::to_string(size) + " bytes does not fit " + rawPath);
        }
        packets.emplace_back(raw.begin() + static_cast<std::ptrdiff_t>(offset),
                             raw.begin() + static_cast<std::ptrdiff_t>(offset + size));
        offset += static_cast<std::size_t>(size);
    }
    if (offset != raw.size()) {
        throw Error(sidecarPath + " accounts for " + std::to_string(offset) + " of the " +
                    std::to_string(raw.size()) + " bytes of " + rawPath);
    }
    return packets;
}

Server::Server(const ServerOptions& options) : options_(options) {
    if (options_.fps < 1 || options_.fps > 1000) throw Error("frame rate must be 1..1000");
    if (!options_.replayPath.empty()) {
        recording_ = LoadRecording(options_.replayPath);
    } else {
        streamgen::GeneratorOptions generator;
        generator.side = options_.side;
        generator.fps = options_.fps;
        generator.gop = options_.gop;
        try {
            streamgen::ValidateOptions(generator);
        } catch (const streamgen::Error& error) {
            throw Error(error.what());
        }
    }

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* addresses = nullptr;
    const std::string service = std::to_string(options_.port);
    const int resolved = getaddrinfo(options_.host.c_str(), service.c_str(), &hints, &addresses);
    if (resolved != 0) {
        throw Error("cannot resolve " + options_.host + ": " + gai_strerror(resolved));
    }
    std::string failure = "no address for " + options_.host;
    for (addrinfo* a = addresses; a != nullptr && listener_ < 0; a = a->ai_next) {
        const int s = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            failure = SystemError("socket");
            continue;
        }
        const int yes = 1;
        setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(s, a->ai_addr, a->ai_addrlen) != 0 || listen(s, 16) != 0) {
            failure = SystemError("cannot listen on " + options_.host + ":" + service);
            close(s);
            continue;
        }
        listener_ = s;
    }
    freeaddrinfo(addresses);
    if (listener_ < 0) throw Error(failure);

    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&bound), &length);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
}

Server::~Server() {
    Stop();
    Join();
    ReapConnections(true);
    if (listener_ >= 0) close(listener_);
}

void Server::Start() {
    runner_ = std::thread([this] { Run(); });
}

void Server::Join() {
    if (runner_.joinable()) runner_.join();
}

void Server::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    stopCv_.notify_all();
}

void Server::Log(const std::string& line) {
    if (log_) log_(line);
}

bool Server::WaitFor(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(mutex_);
    stopCv_.wait_until(lock, until, [this] { return stopping_.load(); });
    return !stopping_;
}

void Server::ReapConnections(bool all) {
    std::list<Connection> finished;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            auto next = std::next(it);
            if (all || it->done) finished.splice(finished.end(), connections_, it);
            it = next;
        }
    }
    for (auto& connection : finished) connection.thread.join();
}

void Server::Run(Clock::time_point deadline) {
    while (!stopping_) {
        if (stopCheck_ && stopCheck_()) {
            Log("stopping on signal");
            Stop();
            break;
        }
        if (Clock::now() >= deadline) {
            Log("time is up");
            Stop();
            break;
        }
        ReapConnections(false);
        const bool limitReached =
            options_.maxConnections > 0 && accepted_ >= options_.maxConnections;
        if (limitReached) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (connections_.empty()) break;
        }
        pollfd listening{listener_, POLLIN, 0};
        const int ready = poll(&listening, limitReached ? 0 : 1, kPollSliceMs);
        if (limitReached || ready <= 0) continue;
        const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        const int id = ++accepted_;
        std::lock_guard<std::mutex> lock(mutex_);
        connections_.emplace_back();
        Connection& connection = connections_.back();
        connection.thread = std::thread([this, client, id, &connection] {
            Serve(client, id);
            connection.done = true;
        });
    }
    ReapConnections(true);
}

bool Server::WriteSome(int socket, const uint8_t* data, std::size_t size) {
    while (size > 0) {
        if (stopping_) return false;
        pollfd writable{socket, POLLOUT, 0};
        if (poll(&writable, 1, kPollSliceMs) <= 0) continue;
        if (writable.revents & (POLLERR | POLLHUP)) return false;
        const ssize_t n = send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

void Server::StallUntilStopped(int socket) {
    // Keeps the connection open without sending until the simulator stops or the connection
    // fails. The client's end of stream (it shuts down its sending side at once) is no reason
    // to go: a stalled instrument does not notice its client either.
    while (!stopping_) {
        pollfd failed{socket, 0, 0};
        if (poll(&failed, 1, kPollSliceMs) > 0 && (failed.revents & (POLLHUP | POLLERR))) return;
    }
}

Server::Outcome Server::Send(int socket, const uint8_t* data, std::size_t size, int64_t& sent) {
    const Faults& f = options_.faults;
    thread_local std::minstd_rand random(std::random_device{}());
    std::vector<uint8_t> buffer(data, data + size);
    if (f.garbageAfter >= 0) {
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            if (sent + static_cast<int64_t>(i) >= f.garbageAfter) {
                buffer[i] = static_cast<uint8_t>(random());
            }
        }
    }
    std::size_t offset = 0;
    while (true) {
        // The nearest byte count at which a fault fires, measured from this connection's start.
        int64_t limit = INT64_MAX;
        for (int64_t threshold : {f.closeAfter, f.stallAfter, f.resetAfter}) {
            if (threshold >= 0) limit = std::min(limit, threshold);
        }
        if (sent >= limit) {
            if (sent == f.resetAfter) return Outcome::Reset;
            if (sent == f.closeAfter) return Outcome::Closed;
            return Outcome::Stalled;
        }
        if (offset == buffer.size()) return Outcome::Sent;
        std::size_t chunk = buffer.size() - offset;
        chunk =
            static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(chunk), limit - sent));
        if (f.trickleBytes > 0) chunk = std::min(chunk, static_cast<std::size_t>(f.trickleBytes));
        if (!WriteSome(socket, buffer.data() + offset, chunk)) {
            return stopping_ ? Outcome::Stopped : Outcome::PeerGone;
        }
        offset += chunk;
        sent += static_cast<int64_t>(chunk);
        if (f.trickleBytes > 0 && offset < buffer.size() &&
            !WaitFor(Clock::now() + std::chrono::milliseconds(f.trickleDelayMs))) {
            return Outcome::Stopped;
        }
    }
}

void Server::Serve(int socket, int id) {
    const std::string name = "connection " + std::to_string(id);
    Log(name + ": opened");
    Outcome outcome = Outcome::Sent;
    int64_t sent = 0;
    int64_t frames = 0;
    try {
        std::unique_ptr<streamgen::StreamGenerator> generator;
        if (recording_.empty()) {
            streamgen::GeneratorOptions generatorOptions;
            generatorOptions.side = options_.side;
            generatorOptions.fps = options_.fps;
            generatorOptions.gop = options_.gop;
            generator = std::make_unique<streamgen::StreamGenerator>(generatorOptions);
        }
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(1.0 / options_.fps));
        const Clock::time_point start = Clock::now();
        while (outcome == Outcome::Sent) {
            if (!WaitFor(start + period * frames)) {
                outcome = Outcome::Stopped;
                break;
            }
            std::vector<uint8_t> encoded;
            const std::vector<uint8_t>* packet = nullptr;
            if (generator) {
                const double azimuth =
                    SweepAzimuth(options_.azimuthStart, options_.azimuthRate, options_.fps, frames);
                encoded = generator->NextFrame(static_cast<float>(azimuth));
                packet = &encoded;
            } else {
                packet = &recording_[static_cast<std::size_t>(frames) % recording_.size()];
            }
            // A zero threshold fires before the first byte: Send checks before writing.
            outcome = Send(socket, packet->data(), packet->size(), sent);
            ++frames;
        }
    } catch (const std::exception& error) {
        Log(name + ": " + error.what());
    }
    if (outcome == Outcome::Stalled) {
        Log(name + ": stalled after " + std::to_string(sent) + " bytes");
        StallUntilStopped(socket);
    }
    if (outcome == Outcome::Reset) {
        // A zero linger time makes close() abort the connection: the client's recv() fails
        // with "connection reset" instead of seeing an orderly end of stream.
        linger abort{1, 0};
        setsockopt(socket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    close(socket);
    static const char* const kOutcomes[] = {"sent",   "client hung up", "stopped",
                                            "closed", "reset",          "stalled"};
    Log(name + ": ended (" + kOutcomes[static_cast<int>(outcome)] + ") after " +
        std::to_string(frames) + " frames, " + std::to_string(sent) + " bytes");
}

}  // namespace kesto::camsim
