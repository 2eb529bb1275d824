// How the stand-in decoder spreads H.264 decoding over threads, chosen per DecoderInit from
// the environment variable KESTO_DECODER_FF_THREADS:
//
//   single           one thread, the caller's (default)
//   slice[:N]        N slice threads (default: one per core); the slices of one picture are
//                    decoded side by side, so no picture waits longer than it takes to decode
//   frame[:N]        N frame threads (default: one per core); more pictures per second, but
//                    each thread holds one picture back: N - 1 frames of added delay
//
// Anything else (or N outside 1..16) is reported to the host as a warning and gives the
// default. A live instrument wants its picture now, so frame threading is never the default.
#pragma once

#include <string>

namespace kesto::decoder_ff {

enum class ThreadingMode { Single, Slice, Frame };

struct Threading {
    ThreadingMode mode = ThreadingMode::Single;
    int threads = 1;
    bool valid = true;  // false: the text was not understood and the default was taken
};

inline constexpr const char* kThreadingVariable = "KESTO_DECODER_FF_THREADS";

// Parses the variable's value (null or empty: the default). `cores` is the machine's.
Threading ParseThreading(const char* value, int cores);

}  // namespace kesto::decoder_ff
