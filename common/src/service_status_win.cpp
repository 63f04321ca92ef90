#include "tolvek/service_status_win.h"

#include <cstdint>
#include <thread>
#include <vector>

#include "tolvek/owners_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

using Clock = std::chrono::steady_clock;

// How often service_gone_within asks again.
constexpr std::chrono::milliseconds kGonePollInterval{50};

void CALLBACK status_changed(void* parameter)
{
    auto* notify = static_cast<SERVICE_NOTIFYW*>(parameter);
    *static_cast<bool*>(notify->pContext) = true;
}

} // namespace

std::optional<SERVICE_STATUS_PROCESS> query_service_status(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                              sizeof status, &needed)) {
        return std::nullopt;
    }
    return status;
}

std::optional<ServiceConfiguration> query_service_configuration(SC_HANDLE service)
{
    DWORD needed = 0;
    QueryServiceConfigW(service, nullptr, 0, &needed); // learns the size only
    if (needed == 0) {
        return std::nullopt;
    }
    // QUERY_SERVICE_CONFIGW holds pointers, so the buffer is aligned for them.
    std::vector<std::uintptr_t> buffer((needed + sizeof(std::uintptr_t) - 1) /
                                       sizeof(std::uintptr_t));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service, config, needed, &needed)) {
        return std::nullopt;
    }
    return ServiceConfiguration{config->dwServiceType, config->dwStartType, config->dwErrorControl,
                                config->lpBinaryPathName ? config->lpBinaryPathName : L"",
                                config->lpDisplayName ? config->lpDisplayName : L""};
}

// The wait has a service handle of its own: closing it cancels a notification that has not
// come when the time runs out.
SERVICE_STATUS_PROCESS wait_for_service_state(SC_HANDLE manager, const char16_t* name, DWORD state,
                                              std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    UniqueServiceHandle watch{OpenServiceW(manager, as_wide(name), SERVICE_QUERY_STATUS)};
    bool changed = false;
    SERVICE_NOTIFYW notify{};
    notify.dwVersion = SERVICE_NOTIFY_STATUS_CHANGE;
    notify.pfnNotifyCallback = status_changed;
    notify.pContext = &changed;
    const DWORD mask = 1u << (state - 1); // SERVICE_NOTIFY_STOPPED is 1 for SERVICE_STOPPED, ...
    while (watch && NotifyServiceStatusChangeW(watch.get(), mask, &notify) == ERROR_SUCCESS) {
        // The notification comes as an APC to this thread, at once if the state holds.
        for (auto now = Clock::now(); !changed && now < deadline; now = Clock::now()) {
            SleepEx(
                static_cast<DWORD>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count()),
                TRUE /* alertable */);
        }
        if (!changed || notify.ServiceStatus.dwCurrentState == state) {
            break;
        }
        changed = false;
    }
    SERVICE_STATUS_PROCESS status{}; // state 0: never one that was asked for
    if (watch) {
        status = query_service_status(watch.get()).value_or(status);
    }
    watch.reset();
    SleepEx(0, TRUE); // runs a notification queued before the close, while `notify` lives
    return status;
}

bool service_gone_within(const char16_t* name, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // A manager handle of its own each time: the answer must be the manager's present one.
        const UniqueServiceHandle manager{OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT)};
        const UniqueServiceHandle service{
            OpenServiceW(manager.get(), as_wide(name), SERVICE_QUERY_STATUS)};
        if (!service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST) {
            return true;
        }
        if (Clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(kGonePollInterval);
    }
}

} // namespace tolvek
