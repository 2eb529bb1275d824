// kesto-camsim: a simulated instrument camera. Serves square H.264 test video with an azimuth
// record before every frame (or a recording pair in a loop) to every client that connects.
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

extern "C" {
#include <libavutil/log.h>
}

#include "../common/command_line.h"
#include "camsim_server.h"

namespace {

using kesto::tools::OptionReader;
using kesto::tools::ParseInteger;
using kesto::tools::ParseReal;
using kesto::tools::UsageError;

constexpr const char* kUsage =
    "usage: kesto-camsim [options]\n"
    "A simulated instrument camera: a TCP server that sends every client its own H.264 stream\n"
    "with an azimuth record before every frame. It only sends; it never reads.\n"
    "\n"
    "Where\n"
    "  --host ADDR            address to listen on (default 127.0.0.1)\n"
    "  --port N               port, 0..65535; 0 picks a free one (default 8010). The address\n"
    "                         is printed as 'listening on ADDR:PORT' once the port is open\n"
    "What\n"
    "  --side N               live video: picture width and height, even, 16..4096 (default 512)\n"
    "  --fps N                frames per second, 1..1000, live and replay (default 30)\n"
    "  --gop N                live video: IDR interval in frames (default 30)\n"
    "  --azimuth-start RAD    live video: azimuth of the first frame (default 0)\n"
    "  --azimuth-rate RAD/S   live video: sweep of the azimuth, radians per second (default 0.5);\n"
    "                         sent wrapped into [0, 2*pi)\n"
    "  --replay PATH          send this recording (PATH and its _pkt_sizes.bin sidecar) in a\n"
    "                         loop instead of live video\n"
    "Faults (byte counts per connection, counting every byte sent)\n"
    "  --close-after N        close the connection after N bytes\n"
    "  --stall-after N        stop sending after N bytes but keep the connection open until\n"
    "                         the simulator ends\n"
    "  --reset-after N        reset the connection after N bytes (SO_LINGER 0, then close)\n"
    "  --garbage-after N      from byte N on, send random bytes instead of video (0: only "
    "garbage)\n"
    "  --trickle N            send in writes of at most N bytes ...\n"
    "  --trickle-delay-ms N   ... with N ms between them (default 2)\n"
    "Ending\n"
    "  --max-connections N    serve N connections, then exit once they have ended\n"
    "  --seconds N            exit after N seconds\n"
    "  SIGINT or SIGTERM      end every connection and exit 0\n"
    "  --quiet                no connection log on stderr\n"
    "  --help                 show this text\n";

struct Arguments {
    kesto::camsim::ServerOptions server;
    long long seconds = 0;
    bool quiet = false;
    bool help = false;
};

Arguments Parse(int argc, char** argv) {
    constexpr long long kMaxBytes = 1LL << 50;
    Arguments args;
    OptionReader reader(argc, argv);
    while (reader.Next()) {
        const std::string option = reader.Option();
        auto takeValue = [&] { return reader.Value(); };
        auto flag = [&] { reader.NoValue(); };
        auto& s = args.server;
        auto& f = s.faults;
        if (option == "--help" || option == "-h") {
            flag();
            args.help = true;
        } else if (option == "--quiet") {
            flag();
            args.quiet = true;
        } else if (option == "--host") {
            s.host = takeValue();
            if (s.host.empty()) throw UsageError{"--host needs an address"};
        } else if (option == "--port") {
            s.port = static_cast<uint16_t>(ParseInteger(option, takeValue(), 0, 65535));
        } else if (option == "--side") {
            s.side = static_cast<int>(ParseInteger(option, takeValue(), 16, 4096));
            if (s.side % 2 != 0) throw UsageError{"--side needs an even number"};
        } else if (option == "--fps") {
            s.fps = static_cast<int>(ParseInteger(option, takeValue(), 1, 1000));
        } else if (option == "--gop") {
            s.gop = static_cast<int>(ParseInteger(option, takeValue(), 1, 100000));
        } else if (option == "--azimuth-start") {
            s.azimuthStart = ParseReal(option, takeValue());
        } else if (option == "--azimuth-rate") {
            s.azimuthRate = ParseReal(option, takeValue());
        } else if (option == "--replay") {
            s.replayPath = takeValue();
            if (s.replayPath.empty()) throw UsageError{"--replay needs a file name"};
        } else if (option == "--close-after") {
            f.closeAfter = ParseInteger(option, takeValue(), 0, kMaxBytes);
        } else if (option == "--stall-after") {
            f.stallAfter = ParseInteger(option, takeValue(), 0, kMaxBytes);
        } else if (option == "--reset-after") {
            f.resetAfter = ParseInteger(option, takeValue(), 0, kMaxBytes);
        } else if (option == "--garbage-after") {
            f.garbageAfter = ParseInteger(option, takeValue(), 0, kMaxBytes);
        } else if (option == "--trickle") {
            f.trickleBytes = static_cast<int>(ParseInteger(option, takeValue(), 1, 1 << 20));
        } else if (option == "--trickle-delay-ms") {
            f.trickleDelayMs = static_cast<int>(ParseInteger(option, takeValue(), 0, 10000));
        } else if (option == "--max-connections") {
            s.maxConnections = static_cast<int>(ParseInteger(option, takeValue(), 1, 1000000));
        } else if (option == "--seconds") {
            args.seconds = ParseInteger(option, takeValue(), 1, 1000000000);
        } else {
            throw UsageError{"unknown argument '" + option + "'"};
        }
    }
    return args;
}

volatile std::sig_atomic_t g_signalled = 0;

extern "C" void OnSignal(int) {
    g_signalled = 1;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = 0;
    const std::optional<Arguments> parsed =
        kesto::tools::ParseCommandLine("kesto-camsim", kUsage, argc, argv, Parse, exitCode);
    if (!parsed) return exitCode;
    const Arguments& args = *parsed;

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    av_log_set_level(AV_LOG_ERROR);  // libx264's banner and statistics are not wanted here

    try {
        kesto::camsim::Server server(args.server);
        if (!args.quiet) {
            server.SetLog([](const std::string& line) {
                std::fprintf(stderr, "kesto-camsim: %s\n", line.c_str());
            });
        }
        server.SetStopCheck([] { return g_signalled != 0; });
        std::printf("listening on %s:%u\n", args.server.host.c_str(), server.Port());
        std::fflush(stdout);
        auto deadline = std::chrono::steady_clock::time_point::max();
        if (args.seconds > 0) {
            deadline = std::chrono::steady_clock::now() + std::chrono::seconds(args.seconds);
        }
        server.Run(deadline);
    } catch (const kesto::camsim::Error& error) {
        std::fprintf(stderr, "kesto-camsim: %s\n", error.what());
        return 1;
    }
    return 0;
}
