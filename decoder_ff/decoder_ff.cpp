// The stand-in decoder library: FFmpeg's H.264 parser assembles access units from chunks cut
// anywhere, their SEI units are queued for the client, and the decoder's pictures are handed
// out as packed BGRX.
//
// Latency: the parser only knows an access unit is complete when the next one starts, so each
// picture comes out when the first NAL unit of the following access unit has been fed (for a
// finite stream, feeding any NAL unit that opens an access unit, e.g. an access unit delimiter
// 00 00 00 01 09 10, releases the last picture). The decoder itself adds no delay by default:
// it runs on the calling thread in low-delay mode (threading.h tells how to choose slice or
// frame threads; frame threads hold one picture each, and the client would then pair every
// picture with the azimuth of a later one). Access units are decoded one at a time as the
// client asks for pictures. Whatever is still held at DecoderShutdown is discarded.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "decoder/decoder_api.h"
#include "log_bridge.h"
#include "platform/environment.h"
#include "sei_scan.h"
#include "threading.h"

namespace kesto::decoder_ff {
namespace {

// The client drains the queues after every chunk; the caps only bound memory for a host that
// does not, by dropping the oldest entries. One chunk of 256 KiB may hold thousands of small
// access units (a still scene codes a picture in a few hundred bytes), so the SEI cap is far
// above that; decoded pictures never pile up, as access units are decoded one at a time when
// pictures are asked for.
constexpr size_t kMaxQueuedFrames = 16;
constexpr size_t kMaxQueuedSeiUnits = 16384;
constexpr size_t kMaxPendingBytes = 64u << 20;

std::string FfmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

// Copies `text` out under the two-call rule of decoder_api.h.
bool CopyOutText(const std::string& text, char* buffer, int* size) {
    if (size == nullptr) return false;
    const int needed = static_cast<int>(text.size()) + 1;
    if (buffer == nullptr) {
        *size = needed;
        return true;
    }
    if (*size < needed) {
        *size = needed;
        return false;
    }
    std::memcpy(buffer, text.c_str(), static_cast<size_t>(needed));
    *size = needed;
    return true;
}

// What decides how a decoded picture is converted; a new scaler is only built when it changes.
struct ConversionKey {
    int width = 0;
    int height = 0;
    int format = AV_PIX_FMT_NONE;
    bool fullRange = false;
    int colourspace = SWS_CS_DEFAULT;

    bool operator==(const ConversionKey& other) const {
        return width == other.width && height == other.height && format == other.format &&
               fullRange == other.fullRange && colourspace == other.colourspace;
    }
};

// The deprecated "J" formats only mean "full range"; swscale wants the plain format plus the
// range flag (and warns about the J formats on every new context).
AVPixelFormat PlainFormat(AVPixelFormat format, bool& fullRange) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P:
            fullRange = true;
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            fullRange = true;
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            fullRange = true;
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            fullRange = true;
            return AV_PIX_FMT_YUV440P;
        default:
            return format;
    }
}

int SwsColourspace(AVColorSpace space) {
    switch (space) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            return SWS_CS_DEFAULT;  // BT.601, also what unmarked streams get
    }
}

class Decoder {
  public:
    ~Decoder() { Release(); }

    bool Init() {
        Release();
        lastError.clear();
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        if (codec == nullptr) return Fail("libavcodec has no H.264 decoder");
        parser = av_parser_init(AV_CODEC_ID_H264);
        if (parser == nullptr) return Fail("libavcodec has no H.264 parser");
        context = avcodec_alloc_context3(codec);
        packet = av_packet_alloc();
        if (context == nullptr || packet == nullptr) {
            return Fail("out of memory allocating the H.264 decoder");
        }
        InstallFfmpegLogRouting();
        ApplyThreading();
        const int result = avcodec_open2(context, codec, nullptr);
        if (result < 0) return Fail("opening the H.264 decoder failed: " + FfmpegErrorText(result));
        return true;
    }

    void Release() {
        ClearFrames();
        av_frame_free(&scratch);
        av_packet_free(&packet);
        avcodec_free_context(&context);
        if (parser != nullptr) av_parser_close(parser);
        parser = nullptr;
        sws_freeContext(scaler);
        scaler = nullptr;
        scalerKey = ConversionKey{};
        seiUnits.clear();
        pending.clear();
        pending.shrink_to_fit();
        pendingUnits.clear();
        currentSei.clear();
        currentSei.shrink_to_fit();
        frameBuffer.clear();
        frameBuffer.shrink_to_fit();
        input.clear();
        input.shrink_to_fit();
        RemoveFfmpegLogRouting();
    }

