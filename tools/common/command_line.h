// Command-line parsing shared by the tools: "--option value" or "--option=value", whole and
// real numbers checked against their range, and one error type for usage mistakes.
#pragma once

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace kesto::tools {

struct UsageError {
    std::string message;
};

inline long long ParseInteger(const std::string& option, const std::string& text, long long low,
                              long long high) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value < low || value > high) {
        throw UsageError{option + " needs a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", got '" + text + "'"};
    }
    return value;
}

inline double ParseReal(const std::string& option, const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || errno == ERANGE || !std::isfinite(value)) {
        throw UsageError{option + " needs a finite number, got '" + text + "'"};
    }
    return value;
}

// Walks the arguments one option at a time.
class OptionReader {
  public:
    OptionReader(int count, char** values) : argc(count), argv(values) {}

    // Moves to the next option; false when there is none.
    bool Next() {
        if (++index >= argc) return false;
        option = argv[index];
        value.clear();
        hasValue = false;
        const std::size_t equals = option.find('=');
        if (option.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = option.substr(equals + 1);
            option.resize(equals);
            hasValue = true;
        }
        return true;
    }
    const std::string& Option() const { return option; }
    // The option's value: after '=', or the next argument.
    std::string Value() {
        if (hasValue) return value;
        if (index + 1 >= argc) throw UsageError{option + " needs a value"};
        return argv[++index];
    }
    // For a flag: refuses "--flag=value".
    void NoValue() const {
        if (hasValue) throw UsageError{option + " takes no value"};
    }

  private:
    int argc;
    char** argv;
    int index = 0;
    std::string option;
    std::string value;
    bool hasValue = false;
};

// The start of every tool's main(): `parse` (argc, argv) -> arguments with a `help` member.
// Returns the arguments to run with; otherwise sets `exitCode` and returns nothing: 2 after a
// usage mistake (reported on stderr as "<tool>: <message>"), 0 after printing `usage` for
// --help.
template <typename Parse>
auto ParseCommandLine(const char* tool, const char* usage, int argc, char** argv, Parse parse,
                      int& exitCode) -> std::optional<decltype(parse(argc, argv))> {
    try {
        auto args = parse(argc, argv);
        if (args.help) {
            std::fputs(usage, stdout);
            exitCode = 0;
            return std::nullopt;
        }
        return args;
    } catch (const UsageError& error) {
        std::fprintf(stderr, "%s: %s\n(try --help)\n", tool, error.message.c_str());
        exitCode = 2;
        return std::nullopt;
    }
}

}  // namespace kesto::tools
