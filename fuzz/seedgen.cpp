// Writes the fuzz targets' seed corpora from generated H.264 (tools/streamgen), so that no
// binary fixture is kept in the repository. Usage: kesto-fuzz-seeds <corpus root>; makes one
// folder per target.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "streamgen.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Write(const std::string& dir, const std::string& name, const Bytes& bytes) {
    ::mkdir(dir.c_str(), 0755);
    std::ofstream out(dir + "/" + name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

void PutLe32(Bytes& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The recording target's input: raw length, flags, sidecar bytes.
Bytes RecordingInput(std::size_t rawSize, const std::vector<uint32_t>& records, uint8_t flags = 0) {
    Bytes out{static_cast<uint8_t>(rawSize), static_cast<uint8_t>(rawSize >> 8), flags};
    for (uint32_t r : records) PutLe32(out, r);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus root>\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    ::mkdir(root.c_str(), 0755);

    kesto::streamgen::GeneratorOptions options;
    options.side = 32;
    options.gop = 4;
    kesto::streamgen::StreamGenerator generator(options);
    std::vector<Bytes> packets;
    for (int i = 0; i < 6; ++i)
        packets.push_back(generator.NextFrame(0.1f * static_cast<float>(i) - 0.2f));

    // SEI records as the decoder hands them out, valid and damaged.
    const std::string sei = root + "/sei_record";
    const float azimuths[] = {0.0f, 2.0f, -3.14159f, 1e30f};
    for (std::size_t i = 0; i < 4; ++i) {
        Bytes record = kesto::streamgen::MakeAzimuthSeiRbsp(azimuths[i]);
        Write(sei, "record" + std::to_string(i), record);
        record.pop_back();
        Write(sei, "no_trailing_bits" + std::to_string(i), record);
    }
    Bytes longSize{5, 0xFF, 0xFF, 0x10};
    Write(sei, "long_size_field", longSize);

    // Decoder-sink scripts: real packets as chunks, real records as SEI units, frames.
    const std::string sink = root + "/decoder_sink";
    for (std::size_t i = 0; i < packets.size(); ++i) {
        Bytes script;
        const Bytes record = kesto::streamgen::MakeAzimuthSeiRbsp(0.5f * static_cast<float>(i));
        script.push_back(0);
        script.push_back(static_cast<uint8_t>(record.size()));
        script.insert(script.end(), record.begin(), record.end());
        script.push_back(1);
        script.push_back(static_cast<uint8_t>(8 + i));
        script.push_back(static_cast<uint8_t>(i));
        const std::size_t chunk = packets[i].size() < 255 ? packets[i].size() : 255;
        script.push_back(3);
        script.push_back(static_cast<uint8_t>(chunk));
        script.insert(script.end(), packets[i].begin(),
                      packets[i].begin() + static_cast<long>(chunk));
        script.push_back(2);
        script.push_back(0x2C);
        script.push_back(0x01);
        script.push_back(3);
        script.push_back(0);
        script.push_back(4);
        PutLe32(script, static_cast<uint32_t>(-64));
        Write(sink, "packet" + std::to_string(i), script);
    }

    // Recording pairs: a true sidecar, then negative, zero and oversized records.
    const std::string recording = root + "/recording_reader";
    std::vector<uint32_t> sizes;
    std::size_t total = 0;
    for (const Bytes& p : packets) {
        sizes.push_back(static_cast<uint32_t>(p.size()));
        total += p.size();
    }
    total &= 0xFFFF;
    Write(recording, "matching", RecordingInput(total, sizes));
    Write(recording, "negative",
          RecordingInput(total, {sizes[0], 0x80000000u, 0xFFFFFFFFu, sizes[1]}));
    Write(recording, "zero", RecordingInput(total, {0, 0, sizes[2], 0}));
    Write(recording, "oversized", RecordingInput(total, {0x7FFFFFFFu, 100000, 1}));
    Bytes partial = RecordingInput(total, sizes);
    partial.pop_back();
    Write(recording, "partial_record", partial);
    Write(recording, "no_sidecar", RecordingInput(total, {}, 1));
    Write(recording, "empty_raw", RecordingInput(0, {5, 0}));

    // The stand-in decoder: a 6-byte header (chunk sizes, draining, restart, seed), then a
    // stream: whole, cut into single bytes and into short pieces, SEI-heavy without draining,
    // with an oversized SEI unit, in two slices with the encoder's own SEI.
    const std::string decoder = root + "/decoder_ff";
    Bytes stream;
    for (const Bytes& p : packets) stream.insert(stream.end(), p.begin(), p.end());
    const auto decoderInput = [](Bytes header, const Bytes& body) {
        header.insert(header.end(), body.begin(), body.end());
        return header;
    };
    Write(decoder, "whole", decoderInput({15, 0, 1, 2, 3, 4}, stream));
    Write(decoder, "bytes", decoderInput({0, 0, 0, 0, 0, 0}, stream));
    Write(decoder, "pieces_restart", decoderInput({6, 16 | 3, 9, 8, 7, 6}, stream));
    Bytes seiHeavy;
    for (int i = 0; i < 300; ++i) {
        const Bytes unit = kesto::streamgen::MakeAzimuthSeiNal(0.01f * static_cast<float>(i));
        seiHeavy.insert(seiHeavy.end(), unit.begin(), unit.end());
    }
    seiHeavy.insert(seiHeavy.end(), stream.begin(), stream.end());
    Write(decoder, "sei_heavy", decoderInput({9, 15, 5, 5, 5, 5}, seiHeavy));
    Bytes oversized{0, 0, 0, 1, 6, 5};
    for (int i = 0; i < 255; ++i) oversized.push_back(0xFF);  // payload size 255 * 255 + ...
    oversized.push_back(0x10);
    oversized.insert(oversized.end(), 70000, 0x5A);
    oversized.push_back(0x80);
    oversized.insert(oversized.end(), stream.begin(), stream.end());
    Write(decoder, "oversized_sei", decoderInput({12, 2, 1, 1, 1, 1}, oversized));
    options.slices = 2;
    options.keepEncoderSei = true;
    kesto::streamgen::StreamGenerator sliced(options);
    Bytes slicedStream;
    for (int i = 0; i < 5; ++i) {
        const Bytes p = sliced.NextFrame(1.0f);
        slicedStream.insert(slicedStream.end(), p.begin(), p.end());
    }
    Write(decoder, "slices_encoder_sei", decoderInput({8, 1, 4, 3, 2, 1}, slicedStream));

    // URIs of both kinds.
    const std::string uri = root + "/stream_uri";
    const char* uris[] = {"tcp://127.0.0.1:8010",
                          "TCP://camera",
                          "tcp://[::1]:8010",
                          "tcp://",
                          "file:///C:/rec/clip.bin",
                          "FILE://rec/a_pkt_sizes.bin",
                          "://x",
                          "file://",
                          "udp://h:1/p"};
    for (std::size_t i = 0; i < sizeof uris / sizeof uris[0]; ++i) {
        Write(uri, "uri" + std::to_string(i), Bytes(uris[i], uris[i] + std::strlen(uris[i])));
    }
    return 0;
}
