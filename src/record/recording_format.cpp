#include "record/recording_format.h"

namespace kesto {

std::string SidecarFileName(const std::string& rawFileName) {
    const std::string stem =
        rawFileName.size() > 4 ? rawFileName.substr(0, rawFileName.size() - 4) : rawFileName;
    return stem + kSidecarSuffix;
}

void EncodeSidecarRecord(uint32_t packetSize, unsigned char out[4]) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(packetSize >> (8 * i));
}

int32_t DecodeSidecarRecord(const unsigned char in[4]) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(in[i]) << (8 * i);
    return static_cast<int32_t>(value);
}

}  // namespace kesto
