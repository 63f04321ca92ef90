#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "command_line.h"
#include "text_encoding.h"

namespace {

// The arguments after the program name as UTF-8; an argument that is not valid UTF-16
// becomes a usage error rather than a crash.
std::optional<std::vector<std::string>> utf8_arguments(int argc, wchar_t** argv)
{
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        auto text = tolvek::utf16_to_utf8(reinterpret_cast<const char16_t*>(argv[i]));
        if (!text) {
            return std::nullopt;
        }
        arguments.push_back(std::move(*text));
    }
    return arguments;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const auto arguments = utf8_arguments(argc, argv);
    (void)arguments;
    std::fprintf(stderr, "%.*s\n", static_cast<int>(tolvek::kUsage.size()), tolvek::kUsage.data());
    return 1;
}
