#include "helper_connector_win.h"

#include <windows.h>

#include <atomic>
#include <optional>
#include <thread>
#include <utility>

#include "client_errors.h"
#include "connect_rules.h"
#include "pipe_connection_win.h"
#include "service_name.h"
#include "tolvek/error_text_win.h"
#include "tolvek/owners_win.h"
#include "tolvek/service_status_win.h"
#include "tolvek/wide_text_win.h"

namespace tolvek::display {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Nothing signals a pipe that appears, so while the service starts the pipe is tried at this
// pace; the service opens it within milliseconds of reporting that it runs.
constexpr auto kPipePollInterval = 5ms;

// The service as this user may reach it: start it and ask how it is.
struct ServiceAccess {
    UniqueServiceHandle manager;
    UniqueServiceHandle service;
};

ClientResult<ServiceAccess> open_service()
{
    ServiceAccess access;
    access.manager.reset(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!access.manager) {
        return no_service_manager_error(win32_error_text(GetLastError()));
    }
    access.service.reset(OpenServiceW(access.manager.get(), as_wide(kServiceName),
                                      SERVICE_START | SERVICE_QUERY_STATUS));
    if (!access.service) {
        switch (const DWORD error = GetLastError()) {
        case ERROR_SERVICE_DOES_NOT_EXIST:
            return not_installed_error();
        case ERROR_ACCESS_DENIED:
            return service_access_denied_error();
        default:
            return service_open_error(win32_error_text(error));
        }
    }
    return access;
}

ServiceSnapshot snapshot(SC_HANDLE service)
{
    const std::optional<SERVICE_STATUS_PROCESS> status = query_service_status(service);
    if (!status) {
        return {}; // as stopped: the next step starts it, and the start says what is wrong
    }
    switch (status->dwCurrentState) {
    case SERVICE_STOPPED:
        return {ServiceRunState::stopped, 0};
    case SERVICE_START_PENDING:
        return {ServiceRunState::starting, status->dwProcessId};
    case SERVICE_STOP_PENDING:
        return {ServiceRunState::stopping, status->dwProcessId};
    default: // running; the helper accepts no pause
        return {ServiceRunState::running, status->dwProcessId};
    }
}

struct PipeAttempt {
    UniqueHandle pipe;
    PipeOpen outcome = PipeOpen::failed;
    DWORD error = 0;
};

PipeAttempt open_pipe()
{
    PipeAttempt attempt;
    // Identification only: the helper learns who the client is but cannot act as it.
    attempt.pipe.reset(CreateFileW(
        as_wide(kHelperPipeName), GENERIC_READ | GENERIC_WRITE,
        0,       // no sharing
        nullptr, // default security
        OPEN_EXISTING, FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
        nullptr));
    if (attempt.pipe) {
        attempt.outcome = PipeOpen::opened;
        return attempt;
    }
    attempt.error = GetLastError();
    switch (attempt.error) {
    case ERROR_FILE_NOT_FOUND:
        attempt.outcome = PipeOpen::missing;
        break;
    case ERROR_PIPE_BUSY:
        attempt.outcome = PipeOpen::busy;
        break;
    case ERROR_ACCESS_DENIED:
        attempt.outcome = PipeOpen::denied;
        break;
    default:
        attempt.outcome = PipeOpen::failed;
        break;
    }
    return attempt;
}

// Whether the server still holds its end of a connected instance; a peek reads nothing.
ServerEnd server_end(HANDLE pipe)
{
    DWORD available = 0;
    return PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) ? ServerEnd::open
                                                                         : ServerEnd::closed;
}

std::chrono::milliseconds left_until(Clock::time_point deadline)
{
    return std::max(0ms,
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
}

} // namespace

HelperConnector::HelperConnector(std::chrono::milliseconds wait_limit,
                                 std::chrono::milliseconds reply_limit)
    : wait_limit_(wait_limit), reply_limit_(reply_limit)
{
}

ClientResult<std::unique_ptr<Connection>> HelperConnector::connect(EndHandler on_end)
{
    const auto deadline = Clock::now() + wait_limit_;
    ClientResult<ServiceAccess> access = open_service();
    if (!access) {
        return std::move(access).error();
    }
    const SC_HANDLE service = access.value().service.get();
    StartRequest start = StartRequest::none;
    for (;;) {
        PipeAttempt attempt = open_pipe();
        const ServiceSnapshot before = snapshot(service);
        switch (step_after_open(attempt.outcome, before, start)) {
        case ConnectStep::check_server: {
            ULONG server = 0;
            if (!GetNamedPipeServerProcessId(attempt.pipe.get(), &server)) {
                return pipe_error("the helper's pipe names no server process",
                                  win32_error_text(GetLastError()));
            }
            const ServerVerdict verdict =
                judge_server(server, before, server_end(attempt.pipe.get()));
            if (verdict == ServerVerdict::impostor) {
                return impostor_error(server);
            }
            if (verdict == ServerVerdict::retry) {
                std::this_thread::sleep_for(kPipePollInterval);
                break;
            }
            // The end of the connection is news only once the ping has answered; an end
            // before that is judged here.
            auto armed = std::make_shared<std::atomic<bool>>(false);
            ClientResult<std::unique_ptr<PipeConnection>> connection = PipeConnection::start(
                std::move(attempt.pipe),
                [armed, on_end] {
                    if (armed->load()) {
                        on_end();
                    }
                },
                reply_limit_);
            if (!connection) {
                return std::move(connection).error();
            }
            ClientResult<std::string> version = ping_over(*connection.value());
            armed->store(true);
            if (version && !connection.value()->ended()) {
                return std::unique_ptr<Connection>{std::move(connection).value()};
            }
            if (!version && version.error().kind != ErrorKind::connection_lost) {
                return std::move(version).error();
            }
            if (meaning_of_early_end(server, snapshot(service)) ==
                EarlyEndMeaning::dropped_as_another_user) {
                return dropped_at_once_error();
            }
            break; // the service went meanwhile: start again
        }
        case ConnectStep::start_service:
            if (StartServiceW(service, 0, nullptr)) {
                start = StartRequest::accepted;
                break;
            }
            switch (const DWORD error = GetLastError()) {
            case ERROR_SERVICE_ALREADY_RUNNING:
            case ERROR_SERVICE_CANNOT_ACCEPT_CTRL: // on its way out; started again once stopped
                start = StartRequest::already_running;
                std::this_thread::sleep_for(kPipePollInterval);
                break;
            default:
                return start_refused_error(win32_error_text(error));
            }
            break;
        case ConnectStep::wait_for_pipe:
            if (Clock::now() >= deadline) {
                return pipe_never_opened_error(wait_limit_);
            }
            std::this_thread::sleep_for(kPipePollInterval);
            break;
        case ConnectStep::wait_for_instance: {
            const auto left = left_until(deadline);
            if (left <= 0ms) {
                return pipe_busy_error(wait_limit_);
            }
            // Ends when an instance is free or the time is up; the open is then tried again.
            WaitNamedPipeW(as_wide(kHelperPipeName),
                           static_cast<DWORD>(std::max(left, 1ms).count()));
            break;
        }
        case ConnectStep::fail_denied:
            return pipe_access_denied_error();
        case ConnectStep::fail_stopped:
            return stopped_as_it_started_error();
        case ConnectStep::fail:
            return pipe_error("the helper's pipe would not open", win32_error_text(attempt.error));
        }
        if (Clock::now() >= deadline) {
            return attempt.outcome == PipeOpen::busy ? pipe_busy_error(wait_limit_)
                                                     : pipe_never_opened_error(wait_limit_);
        }
    }
}

} // namespace tolvek::display
