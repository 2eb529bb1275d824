// The instrument's info record inside the stream: an SEI message of payload type 5 (user
// data unregistered) whose payload is a 16-byte identifier, a 32-bit word that must be 24,
// and the azimuth as a 32-bit float in radians, all little-endian. Pure functions over the
// SEI unit's bytes as the decoder hands them out (from the first message's type byte on).
#pragma once

#include <cstdint>

namespace kesto {

inline constexpr uint8_t kKestoInfoIdentifier[16] = {
    0x68, 0xA2, 0xDC, 0x40, 0x28, 0xCA, 0x26, 0x41, 0x87, 0x11, 0x2C, 0xE4, 0x2C, 0x15, 0x0B, 0x58};
inline constexpr uint32_t kKestoInfoWord = 24;
inline constexpr int kKestoInfoPayloadSize = 24;
inline constexpr uint8_t kUserDataUnregistered = 5;

struct SeiSize {
    int size;       // payload size in bytes
    int remaining;  // bytes after the size field; -1 when the size field was cut short
    int consumed;   // bytes of the size field read
};

// Reads an SEI payload-size field (runs of 0xFF adding 255, then a final byte) from the
// `remaining` bytes at `data`.
SeiSize readSeiSize(const uint8_t* data, int remaining);

enum class KestoInfoResult {
    NotKestoInfo,  // another payload type, identifier or word: ignored silently
    SizeMismatch,  // payload size larger than the bytes present
    Azimuth,       // a valid record
};

struct KestoInfo {
    KestoInfoResult result;
    float azimuth;
};

// Examines the first SEI message of a unit; later messages in the unit are not looked at.
KestoInfo ParseKestoInfoRecord(const uint8_t* data, int length);

}  // namespace kesto
