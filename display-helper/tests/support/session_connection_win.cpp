#include "support/session_connection_win.h"

#include <atomic>

#include "service/connection_session_win.h"

namespace tolvek::testing {
namespace {

// How long a connect that the system reports pending may take, with the client already there.
constexpr DWORD kConnectWaitMs = 5000;

std::wstring unique_pipe_name()
{
    static std::atomic<int> count{0};
    return L"\\\\.\\pipe\\tolvek-session-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(++count);
}

} // namespace

std::optional<ConnectedPipe> connect_pipe(std::string& error)
{
    const std::wstring name = unique_pipe_name();
    ConnectedPipe pipe;
    pipe.server.reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                       PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT |
                                           PIPE_REJECT_REMOTE_CLIENTS,
                                       4,   // instances
                                       512, // out buffer size
                                       512, // in buffer size
                                       0, nullptr));
    if (!pipe.server) {
        error = "CreateNamedPipeW failed: " + std::to_string(GetLastError());
        return std::nullopt;
    }
    pipe.server_event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    pipe.client = std::make_unique<PipeClient>(name);
    if (!pipe.server_event || !pipe.client->connected()) {
        error = "the client end would not open: " + std::to_string(pipe.client->open_error());
        return std::nullopt;
    }
    // The client is there already, so the connect normally ends at once. Should the system
    // still report it pending, the record on this stack stays in use until the connect has
    // ended: wait for that, and cancel it when it takes too long.
    OVERLAPPED overlapped{};
    overlapped.hEvent = pipe.server_event.get();
    if (!ConnectNamedPipe(pipe.server.get(), &overlapped)) {
        const DWORD connect_error = GetLastError();
        if (connect_error == ERROR_IO_PENDING) {
            if (WaitForSingleObject(overlapped.hEvent, kConnectWaitMs) != WAIT_OBJECT_0) {
                CancelIoEx(pipe.server.get(), &overlapped); // fails when it has just ended
            }
            DWORD unused = 0;
            if (!GetOverlappedResult(pipe.server.get(), &overlapped, &unused, TRUE /* wait */)) {
                error = "ConnectNamedPipe did not complete: " + std::to_string(GetLastError());
                return std::nullopt;
            }
        } else if (connect_error != ERROR_PIPE_CONNECTED) {
            error = "ConnectNamedPipe failed: " + std::to_string(connect_error);
            return std::nullopt;
        }
    }
    return pipe;
}

SessionConnection::SessionConnection(PipeServerState& state)
    : ended_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    std::optional<ConnectedPipe> pipe = connect_pipe(setup_error_);
    if (!pipe) {
        client_ = std::make_unique<PipeClient>(L""); // a client that is not connected
        SetEvent(ended_.get());
        return;
    }
    client_ = std::move(pipe->client);

    const std::uint64_t id = state.next_connection_id.fetch_add(1);
    state.live_connections.fetch_add(1);
    state.admitted_connections.fetch_add(1);
    {
        const std::lock_guard lock{state.registry_lock};
        state.connection_registry.emplace(id, pipe->server.get());
    }
    thread_ = std::thread{[&state, id, this, server = std::move(pipe->server),
                           server_event = std::move(pipe->server_event)]() mutable {
        run_session(state, id, server.get(), server_event.get());
        server.reset();
        server_event.reset();
        SetEvent(ended_.get());
    }};
}

SessionConnection::~SessionConnection()
{
    client_->close();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool SessionConnection::ended_within(DWORD timeout_ms) const
{
    return WaitForSingleObject(ended_.get(), timeout_ms) == WAIT_OBJECT_0;
}

} // namespace tolvek::testing
