#include "platform/environment.h"

#include <cstdlib>

namespace kesto::platform {

std::optional<std::string> EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

}  // namespace kesto::platform
