// DecoderSink: one stream run's session with the decoder library. Built on the worker thread
// before the first chunk, fed every chunk in stream order, destroyed on the same thread when
// the stream ends; it starts and shuts down the decoder, reads the instrument's azimuth from
// the SEI units, checks and delivers decoded frames and keeps the stream's statistics.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kesto {

class StreamStats;
struct DecoderFunctions;

class DecoderSink {
  public:
    // Binds the decoder library if needed and starts it. Throws std::exception when the
    // library cannot be bound or fails to initialise.
    explicit DecoderSink(std::string streamName);
    ~DecoderSink();
    DecoderSink(const DecoderSink&) = delete;
    DecoderSink& operator=(const DecoderSink&) = delete;

    // One chunk of compressed bytes. Throws std::exception on a frame that is not square.
    void processData(const uint8_t* data, int count);
    // Drains the decoder's pending SEI units and passes on every azimuth record.
    void checkForKestoInfoNAL();
    // Checks a decoded frame's byte size and keeps the size statistics; returns the side,
    // which goes to the display with the frame.
    unsigned updateFrameSize(int size);

    // Only the worker thread that owns the sink touches it: no field needs a lock.
    const std::string streamName;
    uint32_t framePauseMs = 0;  // frame interval of file playback (0: no pacing)
    int32_t streamWidth = 0;
    int32_t streamHeight = 0;
    double azimuth = 0.0;

  private:
    void PauseAfterFrame();

    const DecoderFunctions& decoder;
    std::shared_ptr<StreamStats> stats;
};

// The side of a square frame of `size` bytes (4 bytes a pixel), or -1 when size / 4 is not
// a perfect square.
int SquareFrameSide(int size);

}  // namespace kesto
