// Program entry of tolvek-setup: installs the release it was unpacked with into the system's
// Program Files folder and sets it up for a user, or removes an installation, reporting each
// step: progress on standard output, the failure that ends a run on standard error.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <vector>

#include "setup_command.h"
#include "setup_run.h"
#include "tolvek/command_line_win.h"
#include "tolvek/dll_search_win.h"
#include "windows_setup_system_win.h"

namespace {

class ConsoleReport final : public tolvek::setup::SetupReport {
public:
    ConsoleReport()
    {
        // Binary mode: the C runtime's text mode would write CR LF where a line ends in LF.
        _setmode(_fileno(stdout), _O_BINARY);
        _setmode(_fileno(stderr), _O_BINARY);
    }
    void line(std::string_view text) override { write(stdout, text); }
    void failure(std::string_view text) override { write(stderr, text); }

private:
    static void write(FILE* stream, std::string_view text)
    {
        std::fprintf(stream, "%.*s\n", static_cast<int>(text.size()), text.data());
        std::fflush(stream);
    }
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    tolvek::restrict_dll_search_to_system_folder();
    const std::vector<std::u16string> arguments = tolvek::utf16_arguments(argc, argv);
    tolvek::setup::WindowsSetupSystem system;
    ConsoleReport report;
    return tolvek::setup::run_setup(tolvek::setup::select_setup_command(arguments), system, report);
}
