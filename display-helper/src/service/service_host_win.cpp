#include "service/service_host_win.h"

namespace tolvek {

Status run_dispatcher(std::string)
{
    return Error{"the service host is not built yet"};
}

} // namespace tolvek
