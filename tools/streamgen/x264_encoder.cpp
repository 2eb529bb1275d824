// StreamGenerator on libx264 through libavcodec: renders each test picture, encodes it and
// puts the azimuth record in front (access_unit.h).
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "access_unit.h"
#include "streamgen.h"

namespace kesto::streamgen {
namespace {

std::string FfmpegErrorText(int error) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(error, text, sizeof text);
    return text;
}

}  // namespace

struct StreamGenerator::Impl {
    GeneratorOptions options;
    AVCodecContext* encoder = nullptr;
    AVFrame* picture = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* toYuv = nullptr;
    std::vector<uint8_t> rgb;
    int64_t frames = 0;

    ~Impl() {
        sws_freeContext(toYuv);
        av_packet_free(&packet);
        av_frame_free(&picture);
        avcodec_free_context(&encoder);
    }

    void Open() {
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (codec == nullptr) throw Error("libavcodec has no libx264 encoder");
        encoder = avcodec_alloc_context3(codec);
        picture = av_frame_alloc();
        packet = av_packet_alloc();
        if (encoder == nullptr || picture == nullptr || packet == nullptr) {
            throw Error("out of memory setting up the encoder");
        }
        const int side = options.side;
        encoder->width = side;
        encoder->height = side;
        encoder->pix_fmt = AV_PIX_FMT_YUV420P;
        encoder->time_base = AVRational{1, options.fps};
        encoder->framerate = AVRational{options.fps, 1};
        encoder->gop_size = options.gop;
        encoder->max_b_frames = 0;
        // One encoder thread keeps the output byte-identical from machine to machine.
        encoder->thread_count = 1;
        // Marked BT.601 limited range, which is also what the RGB conversion below produces
        // and what a decoder assumes for unmarked streams.
        encoder->color_range = AVCOL_RANGE_MPEG;
        encoder->colorspace = AVCOL_SPC_SMPTE170M;
        encoder->color_primaries = AVCOL_PRI_SMPTE170M;
        encoder->color_trc = AVCOL_TRC_SMPTE170M;
        if (options.bitrate > 0) encoder->bit_rate = options.bitrate;

        SetOption("preset", "ultrafast");
        SetOption("tune", "zerolatency");
        if (options.bitrate == 0) SetOption("crf", std::to_string(options.crf));
        // Fixed IDR interval (no scene-cut keyframes, closed GOPs) and SPS/PPS in front of every
        // IDR picture, since there is no global header for a receiver that joins late.
        SetOption("x264-params", "scenecut=0:open-gop=0:repeat-headers=1:bframes=0:keyint=" +
                                     std::to_string(options.gop) +
                                     ":slices=" + std::to_string(options.slices));
        const int opened = avcodec_open2(encoder, codec, nullptr);
        if (opened < 0) throw Error("opening libx264 failed: " + FfmpegErrorText(opened));

        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = side;
        picture->height = side;
        const int allocated = av_frame_get_buffer(picture, 0);
        if (allocated < 0)
            throw Error("allocating a picture failed: " + FfmpegErrorText(allocated));
        toYuv = sws_getContext(side, side, AV_PIX_FMT_RGB24, side, side, AV_PIX_FMT_YUV420P,
                               SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
        if (toYuv == nullptr) throw Error("cannot set up the RGB to YUV conversion");
        rgb.resize(static_cast<size_t>(side) * side * 3);
    }

    void SetOption(const char* name, const std::string& value) {
        const int result = av_opt_set(encoder->priv_data, name, value.c_str(), 0);
        if (result < 0) {
            throw Error(std::string("libx264 rejected option ") + name + "=" + value + ": " +
                        FfmpegErrorText(result));
        }
    }

    std::vector<uint8_t> Encode(float azimuth) {
        RenderTestPicture(options.side, frames, rgb.data());
        const int writable = av_frame_make_writable(picture);
        if (writable < 0) throw Error("picture not writable: " + FfmpegErrorText(writable));
        const uint8_t* const source[4] = {rgb.data(), nullptr, nullptr, nullptr};
        const int sourceStride[4] = {options.side * 3, 0, 0, 0};
        sws_scale(toYuv, source, sourceStride, 0, options.side, picture->data, picture->linesize);
        picture->pts = frames;
        picture->pict_type = frames % options.gop == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;

        int result = avcodec_send_frame(encoder, picture);
        if (result < 0) throw Error("encoding failed: " + FfmpegErrorText(result));
        result = avcodec_receive_packet(encoder, packet);
        if (result == AVERROR(EAGAIN)) throw Error("the encoder held a picture back");
        if (result < 0) throw Error("encoding failed: " + FfmpegErrorText(result));
        std::vector<uint8_t> accessUnit =
            AssembleAccessUnit(packet->data, static_cast<size_t>(packet->size), options, azimuth);
        av_packet_unref(packet);
        ++frames;
        return accessUnit;
    }
};

StreamGenerator::StreamGenerator(const GeneratorOptions& options) : impl_(new Impl) {
    ValidateOptions(options);
    impl_->options = options;
    impl_->Open();
}

StreamGenerator::~StreamGenerator() = default;

std::vector<uint8_t> StreamGenerator::NextFrame(float azimuth) {
    return impl_->Encode(azimuth);
}

int64_t StreamGenerator::FramesGenerated() const {
    return impl_->frames;
}

const GeneratorOptions& StreamGenerator::Options() const {
    return impl_->options;
}

}  // namespace kesto::streamgen
