#pragma once

// The arguments a program was started with, after its own name, as the platform-free parsers
// take them.

#include <optional>
#include <string>
#include <vector>

#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {

[[nodiscard]] inline std::vector<std::u16string> utf16_arguments(int argc, wchar_t** argv)
{
    std::vector<std::u16string> arguments;
    for (int index = 1; index < argc; ++index) {
        arguments.emplace_back(as_utf16(argv[index]));
    }
    return arguments;
}

// Nothing when one of them is not valid UTF-16, which callers treat as a usage error.
[[nodiscard]] inline std::optional<std::vector<std::string>> utf8_arguments(int argc,
                                                                            wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int index = 1; index < argc; ++index) {
        std::optional<std::string> text = utf16_to_utf8(as_utf16(argv[index]));
        if (!text) {
            return std::nullopt;
        }
        arguments.push_back(std::move(*text));
    }
    return arguments;
}

} // namespace tolvek
