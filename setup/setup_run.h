#pragma once

// What tolvek-setup does for each command, step by step, and what it tells on the way.
// Platform-free: every question to the machine and every change goes through SetupSystem.
//
// install: checks the rights, settles the account, checks the release folder, prepares the
// install folder, copies the release into it, runs the installed helper's `install` for the
// account and the installed registration program's `register`. remove: runs the helper's
// `uninstall` and the registration program's `unregister`, deletes setup's files and folders.
// Each step is reported as it ends; the first that fails ends the command with a line that
// names it and says why, and what was done stays for `remove` to take away. Every step of
// both commands may run again: install twice updates in place, remove twice finds nothing.

#include <string_view>

#include "setup_command.h"
#include "setup_system.h"

namespace tolvek::setup {

// Where the command's lines go: progress on standard output, failures on standard error.
class SetupReport {
public:
    virtual ~SetupReport() = default;
    virtual void line(std::string_view text) = 0;
    virtual void failure(std::string_view text) = 0;
};

// The line of a run without administrator rights. Nothing has been changed then.
inline constexpr std::string_view kNeedsAdministrator =
    "tolvek-setup needs administrator rights: run it from an elevated prompt (Run as "
    "administrator); nothing was changed";

// How long remove waits for the helper's service to stop and go before it deletes the files.
inline constexpr std::chrono::seconds kServiceRemovalLimit{20};

// Runs the command; gives the exit code: 0 when it did what was asked, 1 when not.
[[nodiscard]] int run_setup(const SetupCommand& command, SetupSystem& system, SetupReport& report);

} // namespace tolvek::setup
