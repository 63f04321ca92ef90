#pragma once

// One admitted pipe connection, served from its first byte to its end: request lines in,
// one reply line out for each, and the connection's virtual monitors, which live exactly as
// long as the connection.

#include <windows.h>

#include <cstdint>

#include "service/service_state_win.h"

namespace tolvek {

// Serves the connection until the client goes, a framing rule or an I/O error ends it, or
// the stop path cancels its I/O and disconnects it (CancelIoEx + DisconnectNamedPipe on
// `pipe` from another thread). Then closes every monitor it made, removes `connection_id`
// from the registry and leaves the live count; the session that leaves it at 0 asks the
// service to stop.
//
// `pipe` is a connected byte-mode pipe opened for overlapped I/O; `pipe_event` is its
// manual-reset event. Both stay owned by the caller, which closes them after this returns.
void run_session(PipeServerState& state, std::uint64_t connection_id, HANDLE pipe,
                 HANDLE pipe_event) noexcept;

} // namespace tolvek
