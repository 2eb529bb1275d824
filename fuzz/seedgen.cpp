// Writes the fuzz targets' seed corpora from generated H.264 (tools/streamgen), so that no
// binary fixture is kept in the repository. Usage: kesto-fuzz-seeds <corpus root>; makes one
// folder per target. Each seed is laid out as its target's header comment says.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "streamgen.h"

namespace {

using Bytes = std::vector<uint8_t>;
std::string root;

void Write(const std::string& target, const std::string& name, const Bytes& bytes) {
    const std::string dir = root + "/" + target;
    ::mkdir(dir.c_str(), 0755);
    std::ofstream(dir + "/" + name, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

Bytes Join(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes Le32s(Bytes head, const std::vector<uint32_t>& values) {
    for (uint32_t v : values)
        head.insert(head.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                 static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
    return head;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus root>\n", argv[0]);
        return 2;
    }
    root = argv[1];
    ::mkdir(root.c_str(), 0755);

    // Two slices per picture and the encoder's own SEI: more for the parsers to put together.
    kesto::streamgen::GeneratorOptions options;
    options.side = 32;
    options.gop = 4;
    options.slices = 2;
    options.keepEncoderSei = true;
    kesto::streamgen::StreamGenerator generator(options);
    Bytes stream;
    std::vector<uint32_t> sizes;
    for (int i = 0; i < 6; ++i) {
        const Bytes packet = generator.NextFrame(0.4f * static_cast<float>(i) - 1.0f);
        stream = Join(stream, packet);
        sizes.push_back(static_cast<uint32_t>(packet.size()));
        // An SEI unit as the decoder hands it out, a square frame, a chunk, a frame-size check.
        const Bytes record = kesto::streamgen::MakeAzimuthSeiRbsp(0.5f * static_cast<float>(i));
        const Bytes chunk(packet.begin(), packet.begin() + std::min<long>(255, packet.size()));
        Bytes script = Join({0, static_cast<uint8_t>(record.size())}, record);
        script = Join(Join(script, {1, static_cast<uint8_t>(8 + i), 0, 3,
                                    static_cast<uint8_t>(chunk.size())}),
                      chunk);
        Write("decoder_sink", "packet" + std::to_string(i),
              Le32s(Join(script, {2, 0x2C, 1, 4}), {static_cast<uint32_t>(-64)}));
        Write("sei_record", "record" + std::to_string(i), record);
    }
    Write("sei_record", "long_size_field", {5, 0xFF, 0xFF, 0x10});

    // Recording pairs: raw length, flags, the sidecar: true, odd records, none.
    const Bytes rawSize{static_cast<uint8_t>(stream.size()),
                        static_cast<uint8_t>(stream.size() >> 8)};
    Write("recording_reader", "matching", Le32s(Join(rawSize, {0}), sizes));
    Write("recording_reader", "odd",
          Le32s(Join(rawSize, {0}), {0, 0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu, 3}));
    Write("recording_reader", "no_sidecar", Join(rawSize, {1}));

    // The stand-in decoder: the header (chunk sizes, draining, restart, seed), then the stream
    // whole, in single bytes, in short pieces with a restart, and behind 300 SEI units and one
    // oversized SEI unit (the queue's caps).
    Write("decoder_ff", "whole", Join({15, 0, 1, 2, 3, 4}, stream));
    Write("decoder_ff", "bytes", Join({0, 0, 0, 0, 0, 0}, stream));
    Write("decoder_ff", "pieces_restart", Join({6, 16 | 3, 9, 8, 7, 6}, stream));
    Bytes sei{9, 15, 5, 5, 5, 5};
    for (int i = 0; i < 300; ++i)
        sei = Join(sei, kesto::streamgen::MakeAzimuthSeiNal(0.01f * static_cast<float>(i)));
    sei = Join(Join(sei, {0, 0, 0, 1, 6, 5}), Bytes(255, 0xFF));  // payload size 255 * 255 + ...
    sei = Join(Join(sei, {0x10}), Bytes(70000, 0x5A));
    Write("decoder_ff", "sei_caps", Join(Join(sei, {0x80}), stream));

    int n = 0;
    for (const char* uri :
         {"tcp://127.0.0.1:8010", "TCP://camera", "tcp://[::1]:8010", "tcp://",
          "file:///C:/rec/clip.bin", "FILE://rec/a_pkt_sizes.bin", "://x", "udp://h:1/p"})
        Write("stream_uri", "uri" + std::to_string(n++), Bytes(uri, uri + std::strlen(uri)));
    return 0;
}