    void Feed(const uint8_t* chunk, int chunkSize) {
        if (!Ready() || chunk == nullptr || chunkSize <= 0) return;  // 0 would flush the parser
        // libavcodec reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past the end of what it is
        // given, so the host's bytes go through a buffer with zeroed padding.
        const size_t padded = static_cast<size_t>(chunkSize) + AV_INPUT_BUFFER_PADDING_SIZE;
        if (input.size() < padded) input.resize(padded);
        std::memcpy(input.data(), chunk, static_cast<size_t>(chunkSize));
        std::memset(input.data() + chunkSize, 0, AV_INPUT_BUFFER_PADDING_SIZE);
        const uint8_t* data = input.data();
        int size = chunkSize;
        while (size > 0) {
            uint8_t* accessUnit = nullptr;
            int accessUnitSize = 0;
            const int used = av_parser_parse2(parser, context, &accessUnit, &accessUnitSize, data,
                                              size, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0) {
                LogToHost(kHostLevelError, "the H.264 parser rejected a chunk");
                return;
            }
            data += used;
            size -= used;
            if (accessUnitSize > 0) Queue(accessUnit, accessUnitSize);
            if (used == 0 && accessUnitSize == 0) return;  // no progress: never spin
        }
    }

    bool NextSei(const uint8_t** data, int* size) {
        if (data == nullptr || size == nullptr || seiUnits.empty()) return false;
        currentSei = std::move(seiUnits.front());
        seiUnits.pop_front();
        *data = currentSei.data();
        *size = static_cast<int>(currentSei.size());
        return true;
    }

    bool NextFrame(const uint8_t** data, int* size) {
        if (data == nullptr || size == nullptr) return false;
        for (;;) {
            while (frames.empty() && !pendingUnits.empty()) DecodeNextUnit();
            if (frames.empty()) return false;
            AVFrame* frame = frames.front();
            frames.pop_front();
            const bool converted = Convert(frame);
            av_frame_free(&frame);
            if (converted) {
                *data = frameBuffer.data();
                *size = static_cast<int>(frameBuffer.size());
                return true;
            }
        }
    }

    std::string Info() const {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        const unsigned codecVersion = avcodec_version();
        const unsigned scaleVersion = swscale_version();
        char text[256];
        std::snprintf(text, sizeof text,
                      "FFmpeg %s decoder (%s); libavcodec %u.%u.%u; libswscale %u.%u.%u",
                      codec != nullptr ? codec->name : "h264",
                      codec != nullptr && codec->long_name != nullptr ? codec->long_name : "H.264",
                      AV_VERSION_MAJOR(codecVersion), AV_VERSION_MINOR(codecVersion),
                      AV_VERSION_MICRO(codecVersion), AV_VERSION_MAJOR(scaleVersion),
                      AV_VERSION_MINOR(scaleVersion), AV_VERSION_MICRO(scaleVersion));
        return text;
    }

    const std::string& LastError() const { return lastError; }

  private:
    bool Ready() const {
        return parser != nullptr && packet != nullptr && context != nullptr &&
               avcodec_is_open(context) != 0;
    }

    // Read at every DecoderInit, so that a host (or a benchmark) can change it between
    // streams without reloading the library.
    void ApplyThreading() {
        const std::optional<std::string> value = platform::EnvironmentValue(kThreadingVariable);
        const Threading threading =
            ParseThreading(value ? value->c_str() : nullptr,
                           static_cast<int>(std::thread::hardware_concurrency()));
        if (!threading.valid) {
            const std::string text = std::string(kThreadingVariable) + "=" + *value +
                                     " is not single, slice[:N] or frame[:N]; decoding on one "
                                     "thread";
            LogToHost(kHostLevelWarning, text.c_str());
        }
        switch (threading.mode) {
            case ThreadingMode::Single:
                context->thread_count = 1;
                context->flags |= AV_CODEC_FLAG_LOW_DELAY;
                break;
            case ThreadingMode::Slice:
                context->thread_type = FF_THREAD_SLICE;
                context->thread_count = threading.threads;
                context->flags |= AV_CODEC_FLAG_LOW_DELAY;
                break;
            case ThreadingMode::Frame:
                // Low delay would silently switch frame threading off again.
                context->thread_type = FF_THREAD_FRAME;
                context->thread_count = threading.threads;
                break;
        }
    }

