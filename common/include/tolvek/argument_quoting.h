#pragma once

// The command line of a child process, written so that the child's CommandLineToArgvW (and
// the C runtime's argument parser, which follows the same rules) gets back exactly the
// arguments that were meant. Platform-free: UTF-16 carried as char16_t.

#include <string>
#include <string_view>
#include <vector>

namespace tolvek {

// One argument as it goes on the command line: unchanged when it holds no blank and no
// double quote and is not empty; otherwise in double quotes, with each double quote escaped
// by a backslash and the backslashes before a double quote or the closing quote doubled.
[[nodiscard]] std::u16string quote_argument(std::u16string_view argument);

// The program path in double quotes (a Windows file name holds no double quote), then each
// argument after a blank, quoted as above.
[[nodiscard]] std::u16string child_command_line(std::u16string_view program,
                                                const std::vector<std::u16string>& arguments);

} // namespace tolvek
