// The SEI record reader sees whatever SEI units the decoder library hands out, i.e. bytes
// from the network after emulation-prevention removal. It must neither read past `length`
// nor overflow while adding up a size field made of 0xFF runs.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include "decoder/sei_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > static_cast<size_t>(std::numeric_limits<int>::max())) return 0;
    const int length = static_cast<int>(size);

    const kesto::SeiSize field = kesto::readSeiSize(data, length);
    // The field never claims more bytes than it was given, and what is left is the rest.
    if (field.consumed < 0 || field.consumed > length) std::abort();
    if (field.size < 0) std::abort();
    // What follows the field is left; a field cut short (nothing but 0xFF) leaves -1.
    bool cutShort = true;
    for (int i = 0; i < length && cutShort; ++i) cutShort = data[i] == 0xFF;
    if (field.remaining != (cutShort ? -1 : length - field.consumed)) std::abort();

    const kesto::KestoInfo info = kesto::ParseKestoInfoRecord(data, length);
    if (info.result == kesto::KestoInfoResult::Azimuth) {
        // A record is only accepted with its whole payload present.
        if (length < 2 + kesto::kKestoInfoPayloadSize || data[0] != kesto::kUserDataUnregistered)
            std::abort();
    }
    return 0;
}
