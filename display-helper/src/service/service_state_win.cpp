#include "service/service_state_win.h"

#include <optional>

namespace tolvek {
namespace {

// A process-wide optional value behind its own mutex.
template <class T>
class Slot {
public:
    void publish(T value)
    {
        const std::lock_guard lock{mutex_};
        value_ = value;
    }

    void withdraw()
    {
        const std::lock_guard lock{mutex_};
        value_.reset();
    }

    [[nodiscard]] std::optional<T> copy()
    {
        const std::lock_guard lock{mutex_};
        return value_;
    }

    // Runs `action` on the value, if there is one, while the mutex is held.
    template <class Action>
    void with_value(Action&& action)
    {
        const std::lock_guard lock{mutex_};
        if (value_) {
            action(*value_);
        }
    }

private:
    std::mutex mutex_;
    std::optional<T> value_;
};

Slot<SERVICE_STATUS_HANDLE> status_handle_slot;
Slot<HANDLE> stop_event_slot;

} // namespace

void report_status(DWORD state)
{
    const std::optional<SERVICE_STATUS_HANDLE> handle = status_handle_slot.copy();
    if (!handle) {
        return;
    }
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = 0; // also after a failure: the log carries the reason
    status.dwServiceSpecificExitCode = 0;
    status.dwCheckPoint = 0;
    status.dwWaitHint = 5000;
    SetServiceStatus(*handle, &status); // a failure leaves nothing to do
}

void signal_stop()
{
    // SetEvent under the mutex: the holder cannot withdraw and close the event meanwhile.
    stop_event_slot.with_value([](HANDLE event) { SetEvent(event); });
}

void publish_status_handle(SERVICE_STATUS_HANDLE handle)
{
    status_handle_slot.publish(handle);
}

void withdraw_status_handle()
{
    status_handle_slot.withdraw();
}

void publish_stop_event(HANDLE stop_event)
{
    stop_event_slot.publish(stop_event);
}

void withdraw_stop_event()
{
    stop_event_slot.withdraw();
}

} // namespace tolvek
