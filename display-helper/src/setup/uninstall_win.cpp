#include "setup/uninstall_win.h"

namespace tolvek {

Status uninstall()
{
    return Error{"uninstall is not built yet"};
}

} // namespace tolvek
