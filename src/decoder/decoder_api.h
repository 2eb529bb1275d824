// The decoder library's C contract: the eight functions the client binds at run time.
// Shared by the client's binding, the stand-in decoder (decoder_ff) and the test decoder, so
// that all three agree on argument and result types.
//
// Results are one-byte truth values; `int` is 32-bit signed. The calling order per stream is:
// DecoderInit; for each chunk DecoderOnNewData, then DecoderGetSeiNAL until false, then
// DecoderGetFrame until false; at the end DecoderShutdown. DecoderGetInfo follows a successful
// DecoderInit and DecoderGetLastError a failed one. Only one thread calls the library.
//
// Two-call rule of DecoderGetInfo/DecoderGetLastError: a first call with a null buffer and
// size 0 returns true and sets the size in bytes needed (terminating zero included); the
// caller then passes that many zeroed bytes. Bytes handed out by DecoderGetSeiNAL and
// DecoderGetFrame stay valid until the next call into the library.
#ifndef KESTO_DECODER_API_H
#define KESTO_DECODER_API_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#define KESTO_DECODER_CALL __cdecl
#define KESTO_DECODER_EXPORT __declspec(dllexport)
#else
#define KESTO_DECODER_CALL
#define KESTO_DECODER_EXPORT __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The logger handed to the decoder: (level, text). Levels are passed to the host unchanged.
typedef void(KESTO_DECODER_CALL* DecoderLoggerCallback)(int level, const char* text);

// `reserved` arguments are always 0.
typedef bool(KESTO_DECODER_CALL* DecoderInitFn)(int reserved);
typedef void(KESTO_DECODER_CALL* DecoderOnNewDataFn)(const uint8_t* data, int size, int reserved);
// SEI unit: its RBSP (emulation prevention removed) from the first SEI message's payload-type
// byte on, i.e. without the NAL unit header byte.
typedef bool(KESTO_DECODER_CALL* DecoderGetSeiNALFn)(const uint8_t** data, int* size);
// Frame: side x side pixels of 4 bytes (blue, green, red, unused), rows packed.
typedef bool(KESTO_DECODER_CALL* DecoderGetFrameFn)(const uint8_t** data, int* size, int reserved);
typedef void(KESTO_DECODER_CALL* DecoderShutdownFn)(void);
typedef bool(KESTO_DECODER_CALL* DecoderGetInfoFn)(char* buffer, int* size, int reserved);
typedef bool(KESTO_DECODER_CALL* DecoderGetLastErrorFn)(char* buffer, int* size);
typedef void(KESTO_DECODER_CALL* DecoderSetLoggerCallbackFn)(DecoderLoggerCallback logger);

#ifdef __cplusplus
}
#endif

#endif  // KESTO_DECODER_API_H
