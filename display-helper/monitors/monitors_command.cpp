#include "monitors_command.h"

#include <charconv>
#include <limits>
#include <set>

#include "monitor_values.h"
#include "tolvek/text_encoding.h"

namespace tolvek::monitors {
namespace {

// A decimal number of at most 32 bits, digits only.
std::optional<std::uint32_t> parse_number(std::string_view text)
{
    std::uint32_t value = 0;
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt; // from_chars would take a sign or nothing at all otherwise
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string mode_text(const display::Monitor& monitor)
{
    return std::to_string(monitor.width) + "x" + std::to_string(monitor.height);
}

UsageError usage_error(std::string text)
{
    return UsageError{std::move(text) + "; " + std::string{kUsage}};
}

// The checks the helper applies to a create, made before anything is asked of it.
std::optional<UsageError> refusal_of(const std::vector<display::Monitor>& monitors)
{
    if (monitors.size() > kMonitorsPerConnection) {
        return UsageError{"the helper holds at most " + std::to_string(kMonitorsPerConnection) +
                          " monitors for one program; " + std::to_string(monitors.size()) +
                          " were asked for"};
    }
    std::set<std::uint32_t> serials;
    for (const display::Monitor& monitor : monitors) {
        if (monitor.serial == 0) {
            return UsageError{"serial 0 is not a serial: serials start at 1"};
        }
        if (!serials.insert(monitor.serial).second) {
            return UsageError{"serial " + std::to_string(monitor.serial) + " is given twice"};
        }
        if (!create_values_accepted(
                monitor_create(monitor.width, monitor.height, monitor.serial))) {
            return UsageError{"the helper does not make " + mode_text(monitor) +
                              " monitors: it takes even sides of at most " +
                              std::to_string(kMonitorMaxSide) + " with at most 14,745,600 pixels"};
        }
    }
    return std::nullopt;
}

// An argument in quotes, on one plain line whatever was typed.
std::string quoted(std::string_view argument)
{
    std::string text{"\""};
    text += argument_as_shown(argument);
    text += '"';
    return text;
}

MonitorsCommand parse_hold(const std::vector<std::string>& arguments)
{
    HoldCommand hold;
    for (std::size_t at = 1; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (argument == "--restore") {
            hold.after_loss = AfterLoss::restore;
            continue;
        }
        if (argument == "--serial") {
            if (hold.monitors.empty()) {
                return usage_error("--serial follows the mode it names");
            }
            if (at + 1 == arguments.size()) {
                return usage_error("--serial needs a number");
            }
            const std::optional<std::uint32_t> serial = parse_number(arguments[++at]);
            if (!serial) {
                return usage_error(quoted(arguments[at]) + " is not a serial");
            }
            hold.monitors.back().serial = *serial;
            continue;
        }
        std::optional<display::Monitor> monitor = parse_mode(argument);
        if (!monitor) {
            return usage_error(quoted(argument) + " is not a mode such as 1920x1080");
        }
        monitor->serial = static_cast<std::uint32_t>(hold.monitors.size() + 1);
        hold.monitors.push_back(*monitor);
    }
    if (hold.monitors.empty()) {
        return usage_error("hold needs at least one mode");
    }
    if (std::optional<UsageError> refused = refusal_of(hold.monitors)) {
        return *refused;
    }
    return hold;
}

} // namespace

std::optional<display::Monitor> parse_mode(std::string_view text)
{
    const std::size_t x = text.find('x');
    if (x == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> width = parse_number(text.substr(0, x));
    const std::optional<std::uint32_t> height = parse_number(text.substr(x + 1));
    if (!width || !height) {
        return std::nullopt;
    }
    return display::Monitor{*width, *height, 0};
}

MonitorsCommand parse_monitors_command(const std::vector<std::string>& arguments)
{
    if (arguments.size() == 1 && arguments[0] == "ping") {
        return PingCommand{};
    }
    if (!arguments.empty() && arguments[0] == "hold") {
        return parse_hold(arguments);
    }
    return UsageError{std::string{kUsage}};
}

std::string holding_line(const display::Monitor& monitor)
{
    return "holding " + mode_text(monitor) + " as serial " + std::to_string(monitor.serial);
}

} // namespace tolvek::monitors
