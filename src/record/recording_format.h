// The recording file pair: a raw H.264 stream file holding packets back to back, and a
// sidecar holding one 4-byte little-endian length per packet, in the same order.
#pragma once

#include <cstdint>
#include <string>

namespace kesto {

inline constexpr const char* kSidecarSuffix = "_pkt_sizes.bin";

// The sidecar's name: the raw file's name less its last four characters (whatever they are,
// so "clip.h264" gives "clip._pkt_sizes.bin"), or the whole name when it has four characters
// or fewer, followed by "_pkt_sizes.bin".
std::string SidecarFileName(const std::string& rawFileName);

// One sidecar record as written to disk.
void EncodeSidecarRecord(uint32_t packetSize, unsigned char out[4]);
int32_t DecodeSidecarRecord(const unsigned char in[4]);

}  // namespace kesto
