// kesto-streamgen: writes a test recording (raw H.264 file plus sidecar) for the video client.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "../common/command_line.h"
#include "streamgen.h"

namespace {

using kesto::tools::OptionReader;
using kesto::tools::ParseInteger;
using kesto::tools::ParseReal;
using kesto::tools::UsageError;

constexpr const char* kUsage =
    "usage: kesto-streamgen --out PATH [options]\n"
    "Writes square H.264 test video carrying an azimuth record before every picture, as a\n"
    "recording pair: PATH (packets back to back) and its sidecar of packet lengths.\n"
    "\n"
    "  --out PATH             raw stream file to write (required)\n"
    "  --side N               picture width and height, even, 16..4096 (default 256)\n"
    "  --frames N             number of pictures, >= 1 (default 90)\n"
    "  --fps N                frame rate written into the stream (default 30)\n"
    "  --gop N                IDR interval in pictures (default 30)\n"
    "  --crf N                constant quality 0..51 (default 23)\n"
    "  --bitrate N            average bits per second instead of constant quality\n"
    "  --slices N             slices per picture, 1..side/16 (default 1)\n"
    "  --azimuth-start RAD    azimuth of the first picture (default 0)\n"
    "  --azimuth-step RAD     azimuth increment per picture (default 0.01); values are\n"
    "                         written as computed, not wrapped into one turn\n"
    "  --no-azimuth           leave the azimuth record out\n"
    "  --keep-encoder-sei     keep libx264's own SEI units (its version banner)\n"
    "  --no-sidecar           write the raw file only\n"
    "  --help                 show this text\n";

struct Arguments {
    kesto::streamgen::GeneratorOptions generator;
    long long frames = 90;
    double azimuthStart = 0.0;
    double azimuthStep = 0.01;
    std::string out;
    bool sidecar = true;
    bool help = false;
};

Arguments Parse(int argc, char** argv) {
    Arguments args;
    OptionReader reader(argc, argv);
    while (reader.Next()) {
        const std::string option = reader.Option();
        auto takeValue = [&] { return reader.Value(); };
        auto flag = [&] { reader.NoValue(); };

        if (option == "--help" || option == "-h") {
            flag();
            args.help = true;
        } else if (option == "--out") {
            args.out = takeValue();
            if (args.out.empty()) throw UsageError{"--out needs a file name"};
        } else if (option == "--side") {
            args.generator.side = static_cast<int>(ParseInteger(option, takeValue(), 16, 4096));
        } else if (option == "--frames") {
            args.frames = ParseInteger(option, takeValue(), 1, 1000000);
        } else if (option == "--fps") {
            args.generator.fps = static_cast<int>(ParseInteger(option, takeValue(), 1, 1000));
        } else if (option == "--gop") {
            args.generator.gop = static_cast<int>(ParseInteger(option, takeValue(), 1, 100000));
        } else if (option == "--crf") {
            args.generator.crf = static_cast<int>(ParseInteger(option, takeValue(), 0, 51));
        } else if (option == "--bitrate") {
            args.generator.bitrate = ParseInteger(option, takeValue(), 1, 1000000000);
        } else if (option == "--slices") {
            args.generator.slices = static_cast<int>(ParseInteger(option, takeValue(), 1, 256));
        } else if (option == "--azimuth-start") {
            args.azimuthStart = ParseReal(option, takeValue());
        } else if (option == "--azimuth-step") {
            args.azimuthStep = ParseReal(option, takeValue());
        } else if (option == "--no-azimuth") {
            flag();
            args.generator.azimuthRecord = false;
        } else if (option == "--keep-encoder-sei") {
            flag();
            args.generator.keepEncoderSei = true;
        } else if (option == "--no-sidecar") {
            flag();
            args.sidecar = false;
        } else {
            throw UsageError{"unknown argument '" + option + "'"};
        }
    }
    if (!args.help && args.out.empty()) throw UsageError{"--out is required"};
    return args;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments args;
    try {
        args = Parse(argc, argv);
        if (!args.help) kesto::streamgen::ValidateOptions(args.generator);
    } catch (const UsageError& error) {
        std::fprintf(stderr, "kesto-streamgen: %s\n(try --help)\n", error.message.c_str());
        return 2;
    } catch (const kesto::streamgen::Error& error) {
        std::fprintf(stderr, "kesto-streamgen: %s\n(try --help)\n", error.what());
        return 2;
    }
    if (args.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }

    av_log_set_level(AV_LOG_ERROR);  // libx264's banner and statistics are not wanted here
    try {
        kesto::streamgen::StreamGenerator generator(args.generator);
        std::vector<std::vector<uint8_t>> packets;
        packets.reserve(static_cast<size_t>(args.frames));
        for (long long i = 0; i < args.frames; ++i) {
            const double azimuth = args.azimuthStart + static_cast<double>(i) * args.azimuthStep;
            packets.push_back(generator.NextFrame(static_cast<float>(azimuth)));
        }
        const std::string sidecar =
            kesto::streamgen::WriteRecording(args.out, packets, args.sidecar);
        std::printf("wrote %lld pictures (%dx%d) to %s%s%s\n", args.frames, args.generator.side,
                    args.generator.side, args.out.c_str(), sidecar.empty() ? "" : " and ",
                    sidecar.c_str());
    } catch (const kesto::streamgen::Error& error) {
        std::fprintf(stderr, "kesto-streamgen: %s\n", error.what());
        return 1;
    }
    return 0;
}
