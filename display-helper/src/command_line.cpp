#include "command_line.h"

namespace tolvek {

Command select_command(const std::vector<std::string>& arguments)
{
    if (arguments.size() == 2 && arguments[0] == "service") {
        return ServiceCommand{arguments[1]};
    }
    if (arguments.size() == 2 && arguments[0] == "install") {
        return InstallCommand{arguments[1]};
    }
    if (arguments.size() == 1 && arguments[0] == "uninstall") {
        return UninstallCommand{};
    }
    return UsageError{};
}

} // namespace tolvek
