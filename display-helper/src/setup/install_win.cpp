#include "setup/install_win.h"

namespace tolvek {

Status install(const std::string&)
{
    return Error{"install is not built yet"};
}

} // namespace tolvek
