#include "setup_command.h"

#include "tolvek/text_encoding.h"

namespace tolvek::setup {
namespace {

bool is_help_word(std::u16string_view word)
{
    return word == u"help" || word == u"--help" || word == u"-h" || word == u"/?";
}

SetupCommand select_install(const std::vector<std::u16string>& arguments)
{
    if (arguments.size() == 1) {
        return InstallCommand{UserOfThisPrompt{}};
    }
    const std::u16string& option = arguments[1];
    if (option != u"--user" && option != u"--sid") {
        return SetupUsageError{"install does not know " + argument_as_shown(option)};
    }
    if (arguments.size() == 2 || arguments[2].empty()) {
        return SetupUsageError{argument_as_shown(option) + " needs a value"};
    }
    if (arguments.size() > 3) {
        return SetupUsageError{"install takes one of --user NAME and --sid SID, once"};
    }
    if (option == u"--user") {
        return InstallCommand{UserNamed{arguments[2]}};
    }
    return InstallCommand{UserWithSid{arguments[2]}};
}

} // namespace

SetupCommand select_setup_command(const std::vector<std::u16string>& arguments)
{
    if (arguments.empty()) {
        return SetupUsageError{"no command given"};
    }
    const std::u16string& command = arguments.front();
    if (command == u"install") {
        return select_install(arguments);
    }
    if (command == u"remove") {
        if (arguments.size() != 1) {
            return SetupUsageError{"remove takes no arguments"};
        }
        return RemoveCommand{};
    }
    if (is_help_word(command) && arguments.size() == 1) {
        return HelpCommand{};
    }
    return SetupUsageError{"unknown command " + argument_as_shown(command)};
}

} // namespace tolvek::setup
