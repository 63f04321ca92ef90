// Program entry of tolvek-vcam-register: registers the camera for the machine, for 64-bit
// and 32-bit hosts, or removes that registration, and reports the outcome in one line: on
// standard output with exit code 0, or on standard error with exit code 1.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "registration_command.h"
#include "tolvek/command_line_win.h"
#include "tolvek/dll_search_win.h"
#include "tool_commands_win.h"

namespace {

using namespace tolvek::vcam;

RunReport run(const RegistrationCommand& command)
{
    struct Runner {
        RunReport operator()(const RegisterCamera& c) const
        {
            return c.module_path ? register_module(*c.module_path) : register_beside_tool();
        }
        RunReport operator()(const UnregisterCamera&) const { return unregister_everywhere(); }
        RunReport operator()(const RegistrationUsageError&) const
        {
            return {false, std::string(kRegistrationUsage)};
        }
    };
    return std::visit(Runner{}, command);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    tolvek::restrict_dll_search_to_system_folder();
    const std::vector<std::u16string> arguments = tolvek::utf16_arguments(argc, argv);
    const RunReport report = run(select_registration_command(arguments));
    // Binary mode: the C runtime's text mode would write CR LF where the line ends in LF.
    FILE* stream = report.success ? stdout : stderr;
    _setmode(_fileno(stream), _O_BINARY);
    std::fprintf(stream, "%s\n", report.line.c_str());
    return report.success ? 0 : 1;
}
