// The baseline for the pipeline figures: the same steps the stand-in decoder takes (H.264
// parser, decoder, swscale to packed BGRX into one reused buffer), called directly from the
// benchmark, with nothing of the client library around them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct AVCodecContext;
struct AVCodecParserContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

namespace kesto::bench {

class DirectDecoder {
  public:
    // `threading` as KESTO_DECODER_FF_THREADS takes it: single, slice[:N], frame[:N].
    explicit DirectDecoder(const std::string& threading);
    ~DirectDecoder();
    DirectDecoder(const DirectDecoder&) = delete;
    DirectDecoder& operator=(const DirectDecoder&) = delete;

    // Parser path, as the stand-in decoder: returns the pictures converted by this chunk.
    int Feed(const uint8_t* data, std::size_t size);
    // One complete access unit straight to the decoder (no parser): decode time alone, in
    // seconds, and the conversion's separately; false when no picture came out.
    bool DecodeAccessUnit(const uint8_t* data, std::size_t size, double& decodeSeconds,
                          double& convertSeconds);

  private:
    int ReceiveAndConvert();
    void Convert(const AVFrame* frame);

    AVCodecParserContext* parser_ = nullptr;
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    SwsContext* scaler_ = nullptr;
    std::vector<uint8_t> input_;
    std::vector<uint8_t> bgrx_;
};

}  // namespace kesto::bench
