#include "setup/uninstall_win.h"

#include <windows.h>

#include "helper_owners_win.h"
#include "log.h"
#include "setup/driver_package_win.h"
#include "setup/service_configuration.h"
#include "setup/uninstall_outcome.h"
#include "tolvek/error_text_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

// Asks the service to stop and deletes it; the system removes it once it has stopped.
Status remove_service()
{
    const UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    if (!manager) {
        return win32_failure("no service manager: ", GetLastError());
    }
    const UniqueServiceHandle service{OpenServiceW(manager.get(), as_wide(kServiceName),
                                                   DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS)};
    if (!service) {
        const DWORD error = GetLastError();
        return unopened_service_outcome(error, win32_error_text(error));
    }
    // A service that is not running refuses the request; deletion goes on either way, and
    // nothing waits for the stop.
    SERVICE_STATUS status{};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    if (!DeleteService(service.get())) {
        return win32_failure("the service would not be deleted: ", GetLastError());
    }
    return success();
}

} // namespace

Status uninstall()
{
    Status service = remove_service();
    Status driver = remove_driver_package();
    log_line(uninstall_log_line(service, driver));
    return uninstall_result(std::move(service), std::move(driver));
}

} // namespace tolvek
