#pragma once

// The command line of tolvek-monitors and the lines it writes. Platform-free: main_win.cpp
// runs what this reads on the display client.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "tolvek/display_client.h"

namespace tolvek::monitors {

inline constexpr std::string_view kUsage =
    "usage: tolvek-monitors ping | tolvek-monitors hold [--restore] WIDTHxHEIGHT [--serial N] "
    "[WIDTHxHEIGHT [--serial N]]...";

struct PingCommand {};

// What hold does when the connection to the helper is lost.
enum class AfterLoss {
    give_up, // report it and end with exit code 1
    restore, // connect again and make the monitors again
};

struct HoldCommand {
    std::vector<display::Monitor> monitors;
    AfterLoss after_loss = AfterLoss::give_up;
};

struct UsageError {
    std::string text; // the one line to write
};

using MonitorsCommand = std::variant<PingCommand, HoldCommand, UsageError>;

// Reads the arguments after the program name. Modes and serials are checked here with the
// helper's own rules, so that a mode it would refuse is reported before anything is held.
[[nodiscard]] MonitorsCommand parse_monitors_command(const std::vector<std::string>& arguments);

// "1920x1080" as width and height; nothing for anything else.
[[nodiscard]] std::optional<display::Monitor> parse_mode(std::string_view text);

// "holding 1920x1080 as serial 1".
[[nodiscard]] std::string holding_line(const display::Monitor& monitor);

} // namespace tolvek::monitors
