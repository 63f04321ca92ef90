#pragma once

// Connections as the pipe listener hands them to sessions, for tests and benchmarks that
// drive run_session without the listener: a pipe instance made the way the listener makes
// it, with a connected client end.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "service/service_state_win.h"
#include "support/pipe_client_win.h"
#include "tolvek/owners_win.h"

namespace tolvek::testing {

// A server end as the listener creates it (duplex, overlapped, byte mode, four instances,
// 512-byte buffers, remote clients rejected) with its manual-reset event, connected to a
// client end of this process.
struct ConnectedPipe {
    UniqueHandle server;
    UniqueHandle server_event;
    std::unique_ptr<PipeClient> client;
};

// Nothing when a step fails; `error` then names it.
[[nodiscard]] std::optional<ConnectedPipe> connect_pipe(std::string& error);

// One admitted connection: counted and registered in `state` as the listener does it, and
// served by run_session on a thread of its own, which afterwards closes the pipe and then
// its event, as the listener's session thread does. Going away closes the client and waits
// for the session's end.
class SessionConnection {
public:
    explicit SessionConnection(PipeServerState& state);
    ~SessionConnection();
    SessionConnection(const SessionConnection&) = delete;
    SessionConnection& operator=(const SessionConnection&) = delete;

    // Empty when the pipe could not be set up; no session runs then.
    [[nodiscard]] const std::string& setup_error() const { return setup_error_; }

    [[nodiscard]] PipeClient& client() { return *client_; }

    [[nodiscard]] bool ended_within(DWORD timeout_ms) const;

private:
    std::unique_ptr<PipeClient> client_;
    std::string setup_error_;
    UniqueHandle ended_;
    std::thread thread_;
};

} // namespace tolvek::testing
