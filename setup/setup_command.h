#pragma once

// The command line of tolvek-setup. Platform-free: arguments are UTF-16, carried as char16_t,
// so that an account name in any script reaches the system unchanged.

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolvek::setup {

inline constexpr std::string_view kSetupUsage =
    "usage: tolvek-setup install [--user NAME | --sid SID] | remove";

// Whom install sets the display helper's service up for.
struct UserOfThisPrompt {}; // the user this process runs as
struct UserNamed {
    std::u16string name; // an account name as LookupAccountNameW takes it: "user", "PC\user"
};
struct UserWithSid {
    std::u16string sid; // SID text as typed; the system renders it canonically
};
using AccountChoice = std::variant<UserOfThisPrompt, UserNamed, UserWithSid>;

struct InstallCommand {
    AccountChoice account;
};
struct RemoveCommand {};
struct HelpCommand {};
struct SetupUsageError {
    std::string reason; // what was wrong, for the line before the usage
};

using SetupCommand = std::variant<InstallCommand, RemoveCommand, HelpCommand, SetupUsageError>;

// Picks the command from the arguments after the program name. Words are compared exactly.
// `install` takes at most one of `--user NAME` and `--sid SID`, each with a non-empty value;
// `remove` takes nothing; `help`, `--help`, `-h` and `/?` alone ask for the usage. Anything
// else is a usage error that says what was wrong.
[[nodiscard]] SetupCommand select_setup_command(const std::vector<std::u16string>& arguments);

} // namespace tolvek::setup
