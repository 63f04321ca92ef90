#pragma once

// The server side of the named pipe: one listener offers an instance at a time, admits the
// local processes of the served user, and runs each admitted connection's session on a
// thread of its own until the service stops.

#include <windows.h>

#include <functional>
#include <thread>

#include "service/listener_rules.h"
#include "service/service_state_win.h"
#include "service_name.h"
#include "tolvek/result.h"
#include "tolvek/wide_text_win.h"

namespace tolvek {

inline const wchar_t* const kPipeName = as_wide(kHelperPipeName);

// Starts the thread of one admitted session, or gives the reason it could not.
using SessionThreadStarter = std::function<Result<std::thread>(std::function<void()> body)>;

// A plain std::thread; it fails only when the system has no thread or no memory to give.
[[nodiscard]] Result<std::thread> start_session_thread(std::function<void()> body);

// What the service takes as it is and tests may change.
struct ListenerSeams {
    ListenerTimings timings;
    SessionThreadStarter start_thread = start_session_thread;
};

// Runs the listener on the calling thread until the stop event is set, the idle rule ends
// it, or it fails. Then, whatever its result, cancels every session, joins every session
// thread it started, and returns the listener's result.
[[nodiscard]] Status serve_connections(PipeServerState& state, HANDLE stop_event,
                                       const ListenerSeams& seams = {});

// Aborts the pending I/O of every registered connection and disconnects its client, so that
// every session reaches its end. Holds the registry lock for the whole pass.
void cancel_all_connections(PipeServerState& state);

} // namespace tolvek
