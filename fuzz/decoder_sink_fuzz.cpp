// The decoder sink's side of the decoder contract: whatever chunks the network gives, and
// whatever SEI units and frame sizes a decoder library hands back for them. The test decoder
// (loaded through the real binding from KESTO_DECODER_LIB) is scripted by the input:
//
//   op % 5 == 0  SEI unit: 1 length byte, then that many bytes
//   op % 5 == 1  square frame: 1 side byte, 1 byte of extra bytes (0..3) after the pixels
//   op % 5 == 2  frame of any size: 2 bytes little-endian
//   op % 5 == 3  chunk: 1 length byte (0 is a valid empty chunk), then the bytes
//   op % 5 == 4  frame-size check of a 4-byte signed size, straight to updateFrameSize
//
// Queued units and frames are handed out after the next chunk, as a real decoder does.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "decoder/decoder_library.h"
#include "decoder/decoder_sink.h"
#include "test_decoder_control.h"

#ifndef FUZZ_TEST_DECODER_PATH
#error FUZZ_TEST_DECODER_PATH names the test decoder library
#endif

namespace {

struct Input {
    const uint8_t* data;
    size_t size;
    size_t position = 0;
    uint8_t Byte() { return position < size ? data[position++] : 0; }
    const uint8_t* Take(size_t& count) {
        count = std::min(count, size - position);
        position += count;
        return data + position - count;
    }
};

// The client binds the decoder named by KESTO_DECODER_LIB, set before the first binding.
const kesto::test::TestDecoderControl& Decoder() {
    static const kesto::test::TestDecoderControl control(
        (setenv("KESTO_DECODER_LIB", FUZZ_TEST_DECODER_PATH, 1), FUZZ_TEST_DECODER_PATH));
    return control;
}

// Leaves nothing queued or pending for the next input.
void Drain() {
    const kesto::DecoderFunctions& functions = kesto::EnsureDecoderBinding();
    const uint8_t none = 0;
    functions.DecoderOnNewData(&none, 0, 0);
    const uint8_t* bytes = nullptr;
    int count = 0;
    while (functions.DecoderGetSeiNAL(&bytes, &count)) continue;
    while (functions.DecoderGetFrame(&bytes, &count, 0)) continue;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kesto::test::TestDecoderControl& decoder = Decoder();
    Input input{data, size};
    {
        kesto::DecoderSink sink("fuzz");
        int steps = 0;
        while (input.position < input.size && ++steps < 256) {
            const uint8_t op = input.Byte() % 5;
            try {
                if (op == 0) {
                    size_t length = input.Byte();
                    const uint8_t* unit = input.Take(length);
                    decoder.QueueSei(unit, static_cast<int>(length));
                } else if (op == 1) {
                    const int side = input.Byte();
                    decoder.QueueFrame(side * side * 4 + (input.Byte() & 3), 0x5A);
                } else if (op == 2) {
                    const int frameSize = input.Byte() | (input.Byte() << 8);
                    decoder.QueueFrame(frameSize, 0x3C);
                } else if (op == 3) {
                    size_t length = input.Byte();
                    // A copy of exactly the chunk, so that ASan sees reads beyond it.
                    const uint8_t* start = input.Take(length);
                    const std::vector<uint8_t> chunk(start, start + length);
                    sink.processData(chunk.data(), static_cast<int>(chunk.size()));
                } else {
                    uint32_t bits = 0;
                    for (int i = 0; i < 4; ++i)
                        bits |= static_cast<uint32_t>(input.Byte()) << (8 * i);
                    const int frameSize = static_cast<int>(bits);
                    const unsigned side = sink.updateFrameSize(frameSize);
                    if (static_cast<uint64_t>(side) * side * 4 > static_cast<uint64_t>(frameSize))
                        std::abort();  // a side the frame's bytes cannot hold
                }
            } catch (const std::exception&) {
                // A frame that is not square ends a stream run: the worker reports it. The
                // sink must still be usable for shutdown.
            }
            if (sink.streamWidth != sink.streamHeight || sink.streamWidth < 0) std::abort();
        }
        Drain();
    }
    return 0;
}
