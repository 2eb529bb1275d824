// Every export runs its body through one of these so that no exception crosses into the
// host. Standard exceptions are reported with the export's message prefix; anything else is
// reported with a generic text (it can only come from a host callback or a foreign library).
#pragma once

#include <exception>
#include <string>
#include <utility>

#include "messages/message_channel.h"

namespace kesto {

// Runs body(); on an exception reports `code` with prefix + the exception's text and returns
// `failure`. `body` returns the export's result.
template <typename Result, typename Body>
Result GuardExport(MessageCode code, const char* prefix, Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (const std::exception& e) {
        try {
            ReportMessage(code, std::string(prefix) + e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            ReportMessage(code, std::string(prefix) + "unknown exception");
        } catch (...) {
        }
    }
    return failure;
}

// The same for exports without a result.
template <typename Body>
void GuardExport(MessageCode code, const char* prefix, Body&& body) noexcept {
    GuardExport<int>(code, prefix, 0, [&] {
        std::forward<Body>(body)();
        return 0;
    });
}

// For exports that report nothing: any exception gives `failure`.
template <typename Result, typename Body>
Result GuardExportSilently(Result failure, Body&& body) noexcept {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        return failure;
    }
}

}  // namespace kesto
