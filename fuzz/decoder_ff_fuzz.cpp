// The stand-in decoder's exports as the client calls them, with every byte from the input: its
// SEI scan, its queues and caps, the parser's reassembly of chunks cut anywhere, and FFmpeg
// behind it (Debian's, as shipped: not instrumented, but its heap is ASan's).
//
//   byte 0       chunk sizes: 1 + (next random & (2^(b % 16) - 1)), so from 1-byte chunks
//                to whole streams
//   byte 1       bit 0..3: drain the queues only after every (n + 1)-th chunk, so that the
//                caps come into play; bit 4: shut down and start again halfway
//   bytes 2..5   seed of the random chunk sizes
//   the rest     the stream
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "decoder/decoder_api.h"

extern "C" {
bool DecoderInit(int);
void DecoderOnNewData(const uint8_t*, int, int);
bool DecoderGetSeiNAL(const uint8_t**, int*);
bool DecoderGetFrame(const uint8_t**, int*, int);
void DecoderShutdown(void);
void DecoderSetLoggerCallback(DecoderLoggerCallback);
}

namespace {

volatile uint8_t sink;

void Touch(const uint8_t* bytes, int size) {
    if (size <= 0) std::abort();  // nothing is handed out empty
    sink = static_cast<uint8_t>(bytes[0] ^ bytes[size - 1]);
}

void KESTO_DECODER_CALL Log(int, const char* text) {
    sink = static_cast<uint8_t>(std::strlen(text));
}

void Drain() {
    const uint8_t* bytes = nullptr;
    int size = 0;
    while (DecoderGetSeiNAL(&bytes, &size)) Touch(bytes, size);
    while (DecoderGetFrame(&bytes, &size, 0)) {
        Touch(bytes, size);
        if (size % 4 != 0) std::abort();  // whole BGRX pixels
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const uint32_t mask = (1u << (data[0] % 16)) - 1;
    const unsigned drainEvery = (data[1] & 15) + 1;
    const bool restart = (data[1] & 16) != 0;
    uint32_t random = 0;  // 0 stays 0: every chunk the smallest
    for (int i = 2; i < 6; ++i) random = random << 8 | data[i];
    data += 6;
    size -= 6;

    DecoderSetLoggerCallback(&Log);
    if (!DecoderInit(0)) std::abort();  // Debian's libavcodec always has H.264
    size_t offset = 0;
    for (unsigned chunk = 1; offset < size; ++chunk) {
        random ^= random << 13;
        random ^= random >> 17;
        random ^= random << 5;
        size_t length = 1 + (random & mask);
        if (length > size - offset) length = size - offset;
        DecoderOnNewData(data + offset, static_cast<int>(length), 0);
        offset += length;
        if (chunk % drainEvery == 0) Drain();
        if (restart && offset >= size / 2 && offset - length < size / 2) {
            DecoderShutdown();
            if (!DecoderInit(0)) std::abort();
        }
    }
    Drain();
    DecoderShutdown();
    return 0;
}
