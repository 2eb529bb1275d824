// Shared by the encoders behind StreamGenerator (libx264 on Linux, the replay of pre-encoded
// streams on Windows): how an encoded access unit becomes the generator's output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "streamgen.h"

namespace kesto::streamgen {

// Rebuilds an encoder's access unit (Annex B) with the azimuth record after the leading
// parameter sets and access unit delimiter and before everything else; the encoder's own SEI
// units are dropped unless options.keepEncoderSei.
std::vector<uint8_t> AssembleAccessUnit(const uint8_t* data, std::size_t size,
                                        const GeneratorOptions& options, float azimuth);

}  // namespace kesto::streamgen
