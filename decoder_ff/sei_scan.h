// Finding SEI NAL units in an Annex B access unit and turning them into the form the client
// reads: the RBSP from the first SEI message's payload-type byte on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kesto::decoder_ff {

inline constexpr uint8_t kNalTypeSei = 6;

// Drops every emulation-prevention byte (the 03 of 00 00 03).
std::vector<uint8_t> RemoveEmulationPrevention(const uint8_t* data, size_t size);

// Appends one entry per SEI NAL unit of `accessUnit` (start codes 00 00 01 or 00 00 00 01), in
// stream order: the unit's RBSP without the one-byte NAL header. Zero bytes in front of the
// next start code are not part of the unit; the RBSP's trailing-bits byte is kept. SEI units
// with nothing after the header are skipped, as there is nothing in them to read.
void AppendSeiUnits(const uint8_t* accessUnit, size_t size, std::vector<std::vector<uint8_t>>& out);

}  // namespace kesto::decoder_ff
