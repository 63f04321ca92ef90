// The SID of the user this process runs as: the one the helper's service must be installed
// for so that it admits this user's programs. (Under Wine every process runs as one user.)

#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "demo_steps.h"
#include "service/user_sid_win.h"

namespace tolvek::demo {

void print_user_sid(Account& account)
{
    const std::optional<std::string> sid = own_user_sid();
    if (account.expect(sid.has_value(), "this process's token names no user SID")) {
        std::printf("%s\n", sid->c_str());
    }
}

} // namespace tolvek::demo
