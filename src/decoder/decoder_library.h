// The process-wide binding of the decoder library: the path the user configured, as given, or
// the default name beside the client library (platform::LoadLibraryBesideClient), loaded on
// first use and kept for the life of the process.
#pragma once

#include <string>

#include "decoder/decoder_api.h"

namespace kesto {

struct DecoderFunctions {
    DecoderInitFn DecoderInit;
    DecoderOnNewDataFn DecoderOnNewData;
    DecoderGetSeiNALFn DecoderGetSeiNAL;
    DecoderGetFrameFn DecoderGetFrame;
    DecoderShutdownFn DecoderShutdown;
    DecoderGetInfoFn DecoderGetInfo;
    DecoderGetLastErrorFn DecoderGetLastError;
    DecoderSetLoggerCallbackFn DecoderSetLoggerCallback;
};

// Binds the library unless it is bound and returns its functions. Throws std::runtime_error
// "Unable to load <path tried>: <system text>" or "Unable to retrieve Decoder function address
// '<name>': <system text>"; a failed attempt leaves nothing bound, and the next call tries
// again from the start. Safe to call from any thread; cheap once bound.
const DecoderFunctions& EnsureDecoderBinding();

// The decoder's info text (after a successful init) and last error (after a failed one),
// fetched by the two-call rule; empty when the decoder gives none.
std::string FetchDecoderInfo(const DecoderFunctions& decoder);
std::string FetchDecoderLastError(const DecoderFunctions& decoder);

}  // namespace kesto
