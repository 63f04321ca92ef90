// Program entry of tolvek-display-helper: picks the command, runs it, and turns its
// outcome into the exit code, one line on standard error and one line in the log.

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "log.h"
#include "service/service_host_win.h"
#include "setup/install_win.h"
#include "setup/uninstall_win.h"
#include "tolvek/command_line_win.h"
#include "tolvek/dll_search_win.h"
#include "tolvek/result.h"

namespace {

using namespace tolvek;

Status run(const Command& command)
{
    struct Runner {
        Status operator()(const ServiceCommand& c) const { return run_dispatcher(c.sid); }
        Status operator()(const InstallCommand& c) const { return install(c.sid); }
        Status operator()(const UninstallCommand&) const { return uninstall(); }
        Status operator()(const UsageError&) const { return Error{std::string{kUsage}}; }
    };
    return std::visit(Runner{}, command);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    restrict_dll_search_to_system_folder();
    const auto arguments = utf8_arguments(argc, argv);
    const Status outcome = run(arguments ? select_command(*arguments) : Command{UsageError{}});
    if (outcome) {
        return 0;
    }
    const std::string& text = outcome.error().text;
    log_line(text);
    // In its default text mode the C runtime writes every line feed as CR LF, also those
    // inside the error text; the line ends with a line feed alone.
    _setmode(_fileno(stderr), _O_BINARY);
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    return 1;
}
