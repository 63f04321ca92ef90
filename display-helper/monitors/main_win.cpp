// Program entry of tolvek-monitors: virtual monitors from the helper's service on the
// command line. `ping` prints the helper's version; `hold` makes the monitors and holds them
// until standard input closes or Ctrl+C, then lets them go. Every failure is one line on
// standard error and exit code 1, with nothing left held.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "monitors_command.h"
#include "tolvek/command_line_win.h"
#include "tolvek/display_client.h"
#include "tolvek/dll_search_win.h"
#include "tolvek/owners_win.h"

namespace {

using namespace tolvek;
using namespace tolvek::monitors;
using display::DisplayClient;

// Set by Ctrl+C (and the console's other close events) or by standard input closing.
HANDLE g_stop_event = nullptr;

BOOL WINAPI on_console_event(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        SetEvent(g_stop_event);
        return TRUE; // handled: the main thread lets the monitors go and exits
    default:
        return FALSE;
    }
}

// Writes one line with a bare line feed (the C runtime's text mode would add a CR).
void write_line(std::FILE* stream, const std::string& line)
{
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int fail(const std::string& text)
{
    write_line(stderr, text);
    return 1;
}

// Reads standard input to its end and then sets the stop event. Detached: a read that never
// ends (a console nobody types into) must not keep the program from exiting.
void watch_standard_input()
{
    std::thread{[] {
        const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
        char buffer[256];
        DWORD count = 0;
        while (input != nullptr && input != INVALID_HANDLE_VALUE &&
               ReadFile(input, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        }
        SetEvent(g_stop_event);
    }}.detach();
}

int run_ping()
{
    auto client = DisplayClient::connect();
    if (!client) {
        return fail(client.error().text);
    }
    auto version = client.value()->ping();
    if (!version) {
        return fail(version.error().text);
    }
    write_line(stdout, version.value());
    return 0;
}

int run_hold(const HoldCommand& hold)
{
    auto connected = DisplayClient::connect();
    if (!connected) {
        return fail(connected.error().text);
    }
    std::unique_ptr<DisplayClient> client = std::move(connected).value();
    for (const display::Monitor& monitor : hold.monitors) {
        if (auto made = client->create(monitor.width, monitor.height, monitor.serial); !made) {
            client.reset(); // the helper lets go of those made before
            return fail(made.error().text);
        }
        write_line(stdout, holding_line(monitor));
    }
    watch_standard_input();
    const HANDLE events[] = {g_stop_event, client->lost_event()};
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(2, events, FALSE /* any */, INFINITE);
        if (woke == WAIT_OBJECT_0) {
            break;
        }
        if (woke != WAIT_OBJECT_0 + 1) {
            return fail("the wait for the end failed");
        }
        if (hold.after_loss == AfterLoss::give_up) {
            return fail("the connection to the display helper was lost, and every monitor with it");
        }
        write_line(stdout, "the connection to the display helper was lost; restoring");
        if (auto restored = client->restore(); !restored) {
            return fail(restored.error().text);
        }
        write_line(stdout, "restored " + std::to_string(client->monitors().size()) + " monitor(s)");
    }
    const std::size_t held = client->monitors().size();
    client.reset();
    write_line(stdout, "let go of " + std::to_string(held) + " monitor(s)");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    restrict_dll_search_to_system_folder();
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const UniqueHandle stop_event{CreateEventW(nullptr, TRUE /* manual reset */, FALSE, nullptr)};
    if (!stop_event) {
        return fail("no event for the end of the hold");
    }
    g_stop_event = stop_event.get();
    SetConsoleCtrlHandler(on_console_event, TRUE);

    const auto arguments = utf8_arguments(argc, argv);
    const MonitorsCommand command = arguments ? parse_monitors_command(*arguments)
                                              : MonitorsCommand{UsageError{std::string{kUsage}}};
    struct Runner {
        int operator()(const PingCommand&) const { return run_ping(); }
        int operator()(const HoldCommand& hold) const { return run_hold(hold); }
        int operator()(const UsageError& usage) const { return fail(usage.text); }
    };
    const int exit_code = std::visit(Runner{}, command);
    SetConsoleCtrlHandler(on_console_event, FALSE);
    return exit_code;
}
