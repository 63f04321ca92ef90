#pragma once

// The helper as a real service of the test's Wine prefix, seen from a test: registered with
// the service control manager, started and stopped there, its log read back, and clients on
// its pipe.

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "helper_owners_win.h"
#include "support/pipe_client_win.h"
#include "tolvek/owners_win.h"

namespace tolvek::testing {

// Wine's service manager gives its services this ProgramData, so the service's log is
// C:\users\Public\Tolvek\display-helper.log.
inline constexpr wchar_t kServiceProgramData[] = L"C:\\users\\Public";

// The helper, tolvek-display-helper.exe beside the test, registered as the service
// kServiceName with the command line `"<helper>" service <sid_argument>`. A
// leftover of an earlier run is removed first; the service is removed again when the object
// goes. The test process must stay alive while the service
// runs: Wine shuts a prefix's services down once its last ordinary process has gone.
class HelperService {
public:
    explicit HelperService(std::string_view sid_argument);
    ~HelperService();
    HelperService(const HelperService&) = delete;
    HelperService& operator=(const HelperService&) = delete;

    // Whether the service control manager accepted the registration.
    [[nodiscard]] bool registered() const { return service_.valid(); }

    [[nodiscard]] bool start();
    // Sends a control code; the Win32 error of ControlService, or 0.
    DWORD control(DWORD code);

    [[nodiscard]] SERVICE_STATUS_PROCESS status() const;

    // Waits until the service reports `state`; the status last seen, which has another state
    // when the time ran out.
    SERVICE_STATUS_PROCESS wait_for_state(DWORD state, std::chrono::milliseconds timeout) const;

private:
    UniqueServiceHandle manager_;
    UniqueServiceHandle service_;
};

// Waits on the service manager's notification until the helper's service reports `state`;
// the status last seen, which has another state when the time ran out. `manager` needs
// SC_MANAGER_CONNECT.
[[nodiscard]] SERVICE_STATUS_PROCESS
wait_for_helper_service_state(SC_HANDLE manager, DWORD state, std::chrono::milliseconds timeout);

// The messages (timestamps taken off) that the service writes to its log,
// C:\users\Public\Tolvek\display-helper.log, from the moment this object is made: it
// removes what an earlier test left there.
class ServiceLog {
public:
    ServiceLog();

    [[nodiscard]] std::vector<std::string> messages() const;

    // Waits until `message` is among the messages `times` times; false when the time ran out.
    [[nodiscard]] bool wait_for(std::string_view message, std::chrono::milliseconds timeout,
                                std::size_t times = 1) const;

    [[nodiscard]] std::size_t count(std::string_view message) const;
};

// The processor time a process spends within the next `window` (or until it ends).
[[nodiscard]] std::chrono::milliseconds process_cpu_time(DWORD process_id,
                                                         std::chrono::milliseconds window);

// Opens the helper's pipe, waiting for it to exist or for a free instance; nothing when
// the time ran out first.
[[nodiscard]] std::optional<PipeClient> open_helper_pipe(std::chrono::milliseconds timeout);

// Writes `line` and a line feed and reads the reply line, given without its line feed.
[[nodiscard]] std::optional<std::string> request(PipeClient& client, std::string_view line);

} // namespace tolvek::testing
