// Parsing of stream URIs: "<scheme>://<rest>". Pure functions, so that the rules of every
// platform are tested on any platform.
#pragma once

#include <optional>
#include <string>

namespace kesto {

// The scheme in lower case (standard tolower per character), or nothing when the URI is
// shorter than 3 characters or holds no "://". An empty scheme ("://x") is returned as "".
std::optional<std::string> StreamScheme(const std::string& uri);

struct TcpEndpoint {
    std::string host;
    std::string port;
};

inline constexpr const char* kDefaultTcpPort = "8010";

// Host and port of a tcp URI: the authority after "://" up to the first ':' is the host,
// everything after that colon the port (default "8010"). Nothing else is interpreted, so a
// path stays part of the port or host and fails to resolve later.
TcpEndpoint SplitTcpUri(const std::string& uri);

// The local path of a file URI: the text after "://", with the leading '/' of a drive path
// ("/C:/...") dropped and every '/' replaced by `separator`. Escapes are not decoded.
std::string FilePathFromUri(const std::string& uri, char separator);

}  // namespace kesto
