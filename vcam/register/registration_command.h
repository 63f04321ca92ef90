#pragma once

// The command line of tolvek-vcam-register and the one line in which it reports a run.
// Platform-free: arguments are UTF-16, carried as char16_t, so that any path Windows allows
// reaches the registry unchanged.

#include "camera_registry_layout.h"

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

// What a run did for the hosts of one bitness.
struct BitnessOutcome {
    enum class State {
        done,           // registered, or unregistered
        module_missing, // no module of that bitness to register: the other goes alone
        failed,
    };
    HostBitness bitness;
    State state;
    // done: the registered module's path (empty for unregistration); module_missing: the path
    // looked at; failed: why, as one line.
    std::string detail;

    friend bool operator==(const BitnessOutcome&, const BitnessOutcome&) = default;
};

// The tool's one line, for standard output when `success`, else for standard error.
struct RunReport {
    bool success;
    std::string line;

    friend bool operator==(const RunReport&, const RunReport&) = default;
};

// Registration succeeds when nothing failed and a module of at least one bitness was
// registered; a missing module of one bitness leaves the other registered alone:
//   registered Tolvek Camera for 64-bit hosts: A; for 32-bit hosts: B
//   registered Tolvek Camera for 64-bit hosts: A; not for 32-bit hosts: the camera module is
//   missing: B
// With nothing registered the reasons follow "Tolvek Camera was not registered: "; a run
// for one bitness alone that failed reports just its reason.
[[nodiscard]] RunReport registration_report(const std::vector<BitnessOutcome>& outcomes);

// Unregistration succeeds when nothing failed: "unregistered Tolvek Camera". Otherwise the
// line tells for which hosts it was done and why not for the others; a run for one bitness
// alone that failed reports just its reason.
[[nodiscard]] RunReport unregistration_report(const std::vector<BitnessOutcome>& outcomes);

} // namespace tolvek::vcam
