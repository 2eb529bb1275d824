#include "decoder/decoder_library.h"

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "messages/message_channel.h"
#include "platform/dynamic_library.h"
#include "platform/library_unload.h"
#include "platform/settings.h"

namespace kesto {

namespace {

// -- protected by bindLock: the library handle and the table; `bound` is published last with
// release order so that a bound table can be read without the lock.
std::mutex bindLock;
platform::LibraryHandle library = nullptr;
DecoderFunctions functions{};
std::atomic<bool> bound{false};

template <typename Fn>
bool Lookup(Fn& target, const char* name) {
    target = reinterpret_cast<Fn>(platform::FindLibrarySymbol(library, name));
    return target != nullptr;
}

void BindLocked() {
    std::string path;
    if (auto configured = platform::ConfiguredDecoderLibraryPath()) {
        path = std::move(*configured);
        library = platform::LoadDynamicLibrary(path);
    } else {
        library = platform::LoadLibraryBesideClient(platform::DefaultDecoderLibraryName(), path);
    }
    if (library == nullptr) {
        throw std::runtime_error("Unable to load " + path + ": " + platform::LastLoaderErrorText());
    }

    DecoderFunctions table{};
    // Looked up in table order; the first missing one is reported.
    const char* missing = nullptr;
#define KESTO_BIND(name) \
    if (missing == nullptr && !Lookup(table.name, #name)) missing = #name;
    KESTO_BIND(DecoderInit)
    KESTO_BIND(DecoderOnNewData)
    KESTO_BIND(DecoderGetSeiNAL)
    KESTO_BIND(DecoderGetFrame)
    KESTO_BIND(DecoderShutdown)
    KESTO_BIND(DecoderGetInfo)
    KESTO_BIND(DecoderGetLastError)
    KESTO_BIND(DecoderSetLoggerCallback)
#undef KESTO_BIND
    if (missing != nullptr) {
        const std::string systemText = platform::LastLoaderErrorText();
        platform::FreeDynamicLibrary(library);
        library = nullptr;
        functions = DecoderFunctions{};
        throw std::runtime_error("Unable to retrieve Decoder function address '" +
                                 std::string(missing) + "': " + systemText);
    }
    functions = table;
    functions.DecoderSetLoggerCallback(&ReportDecoderLog);
}

// The two-call rule: ask for the size, then fetch into that many zeroed bytes.
template <typename Fetch>
std::string FetchText(Fetch&& fetch) {
    int size = 0;
    if (!fetch(nullptr, &size) || size <= 0) return {};
    std::vector<char> text(static_cast<std::size_t>(size) + 1, '\0');
    if (!fetch(text.data(), &size)) return {};
    return std::string(text.data());
}

}  // namespace

const DecoderFunctions& EnsureDecoderBinding() {
    if (!bound.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> guard(bindLock);
        if (!bound.load(std::memory_order_relaxed)) {
            BindLocked();
            // Loaded after this library, the decoder library is finalized before it at exit:
            // the stream must end first, where its worker still runs then.
            platform::RunUnloadHandlerBeforeExit();
            bound.store(true, std::memory_order_release);
        }
    }
    return functions;
}

std::string FetchDecoderInfo(const DecoderFunctions& decoder) {
    return FetchText(
        [&](char* buffer, int* size) { return decoder.DecoderGetInfo(buffer, size, 0); });
}

std::string FetchDecoderLastError(const DecoderFunctions& decoder) {
    return FetchText(
        [&](char* buffer, int* size) { return decoder.DecoderGetLastError(buffer, size); });
}

}  // namespace kesto
