#pragma once

// A service as the service control manager holds it: its status, its configuration, a wait
// until it reports a state, and whether the manager has dropped it. What a client, a setup
// program or a test reads about a service, with the rights a user may have been given.
// Link tolvek_service_status.

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

namespace tolvek {

// The service's status and process; nothing when the manager would not tell. `service`
// needs SERVICE_QUERY_STATUS.
[[nodiscard]] std::optional<SERVICE_STATUS_PROCESS> query_service_status(SC_HANDLE service);

// What QueryServiceConfigW reports of a service.
struct ServiceConfiguration {
    DWORD service_type = 0;
    DWORD start_type = 0;
    DWORD error_control = 0;
    std::wstring binary_path;
    std::wstring display_name;
};

// Nothing when the manager would not tell. `service` needs SERVICE_QUERY_CONFIG.
[[nodiscard]] std::optional<ServiceConfiguration> query_service_configuration(SC_HANDLE service);

// Waits on the manager's notification until the service `name` reports `state`, at most
// `timeout`; gives the status last seen, which has another state when the time ran out, and
// the state 0 when the service could not be queried at all. `manager` needs
// SC_MANAGER_CONNECT.
[[nodiscard]] SERVICE_STATUS_PROCESS wait_for_service_state(SC_HANDLE manager, const char16_t* name,
                                                            DWORD state,
                                                            std::chrono::milliseconds timeout);

// Whether the manager holds no service `name`, asked until `timeout` has passed: a deleted
// service goes once its last handle has closed, and the manager signals nothing then.
[[nodiscard]] bool service_gone_within(const char16_t* name, std::chrono::milliseconds timeout);

} // namespace tolvek
