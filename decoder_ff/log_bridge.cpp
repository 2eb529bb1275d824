#include "log_bridge.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstddef>

extern "C" {
#include <libavutil/log.h>
}

namespace kesto::decoder_ff {
namespace {

std::atomic<DecoderLoggerCallback> g_hostLogger{nullptr};
std::atomic<bool> g_routingInstalled{false};

// FFmpeg often builds one line out of several av_log calls; the host wants whole lines, so the
// pieces are collected per thread until the newline arrives. The state is a plain aggregate so
// that thread_local needs no constructor or destructor (which would pin the library in memory).
struct PendingLine {
    char text[1024];
    size_t length;
    int hostLevel;    // most severe level among the pieces, 0 while empty
    int printPrefix;  // av_log_format_line's "start of a line" state
};
thread_local PendingLine t_pending = {{0}, 0, 0, 1};

void FlushPending(DecoderLoggerCallback logger) {
    PendingLine& line = t_pending;
    if (line.length > 0) {
        line.text[line.length] = '\0';
        logger(line.hostLevel, line.text);
    }
    line.length = 0;
    line.hostLevel = 0;
}

void FfmpegLogCallback(void* context, int level, const char* format, va_list args) {
    const int hostLevel = HostLevelForFfmpeg(level);
    if (hostLevel == 0) return;
    const DecoderLoggerCallback logger = g_hostLogger.load(std::memory_order_acquire);
    if (logger == nullptr) return;

    char piece[1024];
    PendingLine& line = t_pending;
    av_log_format_line(context, level, format, args, piece, sizeof piece, &line.printPrefix);
    for (const char* p = piece; *p != '\0'; ++p) {
        if (*p == '\n') {
            FlushPending(logger);
            continue;
        }
        if (*p == '\r') continue;
        if (line.length + 1 >= sizeof line.text) FlushPending(logger);  // overlong: split it
        line.text[line.length++] = *p;
        line.hostLevel = line.hostLevel == 0 ? hostLevel : std::min(line.hostLevel, hostLevel);
    }
}

// Puts FFmpeg's own logging back if the library is unloaded while a decoder is still open, so
// that FFmpeg never calls into unmapped code.
struct RoutingGuard {
    ~RoutingGuard() { RemoveFfmpegLogRouting(); }
} g_routingGuard;

}  // namespace

int HostLevelForFfmpeg(int ffmpegLevel) {
    if (ffmpegLevel < AV_LOG_PANIC) return 0;  // AV_LOG_QUIET is a filter setting, not a line
    if (ffmpegLevel <= AV_LOG_ERROR) return kHostLevelError;
    if (ffmpegLevel <= AV_LOG_INFO) return kHostLevelWarning;
    return 0;
}

void SetHostLogger(DecoderLoggerCallback logger) {
    g_hostLogger.store(logger, std::memory_order_release);
}

void LogToHost(int hostLevel, const char* text) {
    const DecoderLoggerCallback logger = g_hostLogger.load(std::memory_order_acquire);
    if (logger != nullptr) logger(hostLevel, text);
}

void InstallFfmpegLogRouting() {
    av_log_set_callback(FfmpegLogCallback);
    g_routingInstalled.store(true);
}

void RemoveFfmpegLogRouting() {
    if (g_routingInstalled.exchange(false)) av_log_set_callback(av_log_default_callback);
}

}  // namespace kesto::decoder_ff
