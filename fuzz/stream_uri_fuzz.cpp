// Stream URIs come from the host (often typed by a user or read from a settings file): any
// byte string must give a scheme, endpoint and path without crashing, and the pieces must
// come from the URI itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "stream/stream_uri.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string uri(reinterpret_cast<const char*>(data), size);

    const std::optional<std::string> scheme = kesto::StreamScheme(uri);
    if (scheme && (scheme->size() + 3 > uri.size() || uri.find("://") != scheme->size())) {
        std::abort();
    }

    const kesto::TcpEndpoint endpoint = kesto::SplitTcpUri(uri);
    if (endpoint.host.size() + endpoint.port.size() > uri.size() + 4) std::abort();
    if (endpoint.host.find(':') != std::string::npos) std::abort();
    if (!endpoint.host.empty() && uri.find(endpoint.host) == std::string::npos) std::abort();

    for (const char separator : {'/', '\\'}) {
        const std::string path = kesto::FilePathFromUri(uri, separator);
        if (path.size() > uri.size()) std::abort();
        if (separator == '\\' && path.find('/') != std::string::npos) std::abort();
    }
    return 0;
}
