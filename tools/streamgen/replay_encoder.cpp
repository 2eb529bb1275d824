// StreamGenerator for the Windows build: replays access units that the Linux kesto-streamgen
// encoded at build time (stream_bank.cmake), with the azimuth record put in front as the
// libx264 generator does (access_unit.h).
//
// Cross-building libx264 for the tests alone would cost a second FFmpeg build (a libavcodec
// with a GPL encoder must not be the one the shipped decoder links). The azimuth record is
// the only part of an access unit that depends on the caller, and it is added here, so the
// replayed streams carry exactly the azimuths the tests ask for; the pictures repeat after
// the pre-encoded length, which is a whole number of IDR intervals.
#include <fstream>
#include <iterator>

#include "access_unit.h"
#include "record/recording_format.h"
#include "streamgen.h"

namespace kesto::streamgen {

namespace {

// The file the build writes for a set of options; stream_bank.cmake uses the same pattern.
std::string BankFileName(const GeneratorOptions& options) {
    std::string name = "s" + std::to_string(options.side) + "-g" + std::to_string(options.gop) +
                       "-f" + std::to_string(options.fps) + "-c" + std::to_string(options.crf) +
                       "-b" + std::to_string(options.bitrate) + "-n" +
                       std::to_string(options.slices);
    if (options.keepEncoderSei) name += "-sei";
    return name + ".h264";
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Error("cannot open " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>());
}

}  // namespace

struct StreamGenerator::Impl {
    GeneratorOptions options;
    std::vector<std::vector<uint8_t>> accessUnits;
    int64_t frames = 0;

    void Load() {
        const std::string raw = std::string(KESTO_STREAM_BANK_DIR) + "/" + BankFileName(options);
        if (!std::ifstream(raw, std::ios::binary)) {
            throw Error("no pre-encoded stream " + raw +
                        " for these options; add them to tools/streamgen/stream_bank.cmake");
        }
        const std::vector<uint8_t> bytes = ReadAll(raw);
        const std::vector<uint8_t> sizes = ReadAll(SidecarFileName(raw));
        std::size_t offset = 0;
        for (std::size_t i = 0; i + 4 <= sizes.size(); i += 4) {
            const int32_t size = DecodeSidecarRecord(&sizes[i]);
            if (size < 0 || offset + static_cast<std::size_t>(size) > bytes.size()) {
                throw Error(raw + " and its sidecar do not match");
            }
            accessUnits.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
            offset += static_cast<std::size_t>(size);
        }
        if (accessUnits.empty() || offset != bytes.size() ||
            accessUnits.size() % static_cast<std::size_t>(options.gop) != 0) {
            throw Error(raw + " is not a whole number of IDR intervals");
        }
    }
};

StreamGenerator::StreamGenerator(const GeneratorOptions& options) : impl_(new Impl) {
    ValidateOptions(options);
    impl_->options = options;
    impl_->Load();
}

StreamGenerator::~StreamGenerator() = default;

std::vector<uint8_t> StreamGenerator::NextFrame(float azimuth) {
    const std::vector<uint8_t>& unit =
        impl_->accessUnits[static_cast<std::size_t>(impl_->frames) % impl_->accessUnits.size()];
    ++impl_->frames;
    return AssembleAccessUnit(unit.data(), unit.size(), impl_->options, azimuth);
}

int64_t StreamGenerator::FramesGenerated() const {
    return impl_->frames;
}

const GeneratorOptions& StreamGenerator::Options() const {
    return impl_->options;
}

}  // namespace kesto::streamgen
