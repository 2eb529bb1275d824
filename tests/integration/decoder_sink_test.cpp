// The decoder sink with the FFmpeg decoder library, fed directly so that the chunking is
// exact: the same stream cut into 1-byte chunks and into whole access units gives the same
// frames and azimuths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "api/message_channel.h"
#include "decoder/decoder_sink.h"
#include "decoder/stream_stats.h"
#include "platform/clock.h"
#include "streamgen.h"
#include "test_platform.h"

namespace kesto {
namespace {

std::vector<double> notified;
void KESTO_CALL OnAzimuth(double azimuth) {
    notified.push_back(azimuth);
}

std::vector<uint8_t> GenerateStream(int frames, std::vector<float>& azimuths) {
    streamgen::GeneratorOptions options;
    options.side = 64;
    options.gop = 5;
    streamgen::StreamGenerator generator(options);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < frames; ++i) {
        azimuths.push_back(0.1f * static_cast<float>(i));
        const auto packet = generator.NextFrame(azimuths.back());
        bytes.insert(bytes.end(), packet.begin(), packet.end());
    }
    const uint8_t delimiter[] = {0, 0, 0, 1, 9, 0xF0};
    bytes.insert(bytes.end(), delimiter, delimiter + sizeof delimiter);
    return bytes;
}

class DecoderSinkWithFFmpeg : public ::testing::Test {
  protected:
    void SetUp() override { test::SetDecoderLibrarySetting(FFMPEG_DECODER_PATH); }
};

TEST_F(DecoderSinkWithFFmpeg, ChunkBoundariesMayFallAnywhere) {
    SetAzimuthCallback(&OnAzimuth);
    std::vector<float> azimuths;
    const std::vector<uint8_t> bytes = GenerateStream(12, azimuths);

    for (std::size_t chunk : {std::size_t{1}, std::size_t{7}, bytes.size()}) {
        notified.clear();
        const std::string name = "chunk" + std::to_string(chunk);
        {
            DecoderSink sink(name);
            for (std::size_t offset = 0; offset < bytes.size(); offset += chunk) {
                const std::size_t length = std::min(chunk, bytes.size() - offset);
                sink.processData(bytes.data() + offset, static_cast<int>(length));
            }
            EXPECT_EQ(sink.streamWidth, 64);
            EXPECT_EQ(sink.azimuth.load(), static_cast<double>(azimuths.back()));
        }
        const auto stats = StreamStatsRegistry::Get(name);
        EXPECT_EQ(stats->Read("frames_received", platform::SteadyTimeNs()), 12.0) << chunk;
        ASSERT_EQ(notified.size(), azimuths.size()) << chunk;
        for (std::size_t i = 0; i < azimuths.size(); ++i) {
            EXPECT_EQ(notified[i], static_cast<double>(azimuths[i])) << chunk << " " << i;
        }
    }
    SetAzimuthCallback(nullptr);
}

}  // namespace
}  // namespace kesto
