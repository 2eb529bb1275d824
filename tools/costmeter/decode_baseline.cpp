#include "decode_baseline.h"

#include <chrono>
#include <ctime>
#include <stdexcept>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace kesto::costmeter {

namespace {

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

double BareDecodeSecondsPerFrame(const std::vector<std::vector<uint8_t>>& packets, int passes,
                                 int fps) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    AVCodecContext* context = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    if (context == nullptr) throw std::runtime_error("no H.264 decoder in libavcodec");
    // The stand-in decoder's settings: one thread, pictures out as soon as they are decoded.
    context->thread_count = 1;
    context->flags |= AV_CODEC_FLAG_LOW_DELAY;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (avcodec_open2(context, codec, nullptr) < 0 || frame == nullptr || packet == nullptr) {
        throw std::runtime_error("opening libavcodec's H.264 decoder failed");
    }
    SwsContext* scaler = nullptr;
    std::vector<uint8_t> bgrx;
    long frames = 0;
    double spent = 0;
    for (int pass = 0; pass <= passes; ++pass) {
        for (const std::vector<uint8_t>& data : packets) {
            if (fps > 0) std::this_thread::sleep_for(std::chrono::microseconds(1000000 / fps));
            const double start = ThreadCpuSeconds();
            av_new_packet(packet, static_cast<int>(data.size()));
            std::copy(data.begin(), data.end(), packet->data);
            avcodec_send_packet(context, packet);
            av_packet_unref(packet);
            while (avcodec_receive_frame(context, frame) == 0) {
                scaler = sws_getCachedContext(scaler, frame->width, frame->height,
                                              static_cast<AVPixelFormat>(frame->format),
                                              frame->width, frame->height, AV_PIX_FMT_BGR0,
                                              SWS_BILINEAR, nullptr, nullptr, nullptr);
                const int stride = frame->width * 4;
                bgrx.resize(static_cast<size_t>(stride) * static_cast<size_t>(frame->height));
                uint8_t* planes[4] = {bgrx.data(), nullptr, nullptr, nullptr};
                const int strides[4] = {stride, 0, 0, 0};
                sws_scale(scaler, frame->data, frame->linesize, 0, frame->height, planes, strides);
                if (pass > 0) ++frames;
                av_frame_unref(frame);
            }
            if (pass > 0) spent += ThreadCpuSeconds() - start;
        }
    }
    sws_freeContext(scaler);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&context);
    if (frames == 0) throw std::runtime_error("the recording decoded to no pictures");
    return spent / static_cast<double>(frames);
}

}  // namespace kesto::costmeter
