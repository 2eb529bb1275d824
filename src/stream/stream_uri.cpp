#include "stream/stream_uri.h"

#include <algorithm>
#include <cctype>

namespace kesto {

namespace {
constexpr const char* kSchemeSeparator = "://";

// Where the text after "://" starts; the start of the URI when there is no "://".
std::size_t AfterScheme(const std::string& uri) {
    const std::size_t found = uri.find(kSchemeSeparator);
    return found == std::string::npos ? 0 : found + 3;
}
}  // namespace

std::optional<std::string> StreamScheme(const std::string& uri) {
    const std::size_t found = uri.find(kSchemeSeparator);
    if (uri.size() < 3 || found == std::string::npos) return std::nullopt;
    std::string scheme = uri.substr(0, found);
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return scheme;
}

TcpEndpoint SplitTcpUri(const std::string& uri) {
    TcpEndpoint endpoint{"", kDefaultTcpPort};
    const std::size_t authority = AfterScheme(uri);
    if (uri.empty() || authority >= uri.size()) return endpoint;
    const std::size_t colon = uri.find(':', authority);
    if (colon == std::string::npos) {
        endpoint.host = uri.substr(authority);
    } else {
        endpoint.host = uri.substr(authority, colon - authority);
        endpoint.port = uri.substr(colon + 1);
    }
    return endpoint;
}

std::string FilePathFromUri(const std::string& uri, char separator) {
    std::size_t start = AfterScheme(uri);
    // "file:///C:/rec/a.bin": the slash before a drive letter is not part of the path.
    if (start < uri.size() && uri[start] == '/' && uri.size() - start > 2 &&
        uri[start + 2] == ':') {
        ++start;
    }
    std::string path = uri.substr(std::min(start, uri.size()));
    std::replace(path.begin(), path.end(), '/', separator);
    return path;
}

}  // namespace kesto
