#include "direct_decoder.h"

#include <cstring>
#include <stdexcept>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

#include "bench_support.h"
#include "threading.h"

namespace kesto::bench {

DirectDecoder::DirectDecoder(const std::string& threading) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    parser_ = av_parser_init(AV_CODEC_ID_H264);
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    if (codec == nullptr || parser_ == nullptr || context_ == nullptr || packet_ == nullptr ||
        frame_ == nullptr) {
        throw std::runtime_error("cannot set up libavcodec's H.264 decoder");
    }
    // The very parsing the stand-in decoder does, so that both sides thread alike.
    const decoder_ff::Threading chosen = decoder_ff::ParseThreading(
        threading.c_str(), static_cast<int>(std::thread::hardware_concurrency()));
    context_->thread_count = chosen.threads;
    if (chosen.mode == decoder_ff::ThreadingMode::Frame) {
        context_->thread_type = FF_THREAD_FRAME;
    } else {
        if (chosen.mode == decoder_ff::ThreadingMode::Slice) context_->thread_type = FF_THREAD_SLICE;
        context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    }
    if (avcodec_open2(context_, codec, nullptr) < 0) throw std::runtime_error("avcodec_open2");
}

DirectDecoder::~DirectDecoder() {
    sws_freeContext(scaler_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&context_);
    av_parser_close(parser_);
}

int DirectDecoder::Feed(const uint8_t* data, std::size_t size) {
    const std::size_t padded = size + AV_INPUT_BUFFER_PADDING_SIZE;
    if (input_.size() < padded) input_.resize(padded);
    std::memcpy(input_.data(), data, size);
    std::memset(input_.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    const uint8_t* in = input_.data();
    int left = static_cast<int>(size);
    int pictures = 0;
    while (left > 0) {
        uint8_t* unit = nullptr;
        int unitSize = 0;
        const int used = av_parser_parse2(parser_, context_, &unit, &unitSize, in, left,
                                          AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        if (used < 0) break;
        in += used;
        left -= used;
        if (unitSize > 0) {
            packet_->data = unit;
            packet_->size = unitSize;
            if (avcodec_send_packet(context_, packet_) == AVERROR(EAGAIN)) {
                pictures += ReceiveAndConvert();
                avcodec_send_packet(context_, packet_);
            }
            av_packet_unref(packet_);
            pictures += ReceiveAndConvert();
        }
        if (used == 0 && unitSize == 0) break;
    }
    return pictures;
}

bool DirectDecoder::DecodeAccessUnit(const uint8_t* data, std::size_t size, double& decodeSeconds,
                                     double& convertSeconds) {
    const std::size_t padded = size + AV_INPUT_BUFFER_PADDING_SIZE;
    if (input_.size() < padded) input_.resize(padded);
    std::memcpy(input_.data(), data, size);
    std::memset(input_.data() + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    const Clock::time_point start = Clock::now();
    packet_->data = input_.data();
    packet_->size = static_cast<int>(size);
    avcodec_send_packet(context_, packet_);
    av_packet_unref(packet_);
    const bool got = avcodec_receive_frame(context_, frame_) == 0;
    const Clock::time_point decoded = Clock::now();
    if (got) {
        Convert(frame_);
        av_frame_unref(frame_);
    }
    decodeSeconds = Seconds(decoded - start);
    convertSeconds = Seconds(Clock::now() - decoded);
    return got;
}

int DirectDecoder::ReceiveAndConvert() {
    int pictures = 0;
    while (avcodec_receive_frame(context_, frame_) == 0) {
        Convert(frame_);
        av_frame_unref(frame_);
        ++pictures;
    }
    return pictures;
}

void DirectDecoder::Convert(const AVFrame* frame) {
    if (scaler_ == nullptr) {
        // The stand-in decoder's conversion for the test streams (BT.601, limited range).
        scaler_ = sws_getContext(frame->width, frame->height,
                                 static_cast<AVPixelFormat>(frame->format), frame->width,
                                 frame->height, AV_PIX_FMT_BGR0, SWS_BILINEAR,
                                 nullptr, nullptr, nullptr);
        const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(scaler_, coefficients, 0, coefficients, 1, 0, 1 << 16, 1 << 16);
        bgrx_.assign(static_cast<std::size_t>(frame->width) * frame->height * 4, 0);
    }
    uint8_t* const planes[4] = {bgrx_.data(), nullptr, nullptr, nullptr};
    const int strides[4] = {frame->width * 4, 0, 0, 0};
    sws_scale(scaler_, frame->data, frame->linesize, 0, frame->height, planes, strides);
}

}  // namespace kesto::bench
