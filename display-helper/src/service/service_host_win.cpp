#include "service/service_host_win.h"

#include <windows.h>

#include <mutex>
#include <optional>
#include <string>

#include "log.h"
#include "service/pipe_listener_win.h"
#include "service/service_state_win.h"
#include "service/user_sid_win.h"
#include "service_name.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {
namespace {

// Text that is set once for the life of the process and read afterwards.
class SetOnceText {
public:
    // False when a value was set before; the first value stays.
    [[nodiscard]] bool set(std::string value)
    {
        const std::lock_guard lock{mutex_};
        if (value_) {
            return false;
        }
        value_ = std::move(value);
        return true;
    }

    [[nodiscard]] std::optional<std::string> get() const
    {
        const std::lock_guard lock{mutex_};
        return value_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<std::string> value_;
};

// The SID text of the command line, handed from run_dispatcher to the service main.
SetOnceText service_user_sid;

// Called on the dispatcher's thread; it only reports and signals, the service main's thread
// does the stopping.
DWORD WINAPI control_handler(DWORD control, DWORD /*event_type*/, void* /*event_data*/,
                             void* /*context*/) noexcept
{
    if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
        report_status(SERVICE_STOP_PENDING);
        signal_stop();
    }
    return NO_ERROR;
}

// Serves the user with a stop event published for the control handler and the sessions. The
// end runs in this order: the event leaves its slot, the pipe server's state goes, the event
// is closed; the caller releases the user's binary SID last.
Status serve_with_stop_event(const UserSid& user)
{
    const UniqueHandle stop_event{CreateEventW(nullptr, TRUE /* manual reset */, FALSE, nullptr)};
    if (!stop_event) {
        return Error{"no stop event"};
    }
    publish_stop_event(stop_event.get());
    PipeServerState state{user.text};
    log_line("listening for " + user.text);
    report_status(SERVICE_RUNNING);
    Status result = serve_connections(state, stop_event.get());
    // Out of the slot before the state and the event go: a late signal then finds nothing.
    withdraw_stop_event();
    return result;
}

// The service's run from start-pending on: the user, the stop event, the pipe server.
Status run_service()
{
    const std::optional<std::string> sid_text = service_user_sid.get();
    const std::optional<UserSid> user = sid_text ? parse_user_sid(*sid_text) : std::nullopt;
    if (!user) {
        return Error{"the service's command line names no user"};
    }
    return serve_with_stop_event(*user);
}

void WINAPI service_main(DWORD /*argc*/, wchar_t** /*argv: start parameters are ignored*/) noexcept
{
    const SERVICE_STATUS_HANDLE status_handle =
        RegisterServiceCtrlHandlerExW(as_wide(kServiceName), control_handler, nullptr);
    if (status_handle == nullptr) {
        log_line("the control handler would not register");
        return;
    }
    publish_status_handle(status_handle);
    report_status(SERVICE_START_PENDING);
    const Status outcome = run_service();
    log_line(outcome ? std::string{"stopped"} : "stopped: " + outcome.error().text);
    report_status(SERVICE_STOPPED);
    withdraw_status_handle();
}

} // namespace

Status run_dispatcher(std::string sid_text)
{
    if (!service_user_sid.set(std::move(sid_text))) {
        return Error{"the service was started twice in one process"};
    }
    SERVICE_TABLE_ENTRYW table[] = {
        {const_cast<wchar_t*>(as_wide(kServiceName)), service_main},
        {nullptr, nullptr},
    };
    if (!StartServiceCtrlDispatcherW(table)) {
        return Error{"the service control dispatcher refused: " +
                     win32_error_code_text(GetLastError())};
    }
    return success();
}

} // namespace tolvek
