#include "platform/settings.h"

#include <cstdlib>
#include <cstring>

namespace kesto::platform {

std::string DefaultDecoderLibraryName() {
    return "libCorvexa.Kesto.VideoDecoderFF.so";
}

bool OpenMpRuntimeSharedWithHost() {
    return true;
}

std::optional<std::string> ConfiguredDecoderLibraryPath() {
    // Same limit as the registry value on Windows (a MAX_PATH-sized string).
    const char* value = std::getenv("KESTO_DECODER_LIB");
    if (value == nullptr || value[0] == '\0' || std::strlen(value) > 260) return std::nullopt;
    return std::string(value);
}

}  // namespace kesto::platform
