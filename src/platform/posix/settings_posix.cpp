#include "platform/settings.h"

#include <dlfcn.h>

#include <cstdlib>
#include <cstring>

namespace kesto::platform {

std::string DefaultDecoderLibraryPath() {
    // Beside the client library itself. dlopen's own search would use the RUNPATH of its
    // caller, which is not this library when a sanitizer runtime intercepts dlopen.
    const std::string name = "libCorvexa.Kesto.VideoDecoderFF.so";
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&DefaultDecoderLibraryPath), &info) == 0 ||
        info.dli_fname == nullptr) {
        return name;
    }
    const std::string self = info.dli_fname;
    const std::size_t slash = self.rfind('/');
    return slash == std::string::npos ? name : self.substr(0, slash + 1) + name;
}

std::optional<std::string> ConfiguredDecoderLibraryPath() {
    // Same limit as the registry value on Windows (a MAX_PATH-sized string).
    const char* value = std::getenv("KESTO_DECODER_LIB");
    if (value == nullptr || value[0] == '\0' || std::strlen(value) > 260) return std::nullopt;
    return std::string(value);
}

}  // namespace kesto::platform
