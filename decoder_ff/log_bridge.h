// Routes FFmpeg's log output, and this library's own messages, to the host's logger.
#pragma once

#include "decoder/decoder_api.h"

namespace kesto::decoder_ff {

// Levels handed to the host. FFmpeg's panic/fatal/error lines are errors; its warnings and
// information lines share the host's warning level; anything more verbose is dropped.
inline constexpr int kHostLevelError = 1;
inline constexpr int kHostLevelWarning = 3;

// Host level for an FFmpeg level, or 0 when the line is dropped.
int HostLevelForFfmpeg(int ffmpegLevel);

// Null drops everything. Safe from any thread: FFmpeg may log from its own threads.
void SetHostLogger(DecoderLoggerCallback logger);

// Hands one line to the host logger, if any.
void LogToHost(int hostLevel, const char* text);

// av_log's callback is process-wide, so it is only pointed at us while a decoder is open and
// put back to FFmpeg's default afterwards (and when the library is unloaded).
void InstallFfmpegLogRouting();
void RemoveFfmpegLogRouting();

}  // namespace kesto::decoder_ff