    bool Fail(const std::string& reason) {
        Release();
        lastError = reason;
        LogToHost(kHostLevelError, reason.c_str());
        return false;
    }

    // An access unit's SEI units are queued at once, so that the client reads a picture's
    // record before the picture; the access unit itself waits for the client to ask for
    // pictures. Decoding one access unit per picture asked for keeps decoded pictures (4 MiB
    // each at 1024 x 1024) from piling up when one chunk holds many access units, which would
    // otherwise mean holding them all or dropping pictures.
    void Queue(const uint8_t* accessUnit, int size) {
        std::vector<std::vector<uint8_t>> found;
        AppendSeiUnits(accessUnit, static_cast<size_t>(size), found);
        for (auto& unit : found) {
            if (seiUnits.size() >= kMaxQueuedSeiUnits) {
                seiUnits.pop_front();
                LogToHost(kHostLevelWarning,
                          "SEI units are not being collected; dropped the oldest");
            }
            seiUnits.push_back(std::move(unit));
        }

        if (pendingUnits.empty()) pending.clear();  // keeps its capacity
        if (pending.size() + static_cast<size_t>(size) > kMaxPendingBytes) {
            pending.clear();
            pendingUnits.clear();
            LogToHost(kHostLevelWarning,
                      "pictures are not being collected; dropped the "
                      "access units waiting to be decoded");
        }
        pendingUnits.push_back({pending.size(), static_cast<size_t>(size)});
        pending.insert(pending.end(), accessUnit, accessUnit + size);
    }

    void DecodeNextUnit() {
        const auto [offset, length] = pendingUnits.front();
        pendingUnits.pop_front();
        const int size = static_cast<int>(length);
        // Without a reference-counted buffer in the packet, libavcodec takes its own copy
        // (with the zeroed padding its readers need), so the bytes that follow this access
        // unit in pending are never read as part of it.
        packet->data = pending.data() + offset;
        packet->size = size;
        int result = avcodec_send_packet(context, packet);
        if (result == AVERROR(EAGAIN)) {  // only if pictures were left in the decoder
            ReceiveFrames();
            result = avcodec_send_packet(context, packet);
        }
        av_packet_unref(packet);
        if (result < 0) {
            // A warning, not an error: a receiver that joins between IDR pictures gets these
            // until the next one, and libavcodec has already logged the details as errors.
            const std::string text = "decoding an access unit of " + std::to_string(size) +
                                     " bytes failed: " + FfmpegErrorText(result);
            LogToHost(kHostLevelWarning, text.c_str());
        }
        ReceiveFrames();
    }

    void ReceiveFrames() {
        for (;;) {
            if (scratch == nullptr && (scratch = av_frame_alloc()) == nullptr) {
                LogToHost(kHostLevelError, "out of memory allocating a picture");
                return;
            }
            const int result = avcodec_receive_frame(context, scratch);
            if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return;
            if (result < 0) {
                LogToHost(kHostLevelError, ("decoding failed: " + FfmpegErrorText(result)).c_str());
                return;
            }
            if (frames.size() >= kMaxQueuedFrames) {
                AVFrame* oldest = frames.front();
                frames.pop_front();
                av_frame_free(&oldest);
                LogToHost(kHostLevelWarning,
                          "pictures are not being collected; dropped the oldest");
            }
            frames.push_back(scratch);  // keeps the decoder's reference, no copy
            scratch = nullptr;
        }
    }

