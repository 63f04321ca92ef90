#include "tolvek/argument_quoting.h"

namespace tolvek {
namespace {

bool needs_quotes(std::u16string_view argument)
{
    return argument.empty() || argument.find_first_of(u" \t\n\v\"") != std::u16string_view::npos;
}

} // namespace

std::u16string quote_argument(std::u16string_view argument)
{
    if (!needs_quotes(argument)) {
        return std::u16string{argument};
    }
    std::u16string quoted{u'"'};
    std::size_t backslashes = 0;
    for (const char16_t c : argument) {
        if (c == u'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes mean themselves unless a double quote follows them; there each one
        // must be doubled, and the quote itself escaped.
        const std::size_t written = c == u'"' ? 2 * backslashes + 1 : backslashes;
        quoted.append(written, u'\\');
        quoted += c;
        backslashes = 0;
    }
    // The closing quote follows the trailing backslashes, so they are doubled too.
    quoted.append(2 * backslashes, u'\\');
    quoted += u'"';
    return quoted;
}

std::u16string child_command_line(std::u16string_view program,
                                  const std::vector<std::u16string>& arguments)
{
    std::u16string line{u'"'};
    line += program;
    line += u'"';
    for (const std::u16string& argument : arguments) {
        line += u' ';
        line += quote_argument(argument);
    }
    return line;
}

} // namespace tolvek
