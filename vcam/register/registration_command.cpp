#include "registration_command.h"

namespace tolvek::vcam {

RegistrationCommand select_registration_command(const std::vector<std::u16string>& arguments)
{
    if (arguments.size() == 1 && arguments[0] == u"register") {
        return RegisterCamera{};
    }
    if (arguments.size() == 2 && arguments[0] == u"register" && !arguments[1].empty()) {
        return RegisterCamera{arguments[1]};
    }
    if (arguments.size() == 1 && arguments[0] == u"unregister") {
        return UnregisterCamera{};
    }
    return RegistrationUsageError{};
}

} // namespace tolvek::vcam
