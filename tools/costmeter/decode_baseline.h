// The bare cost of a picture: the same packets decoded by libavcodec on one thread and
// converted to BGRX by swscale, exactly what the stand-in decoder does, without the library.
#pragma once

#include <cstdint>
#include <vector>

namespace kesto::costmeter {

// CPU seconds per picture (decode + conversion, averaged over `passes` passes through the
// packets after one warm-up pass). With `fps` > 0 the pictures are decoded at that rate, as
// they arrive from a camera, instead of back to back: caches then go cold between pictures,
// which costs a live stream more than a tight loop. Throws std::runtime_error when libavcodec
// fails.
double BareDecodeSecondsPerFrame(const std::vector<std::vector<uint8_t>>& packets, int passes,
                                 int fps = 0);

}  // namespace kesto::costmeter