    bool Convert(const AVFrame* frame) {
        if (frame->width <= 0 || frame->height <= 0) return false;
        ConversionKey key;
        key.width = frame->width;
        key.height = frame->height;
        key.fullRange = frame->color_range == AVCOL_RANGE_JPEG;
        key.format = PlainFormat(static_cast<AVPixelFormat>(frame->format), key.fullRange);
        key.colourspace = SwsColourspace(frame->colorspace);
        if (scaler == nullptr || !(key == scalerKey)) {
            sws_freeContext(scaler);
            scalerKey = ConversionKey{};
            // Without SWS_ACCURATE_RND swscale takes its SIMD YUV-to-RGB path: 0.3 ms instead
            // of 1.6 ms for 1024 x 1024 here, for colours that differ by a level or two.
            // Every picture of a live stream waits for this conversion.
            scaler = sws_getContext(key.width, key.height, static_cast<AVPixelFormat>(key.format),
                                    key.width, key.height, AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr,
                                    nullptr, nullptr);
            if (scaler == nullptr) {
                const char* name = av_get_pix_fmt_name(static_cast<AVPixelFormat>(key.format));
                const std::string text = std::string("cannot convert pictures of format ") +
                                         (name != nullptr ? name : "unknown") + " to BGRX";
                LogToHost(kHostLevelError, text.c_str());
                return false;
            }
            const int* coefficients = sws_getCoefficients(key.colourspace);
            sws_setColorspaceDetails(scaler, coefficients, key.fullRange ? 1 : 0, coefficients, 1,
                                     0, 1 << 16, 1 << 16);
            scalerKey = key;
        }

        const size_t stride = static_cast<size_t>(key.width) * 4;
        const size_t bytes = stride * static_cast<size_t>(key.height);
        if (frameBuffer.size() != bytes) frameBuffer.assign(bytes, 0);
        uint8_t* const planes[4] = {frameBuffer.data(), nullptr, nullptr, nullptr};
        const int strides[4] = {static_cast<int>(stride), 0, 0, 0};
        const int rows =
            sws_scale(scaler, frame->data, frame->linesize, 0, key.height, planes, strides);
        if (rows != key.height) {
            LogToHost(kHostLevelError, "converting a picture to BGRX failed");
            return false;
        }
        return true;
    }

    void ClearFrames() {
        for (AVFrame* frame : frames) av_frame_free(&frame);
        frames.clear();
    }

    AVCodecParserContext* parser = nullptr;
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* scratch = nullptr;
    SwsContext* scaler = nullptr;
    ConversionKey scalerKey;
    std::deque<AVFrame*> frames;
    std::deque<std::vector<uint8_t>> seiUnits;
    std::vector<uint8_t> pending;  // access units waiting to be decoded, back to back
    std::deque<std::pair<size_t, size_t>> pendingUnits;  // offset and size in pending
    std::vector<uint8_t> input;                          // the current chunk plus padding
    std::vector<uint8_t> currentSei;                     // handed out by the last DecoderGetSeiNAL
    std::vector<uint8_t> frameBuffer;                    // handed out by the last DecoderGetFrame
    std::string lastError;
};

Decoder g_decoder;

}  // namespace
}  // namespace kesto::decoder_ff

using kesto::decoder_ff::g_decoder;

extern "C" {

KESTO_DECODER_EXPORT bool KESTO_DECODER_CALL DecoderInit(int /*reserved*/) {
    return g_decoder.Init();
}

KESTO_DECODER_EXPORT void KESTO_DECODER_CALL DecoderOnNewData(const uint8_t* data, int size,
                                                              int /*reserved*/) {
    g_decoder.Feed(data, size);
}

KESTO_DECODER_EXPORT bool KESTO_DECODER_CALL DecoderGetSeiNAL(const uint8_t** data, int* size) {
    return g_decoder.NextSei(data, size);
}

KESTO_DECODER_EXPORT bool KESTO_DECODER_CALL DecoderGetFrame(const uint8_t** data, int* size,
                                                             int /*reserved*/) {
    return g_decoder.NextFrame(data, size);
}

KESTO_DECODER_EXPORT void KESTO_DECODER_CALL DecoderShutdown(void) {
    g_decoder.Release();
}

KESTO_DECODER_EXPORT bool KESTO_DECODER_CALL DecoderGetInfo(char* buffer, int* size,
                                                            int /*reserved*/) {
    return kesto::decoder_ff::CopyOutText(g_decoder.Info(), buffer, size);
}

KESTO_DECODER_EXPORT bool KESTO_DECODER_CALL DecoderGetLastError(char* buffer, int* size) {
    return kesto::decoder_ff::CopyOutText(g_decoder.LastError(), buffer, size);
}

KESTO_DECODER_EXPORT void KESTO_DECODER_CALL
DecoderSetLoggerCallback(DecoderLoggerCallback logger) {
    kesto::decoder_ff::SetHostLogger(logger);
}

}  // extern "C"
