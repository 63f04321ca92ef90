#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolvek {

inline constexpr std::string_view kUsage =
    "usage: tolvek-display-helper service|install <sid> | uninstall";

struct ServiceCommand {
    std::string sid;
};
struct InstallCommand {
    std::string sid;
};
struct UninstallCommand {};
struct UsageError {};

using Command = std::variant<ServiceCommand, InstallCommand, UninstallCommand, UsageError>;

// Picks the command from the arguments after the program name. Words are compared exactly
// and the number of arguments must match; anything else is a usage error. The SID text is
// passed on as typed.
[[nodiscard]] Command select_command(const std::vector<std::string>& arguments);

} // namespace tolvek
