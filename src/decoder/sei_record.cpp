#include "decoder/sei_record.h"

#include <cstring>
#include <limits>

namespace kesto {

SeiSize readSeiSize(const uint8_t* data, int remaining) {
    SeiSize result{0, remaining, 0};
    // The unit can be as long as the stream makes it: a run of 0xFF longer than an int's
    // worth of 255s stops adding (it already exceeds any payload the unit could hold).
    constexpr int kLastSafeSize = std::numeric_limits<int>::max() - 2 * 255;
    while (result.remaining > 0 && data[result.consumed] == 0xFF) {
        if (result.size <= kLastSafeSize) result.size += 255;
        ++result.consumed;
        --result.remaining;
    }
    if (result.remaining > 0) {
        result.size += data[result.consumed];
        ++result.consumed;
    }
    --result.remaining;
    return result;
}

KestoInfo ParseKestoInfoRecord(const uint8_t* data, int length) {
    KestoInfo info{KestoInfoResult::NotKestoInfo, 0.0f};
    if (data == nullptr || length <= 0 || data[0] != kUserDataUnregistered) return info;

    const SeiSize size = readSeiSize(data + 1, length - 1);
    if (size.remaining < size.size) {
        info.result = KestoInfoResult::SizeMismatch;
        return info;
    }
    const uint8_t* payload = data + 1 + size.consumed;
    if (size.size < kKestoInfoPayloadSize ||
        std::memcmp(payload, kKestoInfoIdentifier, sizeof kKestoInfoIdentifier) != 0) {
        return info;
    }
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word |= static_cast<uint32_t>(payload[16 + i]) << (8 * i);
    if (word != kKestoInfoWord) return info;

    uint32_t bits = 0;
    for (int i = 0; i < 4; ++i) bits |= static_cast<uint32_t>(payload[20 + i]) << (8 * i);
    std::memcpy(&info.azimuth, &bits, sizeof bits);
    info.result = KestoInfoResult::Azimuth;
    return info;
}

}  // namespace kesto
