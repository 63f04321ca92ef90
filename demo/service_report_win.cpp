// The helper's service as the service manager holds it: after install its configuration and
// state, after uninstall that it is gone.

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

#include "demo_steps.h"
#include "helper_owners_win.h"
#include "service_name.h"
#include "support/helper_service_win.h"
#include "support/setup_test_support_win.h"
#include "tolvek/text_encoding.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::demo {
namespace {

using namespace std::chrono_literals;

// The service manager drops a deleted service once its last handle has closed.
constexpr auto kRemovalLimit = 10s;

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

std::optional<DWORD> current_state()
{
    const UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
    const UniqueServiceHandle service{
        OpenServiceW(manager.get(), as_wide(kServiceName), SERVICE_QUERY_STATUS)};
    SERVICE_STATUS status{};
    if (!service || !QueryServiceStatus(service.get(), &status)) {
        return std::nullopt;
    }
    return status.dwCurrentState;
}

void report_installed(Account& account)
{
    const std::optional<testing::HelperServiceConfiguration> configuration =
        testing::query_helper_service();
    const std::optional<DWORD> state = current_state();
    if (!account.expect(configuration && state, "the service manager holds no service "
                                                "TolvekDisplayHelper")) {
        return;
    }
    account.line("the service manager holds TolvekDisplayHelper (\"" +
                 narrow(configuration->display_name) + "\"): " + std::string{state_word(*state)} +
                 ", " + std::string{start_type_words(configuration->start_type)} +
                 (configuration->service_type == SERVICE_WIN32_OWN_PROCESS
                      ? ", in a process of its own"
                      : ", sharing a process"));
    account.detail("command line: " + narrow(configuration->binary_path));
    account.expect(configuration->service_type == SERVICE_WIN32_OWN_PROCESS &&
                       configuration->start_type == SERVICE_DEMAND_START,
                   "the service should run in a process of its own and start on demand");
}

void report_gone(Account& account)
{
    if (account.expect(testing::helper_service_gone_within(kRemovalLimit),
                       "the service manager still holds TolvekDisplayHelper after " +
                           seconds_text(kRemovalLimit, 0))) {
        account.line("the service manager no longer holds TolvekDisplayHelper");
    }
}

} // namespace

void report_helper_service(Account& account, ServiceExpectation expectation)
{
    if (expectation == ServiceExpectation::installed) {
        report_installed(account);
    } else {
        report_gone(account);
    }
}

} // namespace tolvek::demo
