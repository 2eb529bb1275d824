#include "decoder/decoder_sink.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "decoder/decoder_library.h"
#include "decoder/sei_record.h"
#include "decoder/stream_stats.h"
#include "display/display_manager.h"
#include "messages/message_channel.h"
#include "platform/clock.h"

namespace kesto {

int SquareFrameSide(int size) {
    const int quads = size / 4;
    const double side = std::sqrt(static_cast<double>(quads));
    if (side != std::floor(side)) return -1;  // also a negative size: sqrt gives NaN
    return static_cast<int>(side);
}

namespace {
// The azimuth trace goes out with every frame, so it is put together in a caller's buffer
// rather than on the heap. std::to_chars writes "%g" with 6 significant digits in the C
// locale, whatever locale the host runs in.
const char* AzimuthMessage(double value, char (&buffer)[96]) {
    static constexpr char kPrefix[] = "DecoderSink::checkForKestoInfoNAL received azimuth of ";
    std::memcpy(buffer, kPrefix, sizeof kPrefix - 1);
    char* const end = buffer + sizeof buffer - 1;
    const std::to_chars_result written =
        std::to_chars(buffer + sizeof kPrefix - 1, end, value, std::chars_format::general, 6);
    *written.ptr = '\0';
    return buffer;
}
}  // namespace

DecoderSink::DecoderSink(std::string name)
    : streamName(std::move(name)), decoder(EnsureDecoderBinding()) {
    if (!decoder.DecoderInit(0)) {
        const std::string message = "Decoder library failed to initialize: \n" +
                                    FetchDecoderLastError(decoder) + "\n(Is Toolkit installed?)";
        ReportMessage(MessageCode::Info, message);
        throw std::runtime_error(message);
    }
    ReportMessage(MessageCode::Info, "DecoderLib Initialized: \n" + FetchDecoderInfo(decoder));
    stats = StreamStatsRegistry::Get(streamName);
}

DecoderSink::~DecoderSink() {
    EnsureDecoderBinding().DecoderShutdown();
}

void DecoderSink::processData(const uint8_t* data, int count) {
    if (count == 0) return;
    stats->AddRateSample(stat_names::kBps, count, platform::SteadyTimeNs());
    EnsureDecoderBinding().DecoderOnNewData(data, count, 0);
    checkForKestoInfoNAL();

    const uint8_t* frame = nullptr;
    int size = 0;
    while (EnsureDecoderBinding().DecoderGetFrame(&frame, &size, 0)) {
        const unsigned side = updateFrameSize(size);
        GetDisplayManager()->DeliverFrame(frame, side, azimuth);
        stats->IncrementCounter(stat_names::kFramesReceived);
        stats->AddRateSample(stat_names::kFps, 1.0, platform::SteadyTimeNs());
        if (framePauseMs != 0) PauseAfterFrame();
    }
}

// A plain pause after every frame: playback runs at no more than one frame per pause plus the
// time the frame took to decode and deliver, whatever rate the recording was made at.
void DecoderSink::PauseAfterFrame() {
    std::this_thread::sleep_for(std::chrono::milliseconds(framePauseMs));
}

void DecoderSink::checkForKestoInfoNAL() {
    const uint8_t* unit = nullptr;
    int length = 0;
    while (EnsureDecoderBinding().DecoderGetSeiNAL(&unit, &length)) {
        const KestoInfo info = ParseKestoInfoRecord(unit, length);
        if (info.result == KestoInfoResult::SizeMismatch) {
            ReportMessage(MessageCode::Info, "Strange: readSeiSize encountered sz < payload_size");
            continue;
        }
        if (info.result != KestoInfoResult::Azimuth) continue;
        azimuth = static_cast<double>(info.azimuth);
        char text[96];
        ReportMessage(MessageCode::Info, AzimuthMessage(azimuth, text));
        NotifyAzimuth(azimuth);
    }
}

unsigned DecoderSink::updateFrameSize(int size) {
    const int side = SquareFrameSide(size);
    if (side < 0) throw std::runtime_error("Image dimensions are not square");
    if (side == streamWidth && side == streamHeight) return static_cast<unsigned>(side);

    streamWidth = side;
    streamHeight = side;
    stats->SetCounter(stat_names::kStreamWidth, streamWidth);
    stats->SetCounter(stat_names::kStreamHeight, streamHeight);
    return static_cast<unsigned>(side);
}

}  // namespace kesto
