#include "sei_scan.h"

namespace kesto::decoder_ff {
namespace {

// Position of the next 00 00 01 at or after `from`, or `size` when there is none.
size_t FindStartCode(const uint8_t* data, size_t size, size_t from) {
    for (size_t i = from; i + 2 < size; ++i) {
        if (data[i + 2] > 1) {
            i += 2;  // no start code can begin at i, i+1 or i+2 ends with a byte > 1
            continue;
        }
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i;
    }
    return size;
}

}  // namespace

std::vector<uint8_t> RemoveEmulationPrevention(const uint8_t* data, size_t size) {
    std::vector<uint8_t> out;
    out.reserve(size);
    int zeros = 0;
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = data[i];
        if (zeros >= 2 && byte == 3) {
            zeros = 0;
            continue;
        }
        zeros = byte == 0 ? zeros + 1 : 0;
        out.push_back(byte);
    }
    return out;
}

void AppendSeiUnits(const uint8_t* accessUnit, size_t size,
                    std::vector<std::vector<uint8_t>>& out) {
    size_t startCode = FindStartCode(accessUnit, size, 0);
    while (startCode < size) {
        const size_t nalBegin = startCode + 3;
        const size_t next = FindStartCode(accessUnit, size, nalBegin);
        // The zero in front of a four-byte start code (and any trailing_zero_8bits) belongs to
        // the byte stream, not to this unit. An SEI unit always ends in its trailing-bits byte,
        // which is never zero, so stripping every trailing zero cannot cut into the RBSP.
        size_t nalEnd = next;
        while (nalEnd > nalBegin && accessUnit[nalEnd - 1] == 0) --nalEnd;
        if (nalEnd > nalBegin + 1 && (accessUnit[nalBegin] & 0x1F) == kNalTypeSei) {
            out.push_back(
                RemoveEmulationPrevention(accessUnit + nalBegin + 1, nalEnd - nalBegin - 1));
        }
        startCode = next;
    }
}

}  // namespace kesto::decoder_ff
