#pragma once

// The pipe listener's decisions, free of the platform: when an idle service stops, what
// follows the end of a wait for a client, and what a pipe that is busy means. The Windows
// shell (pipe_listener_win.cpp) measures time and waits; these functions decide.

#include <chrono>
#include <cstdint>

namespace tolvek {

// The longest wait for a client before the instance is renewed, and the time after start
// at which a service that admitted nobody stops. The service uses these; tests of the
// listener shorten them.
struct ListenerTimings {
    std::chrono::milliseconds client_wait{60'000};
    std::chrono::milliseconds idle_limit{60'000};
};

// Win32 ERROR_PIPE_BUSY: every instance the pipe allows is taken.
inline constexpr std::uint32_t kPipeBusyError = 231;

// Whether the listener ends because nobody was ever admitted: true once `idle_limit` has
// passed since the listener started and no connection was admitted. The clock is never
// reset, and the rule is dead after the first admission.
[[nodiscard]] bool idle_stop_due(std::uint32_t admitted_connections,
                                 std::chrono::milliseconds since_start,
                                 std::chrono::milliseconds idle_limit);

// How the wait for a client on one instance ended.
enum class WaitEnd {
    client_connected,
    client_gone, // a client opened the instance and closed it again before it was offered
    stop_signalled,
    timed_out, // also a wait that failed: the instance is given up either way
};

enum class ListenerStep {
    check_client,   // someone connected: see whether it is the served user
    stop,           // the stop event is set: end the listener
    stop_idle,      // nothing admitted within the idle limit: end the listener
    renew_instance, // close the instance and offer a fresh one
};

[[nodiscard]] ListenerStep step_after_wait(WaitEnd end, std::uint32_t admitted_connections,
                                           std::chrono::milliseconds since_start,
                                           std::chrono::milliseconds idle_limit);

enum class OpenFailureStep {
    wait_for_a_session_to_end, // every instance is held by a live session
    end_listener,              // the pipe cannot be offered: the listener ends with the error
};

// What follows a failed creation of a pipe instance. A busy pipe while sessions of this
// listener hold instances is the normal state of a full server: it waits until one of them
// gives its instance back. Busy with none of ours held means another process holds the
// name, and that, like every other failure, ends the listener.
[[nodiscard]] OpenFailureStep step_after_open_failure(std::uint32_t error_code,
                                                      std::uint32_t instances_held_by_sessions);

} // namespace tolvek
