// The helper's service as the service manager holds it: after install its configuration and
// state, while monitors are held that it runs, after the last connection that it stopped by
// itself, after uninstall that it is gone.

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

#include "demo_steps.h"
#include "service_name.h"
#include "tolvek/owners_win.h"
#include "tolvek/service_status_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::demo {
namespace {

using namespace std::chrono_literals;

// The service manager drops a deleted service once its last handle has closed.
constexpr auto kRemovalLimit = 10s;
// The service stops within a second of its last connection going.
constexpr auto kStopLimit = 20s;

std::string_view state_word(DWORD state)
{
    switch (state) {
    case SERVICE_STOPPED:
        return "stopped";
    case SERVICE_START_PENDING:
        return "starting";
    case SERVICE_STOP_PENDING:
        return "stopping";
    case SERVICE_RUNNING:
        return "running";
    default:
        return "in another state";
    }
}

std::string_view start_type_words(DWORD start_type)
{
    switch (start_type) {
    case SERVICE_DEMAND_START:
        return "started on demand";
    case SERVICE_AUTO_START:
        return "started at boot";
    case SERVICE_DISABLED:
        return "disabled";
    default:
        return "another start type";
    }
}

std::string narrow(const std::wstring& text)
{
    return utf16_to_utf8_lossy(as_utf16(text));
}

// The helper's service with the rights to read how it is and how it is configured.
struct HelperServiceHandles {
    UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    UniqueServiceHandle service{OpenServiceW(manager.get(), as_wide(kServiceName),
                                             SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS)};
};

void report_installed(Account& account)
{
    const HelperServiceHandles handles;
    const std::optional<ServiceConfiguration> configuration =
        query_service_configuration(handles.service.get());
    const std::optional<SERVICE_STATUS_PROCESS> status =
        query_service_status(handles.service.get());
    if (!account.expect(configuration && status, "the service manager holds no service "
                                                 "TolvekDisplayHelper")) {
        return;
    }
    account.line(
        "the service manager holds TolvekDisplayHelper (\"" + narrow(configuration->display_name) +
        "\"): " + std::string{state_word(status->dwCurrentState)} + ", " +
        std::string{start_type_words(configuration->start_type)} +
        (configuration->service_type == SERVICE_WIN32_OWN_PROCESS ? ", in a process of its own"
                                                                  : ", sharing a process"));
    account.detail("command line: " + narrow(configuration->binary_path));
    account.expect(configuration->service_type == SERVICE_WIN32_OWN_PROCESS &&
                       configuration->start_type == SERVICE_DEMAND_START,
                   "the service should run in a process of its own and start on demand");
}

void report_running(Account& account)
{
    const HelperServiceHandles handles;
    const std::optional<SERVICE_STATUS_PROCESS> status =
        query_service_status(handles.service.get());
    if (!account.expect(status.has_value(),
                        "the service manager holds no service TolvekDisplayHelper")) {
        return;
    }
    account.line("the service manager: TolvekDisplayHelper " +
                 std::string{state_word(status->dwCurrentState)} + ", process " +
                 std::to_string(status->dwProcessId));
    account.expect(status->dwCurrentState == SERVICE_RUNNING, "the service should be running");
}

void report_stopped(Account& account)
{
    const HelperServiceHandles handles;
    const SERVICE_STATUS_PROCESS status =
        wait_for_service_state(handles.manager.get(), kServiceName, SERVICE_STOPPED, kStopLimit);
    if (!account.expect(status.dwCurrentState == SERVICE_STOPPED,
                        "the service did not stop within " + seconds_text(kStopLimit, 0) +
                            " of its last connection going; it is " +
                            std::string{state_word(status.dwCurrentState)})) {
        return;
    }
    account.line("the service manager: TolvekDisplayHelper stopped by itself, exit code " +
                 std::to_string(status.dwWin32ExitCode));
    account.expect(status.dwWin32ExitCode == NO_ERROR, "the service should stop cleanly");
}

void report_gone(Account& account)
{
    if (account.expect(service_gone_within(kServiceName, kRemovalLimit),
                       "the service manager still holds TolvekDisplayHelper after " +
                           seconds_text(kRemovalLimit, 0))) {
        account.line("the service manager no longer holds TolvekDisplayHelper");
    }
}

} // namespace

void report_helper_service(Account& account, ServiceExpectation expectation)
{
    switch (expectation) {
    case ServiceExpectation::installed:
        report_installed(account);
        break;
    case ServiceExpectation::running:
        report_running(account);
        break;
    case ServiceExpectation::stopped:
        report_stopped(account);
        break;
    case ServiceExpectation::gone:
        report_gone(account);
        break;
    }
}

} // namespace tolvek::demo
