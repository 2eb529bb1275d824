// File checks and the path rule of the platform.
//
// Provided by the OS specific files: posix/file_system_posix.cpp,
// win32/file_system_win32.cpp.
#pragma once

#include <filesystem>
#include <string>
#include <utility>

namespace kesto::platform {

// How the host encoded a path it passed in: the plain exports take the ANSI code page (what
// Windows' narrow calls take), their UTF-8 companions take UTF-8. On POSIX paths are bytes and
// the encoding is not looked at.
enum class PathEncoding { Ansi, Utf8 };

// A path as the host gave it, carried with its encoding down to the call that opens the file.
struct HostPath {
    HostPath(std::string pathText = {}, PathEncoding pathEncoding = PathEncoding::Ansi)
        : text(std::move(pathText)), encoding(pathEncoding) {}
    HostPath(const char* pathText) : HostPath(std::string(pathText)) {}

    std::string text;
    PathEncoding encoding;
};

// The separator that file URIs' '/' become in a local path.
char PathSeparator();
// The path for the standard library's file calls (std::ifstream, std::ofstream). Windows: the
// wide path, so that any name the file system holds can be opened whatever the ANSI code page;
// empty (which nothing opens) when the text is not valid in its encoding. POSIX: the bytes.
std::filesystem::path NativePath(const HostPath& path);
// true when the path names something that exists and is not a directory.
bool IsExistingFile(const HostPath& path);

}  // namespace kesto::platform
