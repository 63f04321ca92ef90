#pragma once

// The command line of tolvek-vcam-register. Platform-free: arguments are UTF-16, carried as
// char16_t, so that any path Windows allows reaches the registry unchanged.

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tolvek::vcam {

inline constexpr std::string_view kRegistrationUsage =
    "usage: tolvek-vcam-register register [path-to-dll] | unregister";

struct RegisterCamera {
    // The camera module named on the command line; none means the one beside the tool.
    std::optional<std::u16string> module_path;
};
struct UnregisterCamera {};
struct RegistrationUsageError {};

using RegistrationCommand = std::variant<RegisterCamera, UnregisterCamera, RegistrationUsageError>;

// Picks the command from the arguments after the program name. Words are compared exactly;
// `register` takes at most one non-empty path, `unregister` nothing; anything else is a usage
// error.
[[nodiscard]] RegistrationCommand
select_registration_command(const std::vector<std::u16string>& arguments);

} // namespace tolvek::vcam
